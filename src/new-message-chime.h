#pragma once

#include <QObject>
#include <QString>

struct obs_source;

// The short sound for a new pending message; off until the streamer switches it on, which the
// plug-in's settings store remembers. It plays through OBS's own audio monitoring, on the device the
// streamer chose for it in OBS, and never reaches the stream or a recording.
class NewMessageChime : public QObject {
	Q_OBJECT

public:
	NewMessageChime(const QString &soundFile, QObject *parent = nullptr);
	~NewMessageChime() override;

	bool isEnabled() const { return m_enabled; }
	void setEnabled(bool enabled);
	// Plays the sound when switched on; a ring while it still plays starts it again.
	void ring();
	// Gives the sound back to OBS; it must go while OBS's audio and media sources still run (at the
	// frontend's exit), not at module unload. A later ring is silent.
	void release();

private:
	bool makeSource();

	QString m_soundFile;
	obs_source *m_source = nullptr;
	bool m_enabled;
	bool m_released = false;
};
