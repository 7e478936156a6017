#include "browser-stand-in.h"
#include "http/curl-helper.h"
#include "oauth-endpoints.h"
#include "sandbox-server.h"
#include "test-main.h"

#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QUrlQuery>

// The sandbox's authorization server must be as strict as the real one, or the sign-in tests would
// pass against it with a broken request.
namespace {
const QByteArray VERIFIER = "dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk";
const QByteArray CHALLENGE = "E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM";
const QByteArray REDIRECT = "http://127.0.0.1:38081/callback";

QMap<QByteArray, QByteArray> authorizeParameters()
{
	return {{"client_id", Sandbox::OAuth::CLIENT_ID}, {"redirect_uri", REDIRECT}, {"response_type", "code"},
		{"scope", Sandbox::OAuth::SCOPES},        {"state", "St4te"},         {"code_challenge", CHALLENGE},
		{"code_challenge_method", "S256"}};
}

QByteArray form(const QMap<QByteArray, QByteArray> &values)
{
	QByteArray text;
	for (auto it = values.begin(); it != values.end(); ++it)
		text += (text.isEmpty() ? "" : "&") + it.key() + '=' + it.value().toPercentEncoding();
	return text;
}

HttpResponse postToken(const QString &base, const QMap<QByteArray, QByteArray> &values)
{
	return CurlHelper::post(base + "/oauth/token", form(values),
				{{"Content-Type", "application/x-www-form-urlencoded"}});
}

QByteArray jsonMember(const HttpResponse &response, const char *key)
{
	return QJsonDocument::fromJson(response.body).object().value(key).toString().toLatin1();
}
} // namespace

class TestSandboxOAuth : public QObject {
	Q_OBJECT

	Sandbox::Server m_sandbox;

	QByteArray authorizedCode()
	{
		QUrlQuery query;
		const auto parameters = authorizeParameters();
		for (auto it = parameters.begin(); it != parameters.end(); ++it)
			query.addQueryItem(it.key(), QString::fromLatin1(it.value().toPercentEncoding()));
		const Hop hop =
			fetch(QUrl(m_sandbox.baseUrl() + "/oauth/authorize?" + query.query(QUrl::FullyEncoded)));
		return QUrlQuery(QUrl::fromEncoded(hop.location)).queryItemValue("code").toLatin1();
	}

private slots:
	void initTestCase() { QVERIFY(m_sandbox.start()); }
	void init() { m_sandbox.reset(); }

	void authorize_data()
	{
		QTest::addColumn<QByteArray>("key");
		QTest::addColumn<QByteArray>("value");
		QTest::addColumn<QByteArray>("authorizeError");
		QTest::addColumn<int>("status");
		QTest::addColumn<QByteArray>("redirectError");

		QTest::newRow("valid") << QByteArray() << QByteArray() << QByteArray() << 302 << QByteArray();
		QTest::newRow("unknown client")
			<< QByteArray("client_id") << QByteArray("other") << QByteArray() << 400 << QByteArray();
		QTest::newRow("redirect elsewhere")
			<< QByteArray("redirect_uri") << QByteArray("http://example.com/callback") << QByteArray()
			<< 400 << QByteArray();
		QTest::newRow("redirect off the range")
			<< QByteArray("redirect_uri") << QByteArray("http://127.0.0.1:38085/callback") << QByteArray()
			<< 400 << QByteArray();
		QTest::newRow("implicit flow") << QByteArray("response_type") << QByteArray("token") << QByteArray()
					       << 302 << QByteArray("unsupported_response_type");
		QTest::newRow("scope missing") << QByteArray("scope") << QByteArray("user:read") << QByteArray() << 302
					       << QByteArray("invalid_scope");
		QTest::newRow("no state")
			<< QByteArray("state") << QByteArray() << QByteArray() << 302 << QByteArray("invalid_request");
		QTest::newRow("plain method") << QByteArray("code_challenge_method") << QByteArray("plain")
					      << QByteArray() << 302 << QByteArray("invalid_request");
		QTest::newRow("short challenge") << QByteArray("code_challenge") << CHALLENGE.left(42) << QByteArray()
						 << 302 << QByteArray("invalid_request");
		QTest::newRow("streamer declines") << QByteArray() << QByteArray() << QByteArray("access_denied") << 302
						   << QByteArray("access_denied");
	}

	void authorize()
	{
		QFETCH(QByteArray, key);
		QFETCH(QByteArray, value);
		QFETCH(QByteArray, authorizeError);
		QFETCH(int, status);
		QFETCH(QByteArray, redirectError);

		Sandbox::OAuth::setSwitch(m_sandbox.state(), Sandbox::OAuth::AUTHORIZE_ERROR,
					  QString::fromLatin1(authorizeError));
		auto parameters = authorizeParameters();
		if (!key.isEmpty())
			parameters[key] = value;
		QUrlQuery query;
		for (auto it = parameters.begin(); it != parameters.end(); ++it)
			query.addQueryItem(it.key(), QString::fromLatin1(it.value().toPercentEncoding()));
		const Hop hop =
			fetch(QUrl(m_sandbox.baseUrl() + "/oauth/authorize?" + query.query(QUrl::FullyEncoded)));
		QCOMPARE(hop.status, status);
		if (status != 302) {
			QVERIFY(hop.location.isEmpty());
			return;
		}
		const QUrl location = QUrl::fromEncoded(hop.location);
		QCOMPARE(location.toString(QUrl::RemoveQuery), QString::fromLatin1(REDIRECT));
		const QUrlQuery answer(location);
		QCOMPARE(answer.queryItemValue("state"), parameters.value("state"));
		QCOMPARE(answer.queryItemValue("error").toLatin1(), redirectError);
		QCOMPARE(answer.hasQueryItem("code"), redirectError.isEmpty());
	}

