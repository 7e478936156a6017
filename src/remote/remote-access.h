#pragma once

#include <obs-frontend-api.h>

#include <QObject>

#include <memory>

class FrontendHotkeys;
class RemoteControlSetting;
class SessionSnapshot;
class StreamerSession;
class WebsocketVendor;

// The session's views outside the dock: the hotkeys, and obs-websocket's vendor requests and events.
// Made at module load after the session, on the GUI thread, and gone at unload before it; the hotkeys are
// unregistered before the session they queue work to goes.
class RemoteAccess : public QObject {
	Q_OBJECT

public:
	// session and remoteControl must outlive this object.
	RemoteAccess(StreamerSession *session, const RemoteControlSetting *remoteControl, QObject *parent = nullptr);
	~RemoteAccess() override;

	// Once every module is loaded.
	void onAllModulesLoaded();
	// The frontend's events: bindings follow the profile; at exit, while obs-websocket is still
	// loaded, the vendor lets go of it.
	void onFrontendEvent(enum obs_frontend_event event);

private:
	SessionSnapshot *m_snapshot;
	WebsocketVendor *m_vendor;
	std::unique_ptr<FrontendHotkeys> m_hotkeys;
};
