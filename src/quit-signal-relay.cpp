#include "quit-signal-relay.h"

#include <QSocketNotifier>

#include <atomic>
#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

namespace {

// The pipe's write end, for the handler; -1 while no relay is installed.
std::atomic<int> g_wakeFd{-1};

// Runs on whichever thread the kernel picked, interrupting it anywhere: only async-signal-safe calls.
void onSigint(int)
{
	const int savedErrno = errno;
	const int fd = g_wakeFd.load();
	if (fd >= 0) {
		const char byte = 1;
		// A full pipe already holds a wake-up; a byte more or less changes nothing.
		[[maybe_unused]] const ssize_t written = write(fd, &byte, 1);
	}
	errno = savedErrno;
}

bool setFlags(int fd)
{
	return fcntl(fd, F_SETFD, FD_CLOEXEC) == 0 && fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK) == 0;
}

} // namespace

QuitSignalRelay::QuitSignalRelay(std::function<void()> quit, QObject *parent) : QObject(parent), m_quit(std::move(quit))
{
	int fds[2];
	if (pipe(fds) != 0)
		return;
	m_readFd = fds[0];
	m_writeFd = fds[1];
	if (!setFlags(m_readFd) || !setFlags(m_writeFd))
		return;

	m_notifier = new QSocketNotifier(m_readFd, QSocketNotifier::Read, this);
	connect(m_notifier, &QSocketNotifier::activated, this, [this] { onWakeUp(); });

	int expected = -1;
	if (!g_wakeFd.compare_exchange_strong(expected, m_writeFd))
		return; // another relay has SIGINT already

	struct sigaction action = {};
	action.sa_handler = onSigint;
	sigemptyset(&action.sa_mask);
	action.sa_flags = SA_RESTART;
	m_installed = sigaction(SIGINT, &action, &m_previous) == 0;
	if (!m_installed)
		g_wakeFd.store(-1);
}

QuitSignalRelay::~QuitSignalRelay()
{
	if (m_installed) {
		sigaction(SIGINT, &m_previous, nullptr);
		g_wakeFd.store(-1);
	}
	if (m_notifier)
		m_notifier->setEnabled(false);
	if (m_readFd >= 0)
		close(m_readFd);
	if (m_writeFd >= 0)
		close(m_writeFd);
}

void QuitSignalRelay::onWakeUp()
{
	char bytes[16];
	while (read(m_readFd, bytes, sizeof(bytes)) > 0) {
	}
	if (m_quit)
		m_quit();
}
