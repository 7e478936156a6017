#include "background-request.h"

#include <QCoreApplication>
#include <QObject>
#include <QPointer>
#include <QThread>
#include <QThreadPool>
#include <QtConcurrent>

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace {

// The continuations are queued to this object rather than to the owners: it lives on the GUI thread
// until module unload, so a worker always posts to a live object and never looks at an owner, which
// the GUI thread may destroy at any moment. Destroying it at unload drops whatever is still queued,
// while the module's code (the functors' code) is still mapped.
QObject *g_context = nullptr;
// Guards g_context, g_inFlight and g_shutDown between the GUI thread and the workers.
std::mutex g_mutex;
std::condition_variable g_workerFinished;
int g_inFlight = 0;
bool g_shutDown = false;

} // namespace

bool runInBackground(QObject *owner, BackgroundWork work, BackgroundDone done)
{
	Q_ASSERT(owner && owner->thread() == QThread::currentThread());
	{
		std::lock_guard<std::mutex> lock(g_mutex);
		if (g_shutDown)
			return false;
		if (!g_context) {
			g_context = new QObject;
			g_context->setObjectName(QStringLiteral("TiplarkBackgroundRequests"));
		}
		++g_inFlight;
	}

	// Made here, on the GUI thread; the worker only carries it and hands it back.
	QPointer<QObject> guard(owner);
	auto finish = [guard = std::move(guard), done = std::move(done)](const HttpResponse &response) {
		if (guard)
			done(response);
	};

	auto worker = [work = std::move(work), finish = std::move(finish)]() mutable {
		bool skip;
		{
			std::lock_guard<std::mutex> lock(g_mutex);
			skip = g_shutDown;
		}
		HttpResponse response;
		if (!skip)
			response = work();

		std::lock_guard<std::mutex> lock(g_mutex);
		// The context cannot be destroyed while we hold the lock; once it is gone nobody may run.
		if (g_context) {
			QMetaObject::invokeMethod(
				g_context,
				[finish = std::move(finish), response = std::move(response)]() { finish(response); },
				Qt::QueuedConnection);
		}
		--g_inFlight;
		g_workerFinished.notify_all();
	};
	auto future = QtConcurrent::run(QThreadPool::globalInstance(), std::move(worker));
	Q_UNUSED(future) // nobody waits for the worker
	return true;
}

bool shutdownBackgroundRequests(int timeoutMs)
{
	CurlHelper::abortTransfers();
	QObject *context = nullptr;
	bool allFinished;
	{
		std::unique_lock<std::mutex> lock(g_mutex);
		g_shutDown = true;
		allFinished = g_workerFinished.wait_for(lock, std::chrono::milliseconds(timeoutMs),
							[] { return g_inFlight == 0; });
		context = g_context;
		g_context = nullptr;
	}
	// Drops the continuations still queued, unrun.
	delete context;
	return allFinished;
}

int backgroundRequestsInFlight()
{
	std::lock_guard<std::mutex> lock(g_mutex);
	return g_inFlight;
}
