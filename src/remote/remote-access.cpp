#include "remote-access.h"

#include "remote/frontend-hotkeys.h"
#include "remote/session-snapshot.h"
#include "remote/websocket-vendor.h"

RemoteAccess::RemoteAccess(StreamerSession *session, const RemoteControlSetting *remoteControl, QObject *parent)
	: QObject(parent),
	  m_snapshot(new SessionSnapshot(session, this)),
	  m_vendor(new WebsocketVendor(session, m_snapshot, remoteControl, this)),
	  m_hotkeys(std::make_unique<FrontendHotkeys>(session))
{
}

RemoteAccess::~RemoteAccess() = default;

void RemoteAccess::onAllModulesLoaded()
{
	m_vendor->start();
}

void RemoteAccess::onFrontendEvent(enum obs_frontend_event event)
{
	switch (event) {
	case OBS_FRONTEND_EVENT_FINISHED_LOADING:
	case OBS_FRONTEND_EVENT_PROFILE_CHANGED:
		m_hotkeys->load();
		break;
	case OBS_FRONTEND_EVENT_PROFILE_CHANGING:
		m_hotkeys->save();
		break;
	case OBS_FRONTEND_EVENT_EXIT:
		m_hotkeys->save();
		m_vendor->stop();
		break;
	default:
		break;
	}
}