	void codeExchange_data()
	{
		QTest::addColumn<QByteArray>("key");
		QTest::addColumn<QByteArray>("value");
		QTest::addColumn<int>("status");
		QTest::addColumn<bool>("codeSpent");

		QTest::newRow("right verifier") << QByteArray() << QByteArray() << 200 << true;
		QTest::newRow("wrong verifier") << QByteArray("code_verifier") << QByteArray(43, 'v') << 400 << true;
		QTest::newRow("no verifier") << QByteArray("code_verifier") << QByteArray() << 400 << true;
		QTest::newRow("other redirect URI")
			<< QByteArray("redirect_uri") << QByteArray("http://127.0.0.1:38080/callback") << 400 << true;
		QTest::newRow("unknown code") << QByteArray("code") << QByteArray("tlc_made_up") << 400 << false;
		QTest::newRow("unknown client") << QByteArray("client_id") << QByteArray("other") << 401 << false;
		QTest::newRow("other grant") << QByteArray("grant_type") << QByteArray("password") << 400 << false;
	}

	void codeExchange()
	{
		QFETCH(QByteArray, key);
		QFETCH(QByteArray, value);
		QFETCH(int, status);
		QFETCH(bool, codeSpent);

		const QMap<QByteArray, QByteArray> valid{{"grant_type", "authorization_code"},
							 {"client_id", Sandbox::OAuth::CLIENT_ID},
							 {"code", authorizedCode()},
							 {"redirect_uri", REDIRECT},
							 {"code_verifier", VERIFIER}};
		QVERIFY(valid["code"].startsWith("tlc_"));
		QMap<QByteArray, QByteArray> values = valid;
		if (!key.isEmpty())
			values[key] = value;
		const HttpResponse first = postToken(m_sandbox.baseUrl(), values);
		QCOMPARE(first.statusCode, status);
		if (status == 200) {
			QVERIFY(Sandbox::OAuth::isAccessTokenValid(m_sandbox.state(),
								   jsonMember(first, "access_token")));
			QVERIFY(Sandbox::OAuth::isRefreshTokenValid(m_sandbox.state(),
								    jsonMember(first, "refresh_token")));
			QCOMPARE(QJsonDocument::fromJson(first.body)["expires_in"].toInt(), 3600);
		} else if (status == 400) {
			QVERIFY(!jsonMember(first, "error").isEmpty());
		}
		// A code works once, whatever became of its first presentation.
		QCOMPARE(postToken(m_sandbox.baseUrl(), valid).statusCode, codeSpent ? 400 : 200);
	}

	void refreshAndExpiry()
	{
		Sandbox::State &state = m_sandbox.state();
		const Sandbox::OAuth::Tokens tokens = Sandbox::OAuth::issueTokens(state);
		QVERIFY(Sandbox::OAuth::isAccessTokenValid(state, tokens.accessToken));
		QVERIFY(!Sandbox::OAuth::isAccessTokenValid(state, "tla_made_up"));
		QVERIFY(!Sandbox::OAuth::isAccessTokenValid(state, QByteArray()));

		const QMap<QByteArray, QByteArray> refresh{{"grant_type", "refresh_token"},
							   {"client_id", Sandbox::OAuth::CLIENT_ID},
							   {"refresh_token", tokens.refreshToken}};
		// Without rotation the refresh token stays and may be used again.
		HttpResponse answer = postToken(m_sandbox.baseUrl(), refresh);
		QCOMPARE(answer.statusCode, 200);
		QCOMPARE(jsonMember(answer, "refresh_token"), tokens.refreshToken);
		const QByteArray second = jsonMember(answer, "access_token");
		QVERIFY(Sandbox::OAuth::isAccessTokenValid(state, second));

		Sandbox::OAuth::setSwitch(state, Sandbox::OAuth::OMIT_REFRESH_TOKEN, true);
		answer = postToken(m_sandbox.baseUrl(), refresh);
		QCOMPARE(answer.statusCode, 200);
		QVERIFY(!QJsonDocument::fromJson(answer.body).object().contains("refresh_token"));
		Sandbox::OAuth::setSwitch(state, Sandbox::OAuth::OMIT_REFRESH_TOKEN, false);

		// With rotation each refresh token works once.
		Sandbox::OAuth::setSwitch(state, Sandbox::OAuth::ROTATE_REFRESH_TOKENS, true);
		answer = postToken(m_sandbox.baseUrl(), refresh);
		QCOMPARE(answer.statusCode, 200);
		const QByteArray rotated = jsonMember(answer, "refresh_token");
		QVERIFY(rotated != tokens.refreshToken);
		answer = postToken(m_sandbox.baseUrl(), refresh);
		QCOMPARE(answer.statusCode, 400);
		QCOMPARE(jsonMember(answer, "error"), QByteArray("invalid_grant"));
		QVERIFY(Sandbox::OAuth::isRefreshTokenValid(state, rotated));

		Sandbox::OAuth::expireAccessToken(state, second);
		QVERIFY(!Sandbox::OAuth::isAccessTokenValid(state, second));
		QVERIFY(Sandbox::OAuth::isAccessTokenValid(state, tokens.accessToken));
		Sandbox::OAuth::expireAccessTokens(state);
		QVERIFY(!Sandbox::OAuth::isAccessTokenValid(state, tokens.accessToken));

		m_sandbox.reset();
		QVERIFY(!Sandbox::OAuth::isRefreshTokenValid(state, rotated));
	}
};

TIPLARK_TEST_MAIN(TestSandboxOAuth)
#include "test-sandbox-oauth.moc"
