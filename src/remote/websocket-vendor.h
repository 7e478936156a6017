#pragma once

#include "remote/busy-limit.h"

#include <QObject>
#include <QReadWriteLock>

#include <array>
#include <atomic>

class RemoteControl;
struct obs_data;
struct proc_handler;

// The vendor "tiplark" of obs-websocket: its requests and events, for controller software and scripts.
// Requests arrive on obs-websocket's threads; they read the remote control's state copy and queue
// actions to the GUI thread, at most one of each kind at a time, so that a controller cannot flood
// OBS. Events are sent from the GUI thread. Nothing here carries a token, but donors' texts do, those
// awaiting moderation too: the streamer can switch the vendor off, and the choice is remembered.
class WebsocketVendor : public QObject {
	Q_OBJECT

public:
	// control must outlive this object; both live on the GUI thread.
	// stop() must run before this object goes: at unload obs-websocket may be gone already.
	explicit WebsocketVendor(RemoteControl *control, QObject *parent = nullptr);

	// Once every module is loaded: finds obs-websocket and registers the vendor with its requests.
	// Without a usable obs-websocket, logs one line and does nothing else.
	void start();
	// While obs-websocket is still loaded: withdraws the requests, waits for any still running and
	// sends no more events. Safe to call more than once.
	void stop();

	// Whether requests are answered and events sent; off, every request is refused. Any thread may ask;
	// set on the GUI thread, which also writes it to the plug-in's settings for the next start.
	bool isEnabled() const { return m_enabled.load(); }
	void setEnabled(bool enabled);

	enum class Request { GetState, SkipAlert, ModerateMessage, SetModeration };

	// The answer to one request, apart from obs-websocket's threads: for tests.
	void handle(Request request, obs_data *requestData, obs_data *responseData);

private:
	struct Handler {
		WebsocketVendor *vendor;
		Request request;
	};
	static void onRequest(obs_data *requestData, obs_data *responseData, void *handler);
	void emitEvent(const char *type, obs_data *data);
	// Frees the kind of the action that ended.
	void onActionFinished(const QString &action);

	RemoteControl *m_control;
	proc_handler *m_procHandler = nullptr;
	void *m_vendor = nullptr;
	std::array<Handler, 4> m_handlers;
	// Held for reading while a request runs, for writing when the requests are withdrawn.
	QReadWriteLock m_requestsLock;
	bool m_open = false; // guarded by m_requestsLock
	std::atomic<bool> m_enabled;
	// Actions queued or running, by Request.
	BusyLimit<4> m_busy;
};
