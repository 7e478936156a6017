#include "update-info.h"

#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>
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

QString downloadAddressProblem(const QString &address, bool localService)
{
	if (address.isEmpty())
		return QStringLiteral("empty");
	// Browsers read a backslash as a slash, Qt as part of a name.
	if (address.contains(QLatin1Char('\\')))
		return QStringLiteral("a backslash");
	const QUrl url(address, QUrl::StrictMode);
	if (!url.isValid())
		return QStringLiteral("not a valid address");
	const QString scheme = url.scheme();
	const bool localHttp = scheme == QLatin1String("http") && localService && QHostAddress(url.host()).isLoopback();
	if (scheme != QLatin1String("https") && !localHttp)
		return QStringLiteral("neither https nor http to a local service");
	// "https:host/x" and "https:///host/x" have no host to Qt but one to a browser.
	if (url.host().isEmpty())
		return QStringLiteral("no host");
	// "https://tiplark.pl@evil.example" goes to evil.example.
	if (!url.userInfo().isEmpty())
		return QStringLiteral("a user name");
	// Whatever a strict reading would write differently may be read differently by a browser too.
	if (url.toString(QUrl::FullyEncoded) != address)
		return QStringLiteral("changed by a strict reading");
	return QString();
}
