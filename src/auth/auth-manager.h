#pragma once

#include "service-addresses.h"

#include <QDateTime>
#include <QObject>
#include <QString>

struct HttpResponse;
class OAuthServer;
class TokenStore;

// Signs the streamer in through the browser (OAuth 2.0 authorization code with PKCE), keeps the tokens,
// refreshes the access token when the service rejects it, and signs out.
class AuthManager : public QObject {
	Q_OBJECT

public:
	explicit AuthManager(const ServiceAddresses &addresses, QObject *parent = nullptr);

	bool isAuthenticated() const;
	QString accessToken() const;

	void startLogin();
	void logout();
	void refreshAccessToken();

	// Building blocks of the sign-in.
	QString generateRandomString(int length);
	QString generateCodeVerifier();
	QString generateCodeChallenge(const QString &verifier);

	static const QString CLIENT_ID;
	static const QString SCOPES;

signals:
	void authenticationComplete(bool success);

private:
	void handleOAuthCallback(const QString &code, const QString &state);
	void exchangeCodeForToken(const QString &code);
	void doRefreshToken();
	void onExchangeFinished(const HttpResponse &response);
	void onRefreshFinished(const HttpResponse &response, quint64 session);
	// Writes the working copies through to the token store and saves it.
	void saveTokens();

	const QString m_oauthBaseUrl;
	TokenStore *m_tokenStore = nullptr;
	OAuthServer *m_oauthServer = nullptr;
	QString m_pendingState;
	QString m_pendingCodeVerifier;
	QString m_accessToken;
	QString m_refreshToken;
	QDateTime m_tokenExpiresAt;
	// Several requests rejected at once must not spend the refresh token more than once.
	bool m_refreshInFlight = false;
	// Counts logouts: a refresh answer that belongs to an earlier sign-in is dropped.
	quint64 m_session = 0;
};
