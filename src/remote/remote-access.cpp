#include "remote-access.h"

#include "new-message-chime.h"
#include "remote/frontend-hotkeys.h"
#include "remote/remote-control.h"
#include "remote/websocket-vendor.h"

RemoteAccess::RemoteAccess(const QString &chimeFile, QObject *parent)
	: QObject(parent),
	  m_control(new RemoteControl(this)),
	  m_chime(new NewMessageChime(chimeFile, this)),
	  m_vendor(new WebsocketVendor(m_control, this)),
	  m_hotkeys(std::make_unique<FrontendHotkeys>(m_control))
{
	connect(m_control, &RemoteControl::newPendingMessages, m_chime, &NewMessageChime::ring);
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
