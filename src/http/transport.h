#pragma once

#include "http/background-request.h"
#include "http/connection-cache.h"
#include "http/host-libcurl.h"

#include <QThreadPool>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

class QObject;

// Everything the plug-in's requests share, made at module load and ended at unload: libcurl's global
// set-up, the threads of both request lanes, the connection cache and the flag that cuts transfers short.
// At most one exists at a time; requests find it through current().
class Transport {
public:
	// How long unload waits for the workers: OBS unmaps the module's code once unload returns.
	static constexpr std::chrono::milliseconds UNLOAD_WAIT{2000};

	// On the GUI thread, before any request. Requests use libcurl's functions from this table; without
	// one (the system has no libcurl), each fails at once.
	explicit Transport(const HostLibcurl *libcurl = HostLibcurl::host());
	// Shuts down first when that was not done, then waits for every thread of the lanes: destroy it only
	// once shutdown() returned true where that wait must be short (module unload).
	~Transport();
	Transport(const Transport &) = delete;
	Transport &operator=(const Transport &) = delete;

	// The transport requests use; null while none exists.
	static Transport *current();

	// On the GUI thread: cuts every transfer in flight short, waits up to timeout for the workers and
	// drops every continuation still queued. No request runs afterwards. True when no worker is left.
	bool shutdown(std::chrono::milliseconds timeout = UNLOAD_WAIT);

	// What runInBackground does with this transport's lanes.
	bool run(QObject *owner, BackgroundWork work, BackgroundDone done, RequestLane lane);
	// Workers started and not yet finished (queued in a lane or running).
	int inFlight() const;

	// For the transfers, from any thread: whether they are to end now, and the connections they reuse
	// (null when libcurl could not be set up).
	bool aborted() const { return m_aborted.load(std::memory_order_relaxed); }
	ConnectionCache *connections() const { return m_connections.get(); }
	// The libcurl requests use; null when there is none, or it could not be set up.
	const HostLibcurl *libcurl() const { return m_curlReady ? m_libcurl : nullptr; }

private:
	QThreadPool &pool(RequestLane lane) { return lane == RequestLane::Read ? m_readLane : m_actionLane; }

	const HostLibcurl *const m_libcurl;
	const bool m_curlReady;
	std::unique_ptr<ConnectionCache> m_connections;
	std::atomic<bool> m_aborted{false};
	// Guards m_context, m_inFlight and m_shutDown between the GUI thread and the workers.
	mutable std::mutex m_mutex;
	std::condition_variable m_workerFinished;
	int m_inFlight = 0;
	bool m_shutDown = false;
	// The continuations are queued to this object rather than to the owners: it lives on the GUI thread
	// until shutdown, so a worker always posts to a live object and never looks at an owner, which the GUI
	// thread may destroy at any moment. Destroying it drops whatever is still queued.
	std::unique_ptr<QObject> m_context;
	// Declared last, so destroyed first: their threads end before what they use goes.
	QThreadPool m_readLane;
	QThreadPool m_actionLane;
};
