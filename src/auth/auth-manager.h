#pragma once

#include "service-addresses.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QMap>
#include <QObject>
#include <QString>

struct HttpResponse;
class OAuthServer;
class QTimer;
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
	// Gives up the sign-in under way: the browser's redirect is no longer taken.
	void cancelLogin();
	void logout();
	void refreshAccessToken();

	// Building blocks of the sign-in.
	QString generateRandomString(int length);
	QString generateCodeVerifier();
	QString generateCodeChallenge(const QString &verifier);

	static const QString CLIENT_ID;
	static const QString SCOPES;

	// A sign-in whose browser has not come back by then fails, and its listener closes.
	static constexpr int SIGN_IN_TIMEOUT_MS = 5 * 60 * 1000;
	void setSignInTimeout(int ms);
	// After this many failed refreshes in a row, at most one refresh per REFRESH_BACKOFF_MS.
	static constexpr int REFRESH_FAILURES_BEFORE_BACKOFF = 2;
	static constexpr qint64 REFRESH_BACKOFF_MS = 30000;

signals:
	void authenticationComplete(bool success);
	// tokens.json could not be written (the sign-in then lasts only until OBS closes), or could not be
	// deleted at logout (the next start signs the streamer in again).
	void tokensNotSaved();
	void tokensNotDeleted();
	// A refresh replaced the access token; requests rejected before it can be made again.
	void accessTokenRefreshed();

private:
	void handleOAuthCallback(const QString &code);
	void onRedirectFailed(const QString &error);
	void onSignInTimedOut();
	// Ends the sign-in in progress, whatever its outcome: no more redirects are taken.
	void endSignIn();
	void exchangeCodeForToken(const QString &code);
	void doRefreshToken();
	// What a token endpoint's answer held, read on the worker that received it.
	struct TokenAnswer {
		QString accessToken;
		QString refreshToken;
		int expiresIn = 0;
	};
	static HttpResponse postForTokens(const QString &url, const QByteArray &body,
					  const QMap<QString, QString> &headers, TokenAnswer &answer);
	void onExchangeFinished(const HttpResponse &response, const TokenAnswer &answer, quint64 attempt);
	void onRefreshFinished(const HttpResponse &response, const TokenAnswer &answer, quint64 session);
	// Writes the working copies through to the token store and saves it.
	bool saveTokens();

	const QString m_oauthBaseUrl;
	const QString m_oauthOrigin;
	const QString m_apiOrigin;
	TokenStore *m_tokenStore = nullptr;
	OAuthServer *m_oauthServer = nullptr;
	QTimer *m_signInTimer = nullptr;
	QString m_pendingState;
	QString m_pendingCodeVerifier;
	QString m_accessToken;
	QString m_refreshToken;
	QDateTime m_tokenExpiresAt;
	// Several requests rejected at once must not spend the refresh token more than once.
	bool m_refreshInFlight = false;
	// Counts logouts: a refresh answer that belongs to an earlier sign-in is dropped.
	quint64 m_session = 0;
	// Counts sign-ins begun and cancelled: an exchange answer of a cancelled or earlier one is dropped.
	quint64 m_attempt = 0;
	// Failed refreshes in a row (no answer, a server fault), and when the last one was sent.
	int m_refreshFailures = 0;
	QElapsedTimer m_lastRefresh;
};
