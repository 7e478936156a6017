#include "http/transport.h"

#include <QObject>
#include <QPointer>
#include <QThread>
#include <QThreadPool>

namespace {
std::atomic<Transport *> g_current{nullptr};
} // namespace

Transport::Transport(const HostLibcurl *libcurl)
	: m_libcurl(libcurl),
	  // Once, before any worker thread can make a request: libcurl's own set-up is not thread-safe everywhere.
	  m_curlReady(libcurl && libcurl->global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK),
	  m_context(std::make_unique<QObject>())
{
	Q_ASSERT(!g_current.load());
	if (m_curlReady)
		m_connections = std::make_unique<ConnectionCache>(*libcurl);
	m_context->setObjectName(QStringLiteral("TiplarkBackgroundRequests"));
	m_readLane.setMaxThreadCount(READ_LANE_THREADS);
	m_actionLane.setMaxThreadCount(ACTION_LANE_THREADS);
	g_current.store(this);
}

Transport::~Transport()
{
	shutdown();
	m_readLane.waitForDone();
	m_actionLane.waitForDone();
	g_current.store(nullptr);
	m_connections.reset();
	if (m_curlReady)
		m_libcurl->global_cleanup();
}

Transport *Transport::current()
{
	return g_current.load();
}

bool Transport::run(QObject *owner, BackgroundWork work, BackgroundDone done, RequestLane lane)
{
	Q_ASSERT(owner && owner->thread() == QThread::currentThread());
	{
		std::lock_guard<std::mutex> lock(m_mutex);
		if (m_shutDown)
			return false;
		++m_inFlight;
	}

	// Made here, on the GUI thread; the worker only carries it and hands it back.
	QPointer<QObject> guard(owner);
	auto finish = [guard = std::move(guard), done = std::move(done)](const HttpResponse &response) {
		if (guard)
			done(response);
	};

	auto worker = [this, work = std::move(work), finish = std::move(finish)]() mutable {
		bool skip;
		{
			std::lock_guard<std::mutex> lock(m_mutex);
			skip = m_shutDown;
		}
		HttpResponse response;
		if (!skip)
			response = work();

		std::lock_guard<std::mutex> lock(m_mutex);
		// The context cannot be destroyed while we hold the lock; once it is gone nobody may run.
		if (m_context) {
			QMetaObject::invokeMethod(
				m_context.get(),
				[finish = std::move(finish), response = std::move(response)]() { finish(response); },
				Qt::QueuedConnection);
		}
		--m_inFlight;
		m_workerFinished.notify_all();
	};
	pool(lane).start(std::move(worker));
	return true;
}

bool Transport::shutdown(std::chrono::milliseconds timeout)
{
	const auto deadline = std::chrono::steady_clock::now() + timeout;
	m_aborted.store(true, std::memory_order_relaxed);
	std::unique_ptr<QObject> context;
	bool allFinished;
	{
		std::unique_lock<std::mutex> lock(m_mutex);
		m_shutDown = true;
		allFinished = m_workerFinished.wait_until(lock, deadline, [this] { return m_inFlight == 0; });
		context = std::move(m_context);
	}
	// Drops the continuations still queued, unrun.
	context.reset();
	// The lanes' threads go too: none may outlive the module's code.
	for (QThreadPool *lane : {&m_readLane, &m_actionLane}) {
		const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
			deadline - std::chrono::steady_clock::now());
		allFinished = allFinished && lane->waitForDone(int(qMax<qint64>(left.count(), 100)));
	}
	return allFinished;
}

int Transport::inFlight() const
{
	std::lock_guard<std::mutex> lock(m_mutex);
	return m_inFlight;
}
