#pragma once

#include <QObject>
#include <QString>

class QSoundEffect;

// The short sound for a new pending message; off until the streamer switches it on, which the
// plug-in's settings store remembers.
class NewMessageChime : public QObject {
	Q_OBJECT

public:
	NewMessageChime(const QString &soundFile, QObject *parent = nullptr);

	bool isEnabled() const { return m_enabled; }
	void setEnabled(bool enabled);
	// Plays the sound when switched on; a ring while it still plays starts it again.
	void ring();

private:
	QSoundEffect *m_effect;
	bool m_enabled;
};
