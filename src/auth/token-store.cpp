#include "auth/token-store.h"

#include "plugin-support.h"
#include "service-addresses.h"

#include <obs-module.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

namespace {
const char *const ACCESS_TOKEN_KEY = "access_token";
const char *const API_ORIGIN_KEY = "api_origin";
const char *const EXPIRES_AT_KEY = "expires_at";
const char *const OAUTH_ORIGIN_KEY = "oauth_origin";
const char *const REFRESH_TOKEN_KEY = "refresh_token";
// Far more than a sign-in takes; a larger file is no token file and is not read at OBS's start.
const qint64 MAX_FILE_BYTES = 64 * 1024;
} // namespace

TokenStore::TokenStore(QObject *parent) : QObject(parent) {}

QString TokenStore::getConfigPath() const
{
	char *raw = obs_module_get_config_path(obs_current_module(), "tokens.json");
	const QString path = QString::fromUtf8(raw);
	bfree(raw);
	if (path.isEmpty())
		return path;

	// Nobody else may list or open what is in the folder, the save's temporary file included, which some
	// file systems create readable by others for a moment. An existing folder only loses rights.
	const QFileDevice::Permissions ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner |
						   QFileDevice::ExeOwner | QFileDevice::ReadUser |
						   QFileDevice::WriteUser | QFileDevice::ExeUser;
	QDir dir = QFileInfo(path).dir();
	if (!dir.exists())
		dir.mkpath(".");
	const QFileDevice::Permissions current = QFileInfo(dir.absolutePath()).permissions();
	if (current & ~ownerOnly)
		QFile::setPermissions(dir.absolutePath(), current & ownerOnly);
	return path;
}

void TokenStore::load()
{
	const QString path = getConfigPath();
	if (!QFile::exists(path))
		return;

	// Only a regular file of our own can hold a sign-in. Opening a named pipe would wait for a writer, with
	// OBS's start stuck on the GUI thread, a device could be read without end, and a link would lend the
	// sign-in to a file elsewhere.
	const QFileInfo info(path);
	QFile file(path);
	if (info.isSymLink() || !info.isFile() || info.size() > MAX_FILE_BYTES || !file.open(QIODevice::ReadOnly)) {
		obs_log(LOG_WARNING, "Tiplark: Failed to open token file");
		if (info.isSymLink())
			obs_log(LOG_WARNING, "Tiplark: The token file is a symbolic link, not followed");
		else if (info.isFile() && info.size() > MAX_FILE_BYTES)
			obs_log(LOG_WARNING, "Tiplark: The token file is larger than %lld bytes, not read",
				MAX_FILE_BYTES);
		return;
	}
	// It may have grown since it was looked at.
	const QByteArray content = file.read(MAX_FILE_BYTES);
	file.close();

	const QJsonDocument document = QJsonDocument::fromJson(content);
	if (!document.isObject())
		return;
	const QJsonObject object = document.object();

	m_accessToken = object.value(ACCESS_TOKEN_KEY).toString();
	m_refreshToken = object.value(REFRESH_TOKEN_KEY).toString();
	const QString expiresAt = object.value(EXPIRES_AT_KEY).toString();
	if (!expiresAt.isEmpty())
		m_tokenExpiresAt = QDateTime::fromString(expiresAt, Qt::ISODate);
	const QJsonValue origin = object.value(OAUTH_ORIGIN_KEY);
	m_oauthOrigin = origin.isUndefined() ? ServiceAddresses::production().oauthOrigin() : origin.toString();
	const QJsonValue apiOrigin = object.value(API_ORIGIN_KEY);
	m_apiOrigin = apiOrigin.isUndefined() ? ServiceAddresses::production().apiOrigin() : apiOrigin.toString();

	obs_log(LOG_INFO, "Tiplark: Tokens loaded");
}

bool TokenStore::save()
{
	QJsonObject object;
	object.insert(ACCESS_TOKEN_KEY, m_accessToken);
	object.insert(API_ORIGIN_KEY, m_apiOrigin);
	object.insert(EXPIRES_AT_KEY,
		      m_tokenExpiresAt.isValid() ? m_tokenExpiresAt.toString(Qt::ISODate) : QString(""));
	object.insert(REFRESH_TOKEN_KEY, m_refreshToken);
	object.insert(OAUTH_ORIGIN_KEY, m_oauthOrigin);

	// Written to a temporary file beside the old one and renamed over it, so a crash or a full disk
	// mid-write leaves the previous sign-in intact; the tokens are for the owner's eyes only.
	// A short write is no error to QSaveFile, so the count is checked before the rename.
	const QByteArray content = QJsonDocument(object).toJson(QJsonDocument::Compact);
	const QString path = getConfigPath();
	// The save would follow a link and hand the tokens to its target: the link goes, a file takes its place.
	if (QFileInfo(path).isSymLink()) {
		QFile::remove(path);
		obs_log(LOG_WARNING, "Tiplark: The token file was a symbolic link, replaced by a file");
	}
	QSaveFile file(path);
	bool saved = file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
		     file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner) &&
		     file.write(content) == content.size();
	if (saved)
		saved = file.commit();
	if (!saved) {
		// Read before cancelling, which puts its own text in place of the reason.
		const QByteArray reason = file.errorString().toUtf8();
		if (file.isOpen())
			file.cancelWriting();
		obs_log(LOG_WARNING, "Tiplark: Failed to save token file");
		obs_log(LOG_WARNING, "Tiplark: Token file error: %s", reason.constData());
		return false;
	}
	obs_log(LOG_INFO, "Tiplark: Tokens saved");
	return true;
}

bool TokenStore::clear()
{
	m_accessToken.clear();
	m_refreshToken.clear();
	m_tokenExpiresAt = QDateTime();
	m_oauthOrigin.clear();
	m_apiOrigin.clear();

	// A file left behind would sign the streamer in again at the next start. A link goes itself and its
	// target stays: that file was never written here, and a link must not make sign-out delete elsewhere.
	const QString path = getConfigPath();
	const bool link = QFileInfo(path).isSymLink();
	QFile file(path);
	if ((link || file.exists()) && !file.remove()) {
		obs_log(LOG_ERROR, "Tiplark: Failed to delete token file: %s", file.errorString().toUtf8().constData());
		return false;
	}
	if (link)
		obs_log(LOG_WARNING,
			"Tiplark: The token file was a symbolic link: the link was removed, its target left alone");
	obs_log(LOG_INFO, "Tiplark: Tokens cleared");
	return true;
}

QString TokenStore::accessToken() const
{
	return m_accessToken;
}

QString TokenStore::refreshToken() const
{
	return m_refreshToken;
}

QDateTime TokenStore::tokenExpiresAt() const
{
	return m_tokenExpiresAt;
}

QString TokenStore::oauthOrigin() const
{
	return m_oauthOrigin;
}

void TokenStore::setOAuthOrigin(const QString &origin)
{
	m_oauthOrigin = origin;
}

QString TokenStore::apiOrigin() const
{
	return m_apiOrigin;
}

void TokenStore::setApiOrigin(const QString &origin)
{
	m_apiOrigin = origin;
}

void TokenStore::setAccessToken(const QString &token)
{
	m_accessToken = token;
}

void TokenStore::setRefreshToken(const QString &token)
{
	m_refreshToken = token;
}

void TokenStore::setTokenExpiresAt(const QDateTime &expiresAt)
{
	m_tokenExpiresAt = expiresAt;
}
