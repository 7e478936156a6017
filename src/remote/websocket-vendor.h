#pragma once

#include "streamer-session.h"

#include <QObject>
#include <QReadWriteLock>

#include <vector>

class RemoteControlSetting;
class SessionSnapshot;
struct obs_data;
struct proc_handler;

// The vendor "tiplark" of obs-websocket: its requests and events, for controller software and scripts.
// Requests arrive on obs-websocket's threads; they read the session's snapshot and submit actions to the
// session, which runs them on the GUI thread. Events are sent from the GUI thread. Nothing here carries a
// token, but donors' texts do, those awaiting moderation too: the streamer can switch the vendor off, and
// the choice is remembered.
class WebsocketVendor : public QObject {
	Q_OBJECT

public:
	// session, snapshot and remoteControl must outlive this object; all live on the GUI thread.
	// stop() must run before this object goes: at unload obs-websocket may be gone already.
	WebsocketVendor(StreamerSession *session, const SessionSnapshot *snapshot,
			const RemoteControlSetting *remoteControl, QObject *parent = nullptr);

	// Once every module is loaded: finds obs-websocket and registers the vendor with its requests.
	// Without a usable obs-websocket, logs one line and does nothing else.
	void start();
	// While obs-websocket is still loaded: withdraws the requests, waits for any still running and
	// sends no more events. Safe to call more than once.
	void stop();

	// The answer to one request by its name, apart from obs-websocket's threads: for tests.
	void handle(const char *requestType, obs_data *requestData, obs_data *responseData);

	struct Request;

private:
	struct Handler {
		WebsocketVendor *vendor;
		const Request *request;
	};
	static void onRequest(obs_data *requestData, obs_data *responseData, void *handler);
	void handle(const Request &request, obs_data *requestData, obs_data *responseData);
	// ActionFinished for an action's end, or for a controller's one refused when it was about to run.
	void finished(const SessionAction &action);
	void emitEvent(const char *type, obs_data *data);

	StreamerSession *m_session;
	const SessionSnapshot *m_snapshot;
	const RemoteControlSetting *m_remoteControl;
	proc_handler *m_procHandler = nullptr;
	void *m_vendor = nullptr;
	std::vector<Handler> m_handlers;
	// Held for reading while a request runs, for writing when the requests are withdrawn.
	QReadWriteLock m_requestsLock;
	bool m_open = false; // guarded by m_requestsLock
};
