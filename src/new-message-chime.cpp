#include "new-message-chime.h"

#include "tiplark-settings.h"

#include <QSoundEffect>
#include <QUrl>

namespace {
const QString CHIME_ENABLED = QStringLiteral("ChimeEnabled");
}

NewMessageChime::NewMessageChime(const QString &soundFile, QObject *parent)
	: QObject(parent),
	  m_effect(new QSoundEffect(this)),
	  m_enabled(openTiplarkSettings()->value(CHIME_ENABLED, false).toBool())
{
	m_effect->setSource(QUrl::fromLocalFile(soundFile));
}

void NewMessageChime::setEnabled(bool enabled)
{
	m_enabled = enabled;
	openTiplarkSettings()->setValue(CHIME_ENABLED, enabled);
}

void NewMessageChime::ring()
{
	if (m_enabled)
		m_effect->play();
}
