#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>

// Keeps the sign-in that survives a restart: both tokens, the access token's expiry, the origin of the
// OAuth server that issued them and of the API they were issued for, in memory and in tokens.json in the plug-in's configuration folder.
// Writes only when asked to (save, clear).
class TokenStore : public QObject {
	Q_OBJECT

public:
	explicit TokenStore(QObject *parent = nullptr);

	void load();
	// Both false, with the reason in the log, when the file could not be written or deleted.
	bool save();
	bool clear();

	QString accessToken() const;
	QString refreshToken() const;
	QDateTime tokenExpiresAt() const;
	// A file from before the origin was recorded holds production's tokens.
	QString oauthOrigin() const;
	// Likewise, a file from before the API's origin was recorded holds tokens for production's API.
	QString apiOrigin() const;

	void setAccessToken(const QString &token);
	void setRefreshToken(const QString &token);
	void setTokenExpiresAt(const QDateTime &expiresAt);
	void setOAuthOrigin(const QString &origin);
	void setApiOrigin(const QString &origin);

	// Full path of tokens.json; creates its folder when missing and keeps it the owner's alone.
	QString getConfigPath() const;

private:
	QString m_accessToken;
	QString m_refreshToken;
	QDateTime m_tokenExpiresAt;
	QString m_oauthOrigin;
	QString m_apiOrigin;
};
