#include "held-ports.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QTextStream>

namespace {
// The socket inodes of everything bound to the port (IPv4 and IPv6), from the kernel's socket tables.
QStringList socketInodes(quint16 port)
{
	QStringList inodes;
	const QString hexPort = QStringLiteral(":%1").arg(port, 4, 16, QLatin1Char('0')).toUpper();
	for (const char *table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
		QFile file(QString::fromLatin1(table));
		if (!file.open(QIODevice::ReadOnly))
			continue;
		const QList<QByteArray> lines = file.readAll().split('\n');
		for (const QByteArray &line : lines) {
			const QList<QByteArray> fields = line.simplified().split(' ');
			if (fields.size() > 9 && QString::fromLatin1(fields[1]).endsWith(hexPort))
				inodes << QStringLiteral("socket:[%1]").arg(QString::fromLatin1(fields[9]));
		}
	}
	return inodes;
}

QString holderOf(quint16 port)
{
	const QStringList inodes = socketInodes(port);
	if (inodes.isEmpty())
		return QStringLiteral("no process found (a connection in TIME_WAIT?)");
	const QStringList pids = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
	for (const QString &pid : pids) {
		const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
		for (const QFileInfo &fd : fds.entryInfoList(QDir::System | QDir::NoDotAndDotDot)) {
			if (inodes.contains(fd.symLinkTarget().section(QLatin1Char('/'), -1))) {
				QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
				const QString name = comm.open(QIODevice::ReadOnly)
							     ? QString::fromLocal8Bit(comm.readAll().trimmed())
							     : QStringLiteral("a process that has just ended");
				return QStringLiteral("%1 (PID %2)").arg(name, pid);
			}
		}
	}
	return QStringLiteral("a process this test cannot see");
}
} // namespace

std::vector<std::unique_ptr<QTcpServer>> holdPorts(quint16 first, quint16 last)
{
	std::vector<std::unique_ptr<QTcpServer>> held;
	for (quint16 port = first; port <= last; ++port) {
		held.push_back(std::make_unique<QTcpServer>());
		if (!held.back()->listen(QHostAddress::LocalHost, port))
			qFatal("port %d is not free: held by %s", port, qPrintable(holderOf(port)));
	}
	return held;
}
