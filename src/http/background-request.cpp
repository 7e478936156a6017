#include "background-request.h"

#include <QCoreApplication>
#include <QObject>
#include <QPointer>
#include <QThread>
#include <QThreadPool>
#include <QtConcurrent>

#include <array>
#include <chrono>
#include <condition_variable>
#include <memory>
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
// One pool per lane, made on first use; only the GUI thread touches them.
std::array<std::unique_ptr<QThreadPool>, 2> g_pools;

QThreadPool *pool(RequestLane lane)
{
	std::unique_ptr<QThreadPool> &slot = g_pools[lane == RequestLane::Read ? 0 : 1];
	if (!slot) {
		slot = std::make_unique<QThreadPool>();
		slot->setMaxThreadCount(lane == RequestLane::Read ? READ_LANE_THREADS : ACTION_LANE_THREADS);
	}
	return slot.get();
}

} // namespace

bool runInBackground(QObject *owner, BackgroundWork work, BackgroundDone done, RequestLane lane)
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
	auto future = QtConcurrent::run(pool(lane), std::move(worker));
	Q_UNUSED(future) // nobody waits for the worker
	return true;
}

bool shutdownBackgroundRequests(int timeoutMs)
{
	const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
	CurlHelper::abortTransfers();
	QObject *context = nullptr;
	bool allFinished;
	{
		std::unique_lock<std::mutex> lock(g_mutex);
		g_shutDown = true;
		allFinished = g_workerFinished.wait_until(lock, deadline, [] { return g_inFlight == 0; });
		context = g_context;
		g_context = nullptr;
	}
	// Drops the continuations still queued, unrun.
	delete context;
	// The pools' threads go too: none may outlive the module's code. A pool that cannot finish is left
	// alone, as destroying it would wait for its stuck worker.
	for (std::unique_ptr<QThreadPool> &slot : g_pools) {
		if (!slot)
			continue;
		const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
			deadline - std::chrono::steady_clock::now());
		if (allFinished && slot->waitForDone(int(qMax<qint64>(left.count(), 100)))) {
			slot.reset();
			continue;
		}
		Q_UNUSED(slot.release())
		allFinished = false;
	}
	return allFinished;
}

int backgroundRequestsInFlight()
{
	std::lock_guard<std::mutex> lock(g_mutex);
	return g_inFlight;
}
