#pragma once

#include <obs-frontend-api.h>

#include <QObject>

#include <memory>

class FrontendHotkeys;
class NewMessageChime;
class RemoteControl;
class WebsocketVendor;

// Everything that reaches the dock from outside its panel: the hotkeys, obs-websocket's vendor
// requests and events, and the chime for new pending messages. Made at module load, on the GUI thread,
// and gone at unload; the hotkeys are unregistered before the control they queue work to goes.
class RemoteAccess : public QObject {
	Q_OBJECT

public:
	explicit RemoteAccess(const QString &chimeFile, QObject *parent = nullptr);
	~RemoteAccess() override;

	RemoteControl *control() const { return m_control; }
	NewMessageChime *chime() const { return m_chime; }
	WebsocketVendor *vendor() const { return m_vendor; }

	// Once every module is loaded.
	void onAllModulesLoaded();
	// The frontend's events: bindings follow the profile; at exit, while obs-websocket is still
	// loaded, the vendor lets go of it.
	void onFrontendEvent(enum obs_frontend_event event);

private:
	RemoteControl *m_control;
	NewMessageChime *m_chime;
	WebsocketVendor *m_vendor;
	std::unique_ptr<FrontendHotkeys> m_hotkeys;
};
