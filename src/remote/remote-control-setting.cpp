#include "remote-control-setting.h"

#include "tiplark-settings.h"

namespace {
const QString REMOTE_CONTROL_KEY = QStringLiteral("WebsocketVendorEnabled");
}

RemoteControlSetting::RemoteControlSetting(QObject *parent)
	: QObject(parent),
	  // On unless the streamer switched it off: obs-websocket itself is off until the streamer turns it on,
	  // and asks its clients for a password.
	  m_allowed(openTiplarkSettings()->value(REMOTE_CONTROL_KEY, true).toBool())
{
}

void RemoteControlSetting::setAllowed(bool allowed)
{
	if (allowed == m_allowed.load())
		return;
	m_allowed.store(allowed);
	openTiplarkSettings()->setValue(REMOTE_CONTROL_KEY, allowed);
	emit allowedChanged(allowed);
}
