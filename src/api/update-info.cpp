#include "update-info.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QVersionNumber>

UpdateInfo UpdateInfo::fromJson(const QByteArray &body)
{
	const QJsonObject obj = QJsonDocument::fromJson(body).object();
	UpdateInfo info;
	info.version = obj.value(QLatin1String("version")).toString();
	info.downloadUrl = obj.value(QLatin1String("download_url")).toString();
	info.downloadUrlWindows = obj.value(QLatin1String("download_url_windows")).toString();
	info.downloadUrlMacos = obj.value(QLatin1String("download_url_macos")).toString();
	info.downloadUrlLinux = obj.value(QLatin1String("download_url_linux")).toString();
	return info;
}

QString UpdateInfo::downloadUrlFor(UpdatePlatform platform) const
{
	QString own;
	switch (platform) {
	case UpdatePlatform::Windows:
		own = downloadUrlWindows;
		break;
	case UpdatePlatform::MacOS:
		own = downloadUrlMacos;
		break;
	case UpdatePlatform::Linux:
		own = downloadUrlLinux;
		break;
	case UpdatePlatform::Other:
		break;
	}
	return own.isEmpty() ? downloadUrl : own;
}

UpdatePlatform hostUpdatePlatform()
{
#if defined(Q_OS_WIN)
	return UpdatePlatform::Windows;
#elif defined(Q_OS_MACOS)
	return UpdatePlatform::MacOS;
#elif defined(Q_OS_LINUX)
	return UpdatePlatform::Linux;
#else
	return UpdatePlatform::Other;
#endif
}

bool isNewerVersion(const QString &published, const QString &running)
{
	return QVersionNumber::compare(QVersionNumber::fromString(published), QVersionNumber::fromString(running)) > 0;
}
