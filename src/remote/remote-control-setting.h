#pragma once

#include <QObject>

#include <atomic>

// Whether controllers (obs-websocket) may read the session and take its actions: the streamer's choice in
// the dock's settings, remembered between runs. Changed on the GUI thread; read on any thread.
class RemoteControlSetting : public QObject {
	Q_OBJECT

public:
	explicit RemoteControlSetting(QObject *parent = nullptr);

	bool allowed() const { return m_allowed.load(); }
	void setAllowed(bool allowed);

signals:
	void allowedChanged(bool allowed);

private:
	std::atomic<bool> m_allowed;
};
