#include "token-file.h"

#include "obs-host-stand-in.h"

#include <QDir>
#include <QFile>

#include <sys/stat.h>

QString tokenPath()
{
	return QDir(ObsHostStandIn::configDir()).filePath("tokens.json");
}

QByteArray readFile(const QString &path)
{
	QFile file(path);
	return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

unsigned int modeBits(const QString &path)
{
	struct stat info{};
	if (stat(QFile::encodeName(path).constData(), &info) != 0)
		return 0;
	return info.st_mode & 07777;
}
