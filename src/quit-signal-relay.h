#pragma once

#include <QObject>

#include <csignal>
#include <functional>

class QSocketNotifier;

// OBS 29 quits on SIGINT by closing its main window from inside the signal handler, that is in the
// middle of whatever the interrupted thread was doing, often a list rebuild of ours on the GUI thread.
// The close then runs the queued answers, the exit event and Qt's own teardown nested inside that
// half-done work, and OBS now and then crashes or hangs on the way out. While this object exists,
// SIGINT only wakes the thread it lives on, which runs quit from its event loop, once per wake-up.
// One at a time; destroying it gives SIGINT back to the handler it had before.
class QuitSignalRelay : public QObject {
	Q_OBJECT

public:
	explicit QuitSignalRelay(std::function<void()> quit, QObject *parent = nullptr);
	~QuitSignalRelay() override;

	// False when the pipe or the handler could not be set up; SIGINT is then left as it was.
	bool isInstalled() const { return m_installed; }

private:
	void onWakeUp();

	std::function<void()> m_quit;
	int m_readFd = -1;
	int m_writeFd = -1;
	QSocketNotifier *m_notifier = nullptr;
	struct sigaction m_previous = {};
	bool m_installed = false;
};
