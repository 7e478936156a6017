#include "new-message-chime.h"

#include "plugin-support.h"
#include "tiplark-settings.h"

#include <obs.hpp>

namespace {
const QString CHIME_ENABLED = QStringLiteral("ChimeEnabled");
}

NewMessageChime::NewMessageChime(const QString &soundFile, QObject *parent)
	: QObject(parent),
	  m_soundFile(soundFile),
	  m_enabled(openTiplarkSettings()->value(CHIME_ENABLED, false).toBool())
{
}

NewMessageChime::~NewMessageChime()
{
	release();
}

void NewMessageChime::setEnabled(bool enabled)
{
	m_enabled = enabled;
	openTiplarkSettings()->setValue(CHIME_ENABLED, enabled);
}

void NewMessageChime::ring()
{
	if (!m_enabled || m_released)
		return;
	if (!m_source && !makeSource())
		return;
	obs_source_media_restart(m_source);
}

bool NewMessageChime::makeSource()
{
	// Made at the first ring: OBS's media source type may not be registered yet when the module loads.
	OBSDataAutoRelease settings = obs_data_create();
	obs_data_set_bool(settings, "is_local_file", true);
	obs_data_set_string(settings, "local_file", m_soundFile.toUtf8().constData());
	obs_data_set_bool(settings, "restart_on_activate", false);
	obs_data_set_bool(settings, "close_when_inactive", false);
	// A private source is in no scene and no output channel, so it is never mixed into the stream;
	// monitoring only keeps it out even if OBS ever mixes it.
	m_source = obs_source_create_private("ffmpeg_source", "tiplark-new-message-chime", settings);
	if (!m_source) {
		obs_log(LOG_WARNING, "Tiplark: the chime could not be made (no media source in this OBS)");
		m_released = true;
		return false;
	}
	obs_source_set_monitoring_type(m_source, OBS_MONITORING_TYPE_MONITOR_ONLY);
	// OBS's monitor plays only sources that are active.
	obs_source_inc_active(m_source);
	return true;
}

void NewMessageChime::release()
{
	m_released = true;
	if (!m_source)
		return;
	obs_source_dec_active(m_source);
	obs_source_release(m_source);
	m_source = nullptr;
}
