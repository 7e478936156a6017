#include "oauth-endpoints.h"

#include "endpoints.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutexLocker>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSet>
#include <QUrl>

namespace Sandbox {
namespace {

using namespace OAuth;

const int DEFAULT_EXPIRES_IN = 3600;

// key=value&key=value, "+" for a space, percent-encoded (application/x-www-form-urlencoded). The first
// occurrence of a key counts.
QHash<QByteArray, QByteArray> parseForm(const QByteArray &form)
{
	QHash<QByteArray, QByteArray> values;
	for (const QByteArray &pair : form.split('&')) {
		if (pair.isEmpty())
			continue;
		const int equals = pair.indexOf('=');
		QByteArray key = equals < 0 ? pair : pair.left(equals);
		QByteArray value = equals < 0 ? QByteArray() : pair.mid(equals + 1);
		key = QByteArray::fromPercentEncoding(key.replace('+', ' '));
		value = QByteArray::fromPercentEncoding(value.replace('+', ' '));
		if (!values.contains(key))
			values.insert(key, value);
	}
	return values;
}

QByteArray randomText(const char *prefix, int length)
{
	static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
	QByteArray text(prefix);
	for (int i = 0; i < length; ++i)
		text.append(alphabet[QRandomGenerator::global()->bounded(int(sizeof(alphabet)) - 1)]);
	return text;
}

QByteArray s256(const QByteArray &verifier)
{
	return QCryptographicHash::hash(verifier, QCryptographicHash::Sha256)
		.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
}

Reply jsonError(int status, const QByteArray &error, const QString &description)
{
	return Reply::json(status, QJsonDocument(QJsonObject{{"error", QString::fromUtf8(error)},
							     {"error_description", description}})
					   .toJson(QJsonDocument::Compact));
}

Reply redirectTo(const QByteArray &location)
{
	Reply reply;
	reply.status = 302;
	reply.contentType = "text/html; charset=utf-8";
	reply.body = "<a href=\"" + location.toPercentEncoding(":/?&=%") + "\">Continue</a>";
	reply.headers.append({"Location", location});
	return reply;
}

QByteArray withQuery(const QByteArray &uri, const QList<QPair<QByteArray, QByteArray>> &items)
{
	QByteArray location = uri + '?';
	for (int i = 0; i < items.size(); ++i) {
		if (i > 0)
			location += '&';
		location += items[i].first + '=' + items[i].second.toPercentEncoding();
	}
	return location;
}

bool flag(const State &state, const char *key)
{
	return state.values.value(QString::fromLatin1(key)).toBool();
}

void setMapEntry(State &state, const char *key, const QByteArray &entry, const QVariant &value)
{
	QVariantHash map = state.values.value(QString::fromLatin1(key)).toHash();
	map.insert(QString::fromLatin1(entry), value);
	state.values.insert(QString::fromLatin1(key), map);
}

bool mapFlag(const State &state, const char *key, const QByteArray &entry)
{
	return !entry.isEmpty() &&
	       state.values.value(QString::fromLatin1(key)).toHash().value(QString::fromLatin1(entry)).toBool();
}

// Issues a token pair (a refresh token only when none is kept) and answers with it. Holds state.mutex.
Reply tokenAnswer(State &state, QByteArray refreshToken)
{
	const QByteArray accessToken = randomText("tla_", 40);
	setMapEntry(state, ACCESS_TOKENS, accessToken, true);
	if (refreshToken.isEmpty()) {
		// With a "+", as base64 tokens have: a form parser reads an unencoded one as a space.
		refreshToken = randomText("tlr+", 40);
		setMapEntry(state, REFRESH_TOKENS, refreshToken, true);
	}
	const QVariant expiresIn = state.values.value(QString::fromLatin1(EXPIRES_IN));
	QJsonObject answer{{"access_token", QString::fromLatin1(accessToken)},
			   {"token_type", "Bearer"},
			   {"expires_in", expiresIn.isValid() ? expiresIn.toInt() : DEFAULT_EXPIRES_IN},
			   {"scope", QString::fromLatin1(SCOPES)}};
	answer.insert("refresh_token", QString::fromLatin1(refreshToken));
	return Reply::json(200, QJsonDocument(answer).toJson(QJsonDocument::Compact));
}

Reply authorize(const Request &request, State &state)
{
	const QHash<QByteArray, QByteArray> query = parseForm(request.query);
	const QByteArray redirectUri = query.value("redirect_uri");
	static const QRegularExpression loopback(QStringLiteral("^http://127\\.0\\.0\\.1:(3808[0-4])/callback$"));

	// Never redirect to an address that has not been checked: these two are answered here.
	if (query.value("client_id") != CLIENT_ID)
		return jsonError(400, "invalid_client", QStringLiteral("unknown client_id"));
	if (!loopback.match(QString::fromUtf8(redirectUri)).hasMatch())
		return jsonError(400, "invalid_request",
				 QStringLiteral("redirect_uri is not a registered loopback URI"));

	const QByteArray state_ = query.value("state");
	auto refuse = [&](const QByteArray &error) {
		QList<QPair<QByteArray, QByteArray>> items{{"error", error}};
		if (!state_.isEmpty())
			items.append({"state", state_});
		return redirectTo(withQuery(redirectUri, items));
	};

	if (query.value("response_type") != "code")
		return refuse("unsupported_response_type");
	const QList<QByteArray> requested = query.value("scope").split(' ');
	const QList<QByteArray> known = QByteArray(SCOPES).split(' ');
	if (QSet<QByteArray>(requested.begin(), requested.end()) != QSet<QByteArray>(known.begin(), known.end()))
		return refuse("invalid_scope");
	static const QRegularExpression challengeForm(QStringLiteral("^[A-Za-z0-9_-]{43}$"));
	if (state_.isEmpty() || query.value("code_challenge_method") != "S256" ||
	    !challengeForm.match(QString::fromLatin1(query.value("code_challenge"))).hasMatch())
		return refuse("invalid_request");

	QMutexLocker lock(&state.mutex);
	const QByteArray error = state.values.value(QString::fromLatin1(AUTHORIZE_ERROR)).toString().toUtf8();
	if (!error.isEmpty())
		return refuse(error);

	const QByteArray code = randomText("tlc_", 32);
	setMapEntry(state, CODES, code,
		    QVariantHash{{"redirect_uri", QString::fromUtf8(redirectUri)},
				 {"code_challenge", QString::fromLatin1(query.value("code_challenge"))},
				 {"used", false}});
	return redirectTo(withQuery(redirectUri, {{"code", code}, {"state", state_}}));
}

Reply exchangeCode(const QHash<QByteArray, QByteArray> &form, State &state)
{
	QMutexLocker lock(&state.mutex);
	QVariantHash codes = state.values.value(QString::fromLatin1(CODES)).toHash();
	const QString code = QString::fromUtf8(form.value("code"));
	if (!codes.contains(code))
		return jsonError(400, "invalid_grant", QStringLiteral("unknown code"));
	QVariantHash issued = codes.value(code).toHash();
	if (issued.value("used").toBool())
		return jsonError(400, "invalid_grant", QStringLiteral("code already used"));
	// A code is spent by its first presentation, right or wrong.
	issued.insert("used", true);
	codes.insert(code, issued);
	state.values.insert(QString::fromLatin1(CODES), codes);

	if (form.value("redirect_uri") != issued.value("redirect_uri").toString().toUtf8())
		return jsonError(400, "invalid_grant",
				 QStringLiteral("redirect_uri differs from the authorization request"));
	static const QRegularExpression verifierForm(QStringLiteral("^[A-Za-z0-9._~-]{43,128}$"));
	const QByteArray verifier = form.value("code_verifier");
	if (!verifierForm.match(QString::fromLatin1(verifier)).hasMatch() ||
	    s256(verifier) != issued.value("code_challenge").toString().toLatin1())
		return jsonError(400, "invalid_grant",
				 QStringLiteral("code_verifier does not match the code_challenge"));
	return tokenAnswer(state, QByteArray());
}

Reply refresh(const QHash<QByteArray, QByteArray> &form, State &state)
{
	QMutexLocker lock(&state.mutex);
	const QByteArray refreshToken = form.value("refresh_token");
	if (!mapFlag(state, REFRESH_TOKENS, refreshToken))
		return jsonError(400, "invalid_grant", QStringLiteral("refresh token is not valid"));

	// A server that leaves the refresh token out of its answer keeps it as it is.
	const bool omit = flag(state, OMIT_REFRESH_TOKEN);
	QByteArray kept = refreshToken;
	if (flag(state, ROTATE_REFRESH_TOKENS) && !omit) {
		setMapEntry(state, REFRESH_TOKENS, refreshToken, false);
		kept.clear();
	}
	Reply reply = tokenAnswer(state, kept);
	if (omit) {
		QJsonObject answer = QJsonDocument::fromJson(reply.body).object();
		answer.remove("refresh_token");
		reply.body = QJsonDocument(answer).toJson(QJsonDocument::Compact);
	}
	return reply;
}

Reply token(const Request &request, State &state)
{
	if (!request.header("Content-Type").startsWith("application/x-www-form-urlencoded"))
		return jsonError(400, "invalid_request", QStringLiteral("form body expected"));
	const QHash<QByteArray, QByteArray> form = parseForm(request.body);
	if (form.value("client_id") != CLIENT_ID)
		return jsonError(401, "invalid_client", QStringLiteral("unknown client_id"));
	const QByteArray grant = form.value("grant_type");
	if (grant == "authorization_code")
		return exchangeCode(form, state);
	if (grant == "refresh_token")
		return refresh(form, state);
	return jsonError(400, "unsupported_grant_type", QStringLiteral("unsupported grant_type"));
}

} // namespace

namespace OAuth {

bool isAccessTokenValid(State &state, const QByteArray &token)
{
	QMutexLocker lock(&state.mutex);
	return mapFlag(state, ACCESS_TOKENS, token);
}

bool isRefreshTokenValid(State &state, const QByteArray &token)
{
	QMutexLocker lock(&state.mutex);
	return mapFlag(state, REFRESH_TOKENS, token);
}

void expireAccessToken(State &state, const QByteArray &token)
{
	QMutexLocker lock(&state.mutex);
	if (mapFlag(state, ACCESS_TOKENS, token))
		setMapEntry(state, ACCESS_TOKENS, token, false);
}

void expireAccessTokens(State &state)
{
	QMutexLocker lock(&state.mutex);
	QVariantHash tokens = state.values.value(QString::fromLatin1(ACCESS_TOKENS)).toHash();
	for (auto it = tokens.begin(); it != tokens.end(); ++it)
		it.value() = false;
	state.values.insert(QString::fromLatin1(ACCESS_TOKENS), tokens);
}

Tokens issueTokens(State &state)
{
	QMutexLocker lock(&state.mutex);
	const QJsonObject answer = QJsonDocument::fromJson(tokenAnswer(state, QByteArray()).body).object();
	return {answer.value("access_token").toString().toLatin1(),
		answer.value("refresh_token").toString().toLatin1()};
}

void setSwitch(State &state, const char *key, const QVariant &value)
{
	QMutexLocker lock(&state.mutex);
	state.values.insert(QString::fromLatin1(key), value);
}

} // namespace OAuth

EndpointGroup oauthEndpoints()
{
	const QList<Endpoint> endpoints = {
		{"GET", QStringLiteral("/oauth/authorize"), authorize},
		{"POST", QStringLiteral("/oauth/token"), token},
	};
	return {endpoints, {}};
}

} // namespace Sandbox
