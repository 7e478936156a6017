#pragma once

#include "remote/busy-limit.h"
#include "streamer-session.h"

#include <QObject>
#include <QReadWriteLock>

#include <array>
#include <atomic>

class SessionSnapshot;
struct obs_data;
struct proc_handler;

// The vendor "tiplark" of obs-websocket: its requests and events, for controller software and scripts.
// Requests arrive on obs-websocket's threads; they read the session's snapshot and queue actions to the
// session on the GUI thread, at most one of each kind at a time, so that a controller cannot flood OBS.
// Events are sent from the GUI thread. Nothing here carries a token, but donors' texts do, those awaiting
// moderation too: the streamer can switch the vendor off, and the choice is remembered.
class WebsocketVendor : public QObject {
	Q_OBJECT

public:
	// session and snapshot must outlive this object; all live on the GUI thread.
	// stop() must run before this object goes: at unload obs-websocket may be gone already.
	WebsocketVendor(StreamerSession *session, const SessionSnapshot *snapshot, QObject *parent = nullptr);

	// Once every module is loaded: finds obs-websocket and registers the vendor with its requests.
	// Without a usable obs-websocket, logs one line and does nothing else.
	void start();
	// While obs-websocket is still loaded: withdraws the requests, waits for any still running and
	// sends no more events. Safe to call more than once.
	void stop();

	enum class Request { GetState, SkipAlert, ModerateMessage, SetModeration };

	// The answer to one request, apart from obs-websocket's threads: for tests.
	void handle(Request request, obs_data *requestData, obs_data *responseData);

private:
	struct Handler {
		WebsocketVendor *vendor;
		Request request;
	};
	static void onRequest(obs_data *requestData, obs_data *responseData, void *handler);
	// ActionFinished for an action's end, or for one refused when it was about to start.
	void finished(const StreamerSession::Action &action);
	void emitEvent(const char *type, obs_data *data);

	StreamerSession *m_session;
	const SessionSnapshot *m_snapshot;
	proc_handler *m_procHandler = nullptr;
	void *m_vendor = nullptr;
	std::array<Handler, 4> m_handlers;
	// Held for reading while a request runs, for writing when the requests are withdrawn.
	QReadWriteLock m_requestsLock;
	bool m_open = false; // guarded by m_requestsLock
	// The session's remoteControlAllowed, for obs-websocket's threads: off, every request is refused and
	// no event is sent.
	std::atomic<bool> m_enabled;
	// Actions queued or running, by Request.
	BusyLimit<4> m_busy;
};
