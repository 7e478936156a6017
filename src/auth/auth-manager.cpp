#include "auth/auth-manager.h"

#include "auth/oauth-server.h"
#include "auth/token-store.h"
#include "http/background-request.h"
#include "http/curl-helper.h"
#include "log-text.h"
#include "plugin-support.h"

#include <QCryptographicHash>
#include <QDesktopServices>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QRandomGenerator>
#include <QTimer>
#include <QUrl>
#include <QUrlQuery>

#include <climits>
#include <cmath>
#include <memory>

const QString AuthManager::CLIENT_ID = QStringLiteral("0190c3a1-7d2e-7b44-9f10-2a6e5c8d1b37");
const QString AuthManager::SCOPES = QStringLiteral(
	"user:read user:stream_status moderation:manage donates:queue:manage moderation:moderate donates:list");

namespace {
const char STATE_ALPHABET[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
const char VERIFIER_ALPHABET[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-._~";
const int STATE_LENGTH = 32;
const int VERIFIER_LENGTH = 64;
const char MASK[] = "***";

// Draws each character without bias from the system's cryptographically secure source, which nothing
// else in OBS can seed or read ahead of us: keep the low bits the alphabet needs and draw again when the
// value lies past the alphabet's end.
QString randomString(const char *alphabet, int alphabetSize, int length)
{
	quint64 mask = 1;
	while (mask < quint64(alphabetSize - 1))
		mask = (mask << 1) | 1;
	QString result;
	result.reserve(qMax(length, 0));
	for (int i = 0; i < length; ++i) {
		quint64 index;
		do {
			index = QRandomGenerator::system()->generate64() & mask;
		} while (index >= quint64(alphabetSize));
		result.append(QLatin1Char(alphabet[index]));
	}
	return result;
}

bool isSuccess(const HttpResponse &response)
{
	return response.statusCode >= 200 && response.statusCode <= 299 && response.error.isEmpty();
}

// The token endpoint said no to this refresh token; anything else (no answer, a server fault, being
// asked to slow down) may pass, and the tokens are kept for the next try.
bool isRejection(const HttpResponse &response)
{
	return response.error.isEmpty() && response.statusCode >= 400 && response.statusCode <= 499 &&
	       response.statusCode != 429;
}

QMap<QString, QString> tokenRequestHeaders()
{
	QMap<QString, QString> headers;
	headers.insert(QStringLiteral("Content-Type"), QStringLiteral("application/x-www-form-urlencoded"));
	headers.insert(QStringLiteral("X-TIPLARK-PLATFORM"), QStringLiteral("OBS"));
	headers.insert(QStringLiteral("X-TIPLARK-PLATFORM-VERSION"), QString::fromUtf8(PLUGIN_VERSION));
	return headers;
}

// Every byte but the unreserved ones percent-encoded: a form parser reads a bare "+" as a space, and a
// refresh token holding one would come back to the server changed.
QByteArray formBody(const QList<QPair<QString, QString>> &pairs)
{
	QByteArray body;
	for (const auto &pair : pairs) {
		if (!body.isEmpty())
			body += '&';
		body += QUrl::toPercentEncoding(pair.first) + '=' + QUrl::toPercentEncoding(pair.second);
	}
	return body;
}

bool isSecretKey(const QByteArray &key)
{
	return key == "code" || key == "code_verifier" || key == "refresh_token" || key == "access_token";
}

// Request bodies go to the debug log with the secret values replaced.
QByteArray maskForm(const QByteArray &form)
{
	QList<QByteArray> pairs = form.split('&');
	for (QByteArray &pair : pairs) {
		const int equals = pair.indexOf('=');
		const QByteArray key = equals < 0 ? pair : pair.left(equals);
		if (isSecretKey(key))
			pair = key + '=' + MASK;
	}
	return pairs.join('&');
}

// A whole number of seconds that fits 32 bits; 0 for anything else.
int expiresInSeconds(const QJsonObject &object)
{
	const QJsonValue value = object.value(QStringLiteral("expires_in"));
	if (!value.isDouble())
		return 0;
	const double seconds = value.toDouble();
	if (std::floor(seconds) != seconds || seconds < double(INT_MIN) || seconds > double(INT_MAX))
		return 0;
	return int(seconds);
}

} // namespace

// On a worker: the token endpoint's answer, read there rather than on the GUI thread, whatever its size.
// Only what the answer's status needs is kept: the body may carry tokens.
HttpResponse AuthManager::postForTokens(const QString &url, const QByteArray &body,
					const QMap<QString, QString> &headers, TokenAnswer &answer)
{
	HttpResponse response = CurlHelper::postCredentials(url, body, headers);
	if (isSuccess(response)) {
		const QJsonObject object = QJsonDocument::fromJson(response.body).object();
		answer.accessToken = object.value(QStringLiteral("access_token")).toString();
		answer.refreshToken = object.value(QStringLiteral("refresh_token")).toString();
		answer.expiresIn = expiresInSeconds(object);
	}
	response.body = QByteArray();
	return response;
}

AuthManager::AuthManager(const ServiceAddresses &addresses, QObject *parent)
	: QObject(parent),
	  m_oauthBaseUrl(addresses.oauthBaseUrl),
	  m_oauthOrigin(addresses.oauthOrigin()),
	  m_apiOrigin(addresses.apiOrigin()),
	  m_tokenStore(new TokenStore(this)),
	  m_oauthServer(new OAuthServer(this)),
	  m_signInTimer(new QTimer(this))
{
	connect(m_oauthServer, &OAuthServer::codeReceived, this, &AuthManager::handleOAuthCallback);
	connect(m_oauthServer, &OAuthServer::redirectFailed, this, &AuthManager::onRedirectFailed);
	m_signInTimer->setSingleShot(true);
	m_signInTimer->setInterval(SIGN_IN_TIMEOUT_MS);
	connect(m_signInTimer, &QTimer::timeout, this, &AuthManager::onSignInTimedOut);

	m_tokenStore->load();
	// Tokens go only where they were issued: a sign-in saved against production must not be sent to
	// whatever service the environment names, nor the other way round, and the access token only to the
	// API it was issued for, even when the OAuth server is the same. Saved origins are compared in normal
	// form, as an older version may have written them otherwise.
	if (!m_tokenStore->accessToken().isEmpty() || !m_tokenStore->refreshToken().isEmpty()) {
		const QString savedOAuth = ServiceAddresses::origin(m_tokenStore->oauthOrigin());
		const QString savedApi = ServiceAddresses::origin(m_tokenStore->apiOrigin());
		if (savedOAuth != m_oauthOrigin) {
			obs_log(LOG_WARNING, "Tiplark: Saved sign-in was issued by %s, not used with %s",
				logText(m_tokenStore->oauthOrigin()).constData(), m_oauthOrigin.toUtf8().constData());
			return;
		}
		if (savedApi != m_apiOrigin) {
			obs_log(LOG_WARNING, "Tiplark: Saved sign-in was issued for the API at %s, not used with %s",
				logText(m_tokenStore->apiOrigin()).constData(), m_apiOrigin.toUtf8().constData());
			return;
		}
	}
	m_accessToken = m_tokenStore->accessToken();
	m_refreshToken = m_tokenStore->refreshToken();
	m_tokenExpiresAt = m_tokenStore->tokenExpiresAt();
}

bool AuthManager::isAuthenticated() const
{
	return !m_accessToken.isEmpty() && !m_refreshToken.isEmpty();
}

QString AuthManager::accessToken() const
{
	return m_accessToken;
}

void AuthManager::setSignInTimeout(int ms)
{
	m_signInTimer->setInterval(ms);
}

QString AuthManager::generateRandomString(int length)
{
	return randomString(STATE_ALPHABET, int(sizeof(STATE_ALPHABET)) - 1, length);
}

QString AuthManager::generateCodeVerifier()
{
	return randomString(VERIFIER_ALPHABET, int(sizeof(VERIFIER_ALPHABET)) - 1, VERIFIER_LENGTH);
}

QString AuthManager::generateCodeChallenge(const QString &verifier)
{
	const QByteArray digest = QCryptographicHash::hash(verifier.toUtf8(), QCryptographicHash::Sha256);
	return QString::fromLatin1(digest.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}

void AuthManager::startLogin()
{
	++m_attempt;
	m_pendingState = generateRandomString(STATE_LENGTH);
	m_pendingCodeVerifier = generateCodeVerifier();
	const QString challenge = generateCodeChallenge(m_pendingCodeVerifier);

	// Without a listener the browser's redirect would go nowhere and the sign-in would hang unseen.
	m_oauthServer->setExpectedState(m_pendingState);
	if (!m_oauthServer->start()) {
		emit authenticationComplete(false);
		return;
	}

	QUrlQuery query;
	query.addQueryItem(QStringLiteral("client_id"), CLIENT_ID);
	query.addQueryItem(QStringLiteral("redirect_uri"), m_oauthServer->redirectUri());
	query.addQueryItem(QStringLiteral("response_type"), QStringLiteral("code"));
	query.addQueryItem(QStringLiteral("scope"), SCOPES);
	query.addQueryItem(QStringLiteral("state"), m_pendingState);
	query.addQueryItem(QStringLiteral("code_challenge"), challenge);
	query.addQueryItem(QStringLiteral("code_challenge_method"), QStringLiteral("S256"));
	QUrl url(m_oauthBaseUrl + QStringLiteral("/authorize"));
	url.setQuery(query);

	obs_log(LOG_INFO, "Tiplark: Opening authorization URL");
	QDesktopServices::openUrl(url);
	m_signInTimer->start();
}

void AuthManager::cancelLogin()
{
	// The browser may have come back already, its code on the way to the token endpoint.
	++m_attempt;
	endSignIn();
	obs_log(LOG_INFO, "Tiplark: Sign-in cancelled");
}

void AuthManager::endSignIn()
{
	m_signInTimer->stop();
	m_oauthServer->setExpectedState(QString());
	m_oauthServer->stop();
}

void AuthManager::handleOAuthCallback(const QString &code)
{
	// The listener passes on only the redirect that carries the pending state.
	obs_log(LOG_INFO, "Tiplark: OAuth callback received, code length: %d", int(code.length()));
	endSignIn();
	obs_log(LOG_INFO, "Tiplark: State verified, exchanging code for token...");
	exchangeCodeForToken(code);
}

void AuthManager::onRedirectFailed(const QString &error)
{
	endSignIn();
	obs_log(LOG_WARNING, "Tiplark: Sign-in refused by the authorization server: %s", logText(error).constData());
	emit authenticationComplete(false);
}

void AuthManager::onSignInTimedOut()
{
	endSignIn();
	obs_log(LOG_WARNING, "Tiplark: Sign-in abandoned, the browser did not come back within %d s",
		m_signInTimer->interval() / 1000);
	emit authenticationComplete(false);
}

void AuthManager::exchangeCodeForToken(const QString &code)
{
	const QString url = m_oauthBaseUrl + QStringLiteral("/token");
	const QString redirectUri = m_oauthServer->redirectUri();
	obs_log(LOG_INFO, "Tiplark: Token exchange URL: %s", url.toUtf8().constData());
	obs_log(LOG_INFO, "Tiplark: Redirect URI: %s", redirectUri.toUtf8().constData());

	const QByteArray body = formBody({{QStringLiteral("grant_type"), QStringLiteral("authorization_code")},
					  {QStringLiteral("client_id"), CLIENT_ID},
					  {QStringLiteral("code"), code},
					  {QStringLiteral("redirect_uri"), redirectUri},
					  {QStringLiteral("code_verifier"), m_pendingCodeVerifier}});
	const QMap<QString, QString> headers = tokenRequestHeaders();
	obs_log(LOG_DEBUG, "Tiplark: Token request body: %s", maskForm(body).constData());

	const auto answer = std::make_shared<TokenAnswer>();
	const quint64 attempt = m_attempt;
	runInBackground(
		this, [url, body, headers, answer] { return postForTokens(url, body, headers, *answer); },
		[this, answer, attempt](const HttpResponse &response) {
			onExchangeFinished(response, *answer, attempt);
		});
}

void AuthManager::onExchangeFinished(const HttpResponse &response, const TokenAnswer &answer, quint64 attempt)
{
	// Cancelled, or followed by another sign-in whose pending values are not this answer's to clear.
	if (attempt != m_attempt) {
		obs_log(LOG_INFO, "Tiplark: Token exchange answer ignored, the sign-in was cancelled or begun again");
		return;
	}
	QString failure = response.error;
	// The token endpoint's answers, failed ones too, may carry tokens: none of their bodies is logged.
	if (isSuccess(response)) {
		if (!answer.accessToken.isEmpty() && !answer.refreshToken.isEmpty()) {
			obs_log(LOG_INFO,
				"Tiplark: Got access token (length: %d), refresh token (length: %d), expires in: %d",
				int(answer.accessToken.length()), int(answer.refreshToken.length()), answer.expiresIn);
			m_accessToken = answer.accessToken;
			m_refreshToken = answer.refreshToken;
			m_tokenExpiresAt = QDateTime::currentDateTime().addSecs(answer.expiresIn);
			const bool saved = saveTokens();
			m_pendingState.clear();
			m_pendingCodeVerifier.clear();
			obs_log(LOG_INFO, saved ? "Tiplark: Authentication successful, tokens saved"
						: "Tiplark: Authentication successful, tokens not saved");
			emit authenticationComplete(true);
			return;
		}
		// A sign-in without both tokens would look like success and leave the streamer signed out.
		failure = QStringLiteral("Token response without access_token and refresh_token");
	}

	obs_log(LOG_WARNING, "Tiplark: Token exchange failed: %s (HTTP %d)", failure.toUtf8().constData(),
		response.statusCode);
	emit authenticationComplete(false);
}

void AuthManager::refreshAccessToken()
{
	if (m_refreshToken.isEmpty()) {
		obs_log(LOG_WARNING, "Tiplark: No refresh token available");
		return;
	}
	// Its answer serves every request that was rejected meanwhile; a second refresh would present a
	// refresh token that a rotating server has already replaced, and sign the streamer out.
	if (m_refreshInFlight)
		return;
	// A service that keeps failing is not asked again on every rejected request of every tick.
	if (m_refreshFailures >= REFRESH_FAILURES_BEFORE_BACKOFF && m_lastRefresh.isValid() &&
	    !m_lastRefresh.hasExpired(REFRESH_BACKOFF_MS)) {
		obs_log(LOG_DEBUG, "Tiplark: Token refresh held back after %d failures in a row", m_refreshFailures);
		return;
	}
	doRefreshToken();
}

void AuthManager::doRefreshToken()
{
	const QString url = m_oauthBaseUrl + QStringLiteral("/token");
	const QByteArray body = formBody({{QStringLiteral("grant_type"), QStringLiteral("refresh_token")},
					  {QStringLiteral("client_id"), CLIENT_ID},
					  {QStringLiteral("refresh_token"), m_refreshToken}});
	const QMap<QString, QString> headers = tokenRequestHeaders();

	m_refreshInFlight = true;
	m_lastRefresh.start();
	const quint64 session = m_session;
	const auto answer = std::make_shared<TokenAnswer>();
	runInBackground(
		this, [url, body, headers, answer] { return postForTokens(url, body, headers, *answer); },
		[this, session, answer](const HttpResponse &response) {
			onRefreshFinished(response, *answer, session);
		});
}

void AuthManager::onRefreshFinished(const HttpResponse &response, const TokenAnswer &answer, quint64 session)
{
	// The streamer logged out while this refresh was on its way: storing its tokens would sign them
	// back in unasked, and a rejection would delete the tokens of a sign-in made since.
	if (session != m_session) {
		obs_log(LOG_INFO, "Tiplark: Token refresh answer ignored, logged out meanwhile");
		return;
	}
	m_refreshInFlight = false;

	if (isSuccess(response)) {
		// Keeping the sign-in would refresh it again with every rejected request, for ever.
		if (answer.accessToken.isEmpty()) {
			obs_log(LOG_WARNING, "Tiplark: Token refresh failed: %s",
				"Token response without access_token");
			logout();
			return;
		}
		m_refreshFailures = 0;
		m_accessToken = answer.accessToken;
		// The server may keep the refresh token as it is and leave it out of the answer.
		if (!answer.refreshToken.isEmpty())
			m_refreshToken = answer.refreshToken;
		m_tokenExpiresAt = QDateTime::currentDateTime().addSecs(answer.expiresIn);
		saveTokens();
		obs_log(LOG_INFO, "Tiplark: Token refreshed");
		emit accessTokenRefreshed();
		return;
	}

	obs_log(LOG_WARNING, "Tiplark: Token refresh failed: %s", response.error.toUtf8().constData());
	if (isRejection(response)) {
		logout();
		return;
	}
	++m_refreshFailures;
	// A network blip or a server in trouble says nothing about the sign-in; the next 401 tries again.
	obs_log(LOG_INFO, "Tiplark: Keeping the sign-in (HTTP %d), the refresh is tried again on the next rejection",
		response.statusCode);
}

void AuthManager::logout()
{
	++m_session;
	m_refreshInFlight = false;
	m_refreshFailures = 0;
	m_accessToken.clear();
	m_refreshToken.clear();
	m_tokenExpiresAt = QDateTime();
	const bool deleted = m_tokenStore->clear();
	obs_log(LOG_INFO, "Tiplark: Logged out");
	if (!deleted)
		emit tokensNotDeleted();
}

bool AuthManager::saveTokens()
{
	m_tokenStore->setAccessToken(m_accessToken);
	m_tokenStore->setRefreshToken(m_refreshToken);
	m_tokenStore->setTokenExpiresAt(m_tokenExpiresAt);
	m_tokenStore->setOAuthOrigin(m_oauthOrigin);
	m_tokenStore->setApiOrigin(m_apiOrigin);
	if (m_tokenStore->save())
		return true;
	emit tokensNotSaved();
	return false;
}
