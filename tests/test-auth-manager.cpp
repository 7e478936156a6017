#include "auth/auth-manager.h"
#include "auth/token-store.h"
#include "browser-stand-in.h"
#include "held-ports.h"
#include "log-capture.h"
#include "oauth-endpoints.h"
#include "plugin-support.h"
#include "sandbox-server.h"
#include "sandbox-sign-in.h"
#include "test-main.h"
#include "token-file.h"

#include <QCryptographicHash>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator64>
#include <QRegularExpression>
#include <QSet>
#include <QSignalSpy>
#include <QTcpServer>
#include <QUrlQuery>

#include <memory>
#include <sys/stat.h>
#include <vector>

namespace {
const QString PREFIX = QStringLiteral("[tiplark-obs-plugin] ");
const QByteArray CLIENT_ID = "0190c3a1-7d2e-7b44-9f10-2a6e5c8d1b37";
const QString REDIRECT_URI = QStringLiteral("http://127.0.0.1:38080/callback");
const QString REDIRECT_URI_FORM = QStringLiteral("http%3A%2F%2F127.0.0.1%3A38080%2Fcallback");

QByteArray s256(const QByteArray &verifier)
{
	return QCryptographicHash::hash(verifier, QCryptographicHash::Sha256)
		.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
}

// Lines of the plug-in's own sign-in code, without the transport's.
QStringList authLines(const LogCapture &log)
{
	QStringList lines;
	for (const LogCapture::Line &line : log.lines())
		if (line.text.startsWith(PREFIX + "Tiplark: "))
			lines.append(QString::number(line.level) + " " + line.text.mid(PREFIX.size()));
	return lines;
}

QString info(const QString &text)
{
	return QString::number(LOG_INFO) + " " + text;
}

QString warning(const QString &text)
{
	return QString::number(LOG_WARNING) + " " + text;
}

QString debug(const QString &text)
{
	return QString::number(LOG_DEBUG) + " " + text;
}

QUrl withState(const QUrl &redirect, const QString &state)
{
	QUrlQuery query(redirect);
	query.removeAllQueryItems("state");
	query.addQueryItem("state", state);
	QUrl changed = redirect;
	changed.setQuery(query);
	return changed;
}

} // namespace

Q_DECLARE_METATYPE(Sandbox::Fault)

class TestAuthManager : public QObject {
	Q_OBJECT

private:
	Sandbox::Server m_sandbox;
	UrlCatcher m_browser;
	QString m_configDir;

	Sandbox::State &sandboxState() { return m_sandbox.state(); }

	// Long past: the stored expiry is never consulted.
	const QDateTime EARLIER_EXPIRY = QDateTime(QDate(2020, 1, 1), QTime(0, 0));

	// Saves a sign-in the sandbox knows, as a previous session of OBS would have left it.
	Sandbox::OAuth::Tokens signInEarlier() { return saveSandboxSignIn(m_sandbox, EARLIER_EXPIRY); }

	void saveTokens(const QByteArray &access, const QByteArray &refresh)
	{
		TokenStore store;
		store.setAccessToken(QString::fromLatin1(access));
		store.setRefreshToken(QString::fromLatin1(refresh));
		store.setTokenExpiresAt(EARLIER_EXPIRY);
		store.setOAuthOrigin(sandboxAddresses(m_sandbox).oauthOrigin());
		store.setApiOrigin(sandboxAddresses(m_sandbox).apiOrigin());
		store.save();
	}

	// startLogin, then the browser's visit to the authorization page; returns where it redirects to.
	QUrl authorize(AuthManager &auth)
	{
		m_browser.urls.clear();
		auth.startLogin();
		if (m_browser.urls.size() != 1)
			return QUrl();
		const Hop hop = fetch(m_browser.urls.first());
		if (hop.status != 302)
			return QUrl();
		return QUrl::fromEncoded(hop.location);
	}

	// The browser follows the redirect to the plug-in's listener.
	bool deliver(const QUrl &redirect)
	{
		const Hop hop = fetch(redirect);
		return hop.status == 200 && hop.body.contains("<!DOCTYPE html>");
	}

	QList<Sandbox::Request> tokenRequests() const { return m_sandbox.requests("/oauth/token"); }

private slots:
	void initTestCase()
	{
		QVERIFY(m_sandbox.start());
		QDesktopServices::setUrlHandler("http", &m_browser, "open");
		m_configDir = ObsHostStandIn::configDir();
	}

	void cleanupTestCase()
	{
		QDesktopServices::unsetUrlHandler("http");
		m_sandbox.stop();
	}

	void init()
	{
		m_sandbox.reset();
		m_browser.urls.clear();
		QDir(m_configDir).removeRecursively();
		QVERIFY(QDir().mkpath(m_configDir));
	}

	void randomStrings_data()
	{
		QTest::addColumn<int>("length");
		QTest::addColumn<int>("expected");
		QTest::newRow("zero") << 0 << 0;
		QTest::newRow("negative") << -1 << 0;
		QTest::newRow("very negative") << -1000 << 0;
		QTest::newRow("one") << 1 << 1;
		QTest::newRow("state") << 32 << 32;
	}

	void randomStrings()
	{
		QFETCH(int, length);
		QFETCH(int, expected);
		AuthManager auth(sandboxAddresses(m_sandbox));
		const QString text = auth.generateRandomString(length);
		QCOMPARE(text.size(), expected);
		QVERIFY(QRegularExpression("^[A-Za-z0-9]*$").match(text).hasMatch());
	}

	void everyCharacterOfTheAlphabetsIsDrawn()
	{
		// A mask one bit short, or an alphabet cut at either end, leaves characters out.
		AuthManager auth(sandboxAddresses(m_sandbox));
		QSet<QChar> stateChars, verifierChars;
		for (int i = 0; i < 300; ++i) {
			const QString verifier = auth.generateCodeVerifier();
			QCOMPARE(verifier.size(), 64);
			for (QChar c : verifier)
				verifierChars.insert(c);
			for (QChar c : auth.generateRandomString(64))
				stateChars.insert(c);
		}
		const QString stateAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
		const QString verifierAlphabet = stateAlphabet + "-._~";
		QCOMPARE(stateChars, QSet<QChar>(stateAlphabet.begin(), stateAlphabet.end()));
		QCOMPARE(verifierChars, QSet<QChar>(verifierAlphabet.begin(), verifierAlphabet.end()));
	}

	// PKCE and state come from the system's secure source, not from the generator all of OBS shares,
	// whose next outputs follow from its present state.
	void secretsDoNotComeFromTheSharedGenerator()
	{
		AuthManager auth(sandboxAddresses(m_sandbox));
		QRandomGenerator64 copy = *QRandomGenerator64::global();
		auth.generateRandomString(32);
		auth.generateCodeVerifier();
		QCOMPARE(QRandomGenerator64::global()->generate(), copy.generate());
	}

	void codeChallenge_data()
	{
		QTest::addColumn<QString>("verifier");
		QTest::addColumn<QString>("challenge");
		// RFC 7636, appendix B.
		QTest::newRow("RFC 7636") << "dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk"
					  << "E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM";
		// SHA-256 of the empty text, in the URL-safe alphabet ("-" and "_" in place of "+" and "/").
		QTest::newRow("empty") << ""
				       << "47DEQpj8HBSa-_TImW-5JCeuQeRkm5NMpJWZG3hSuFU";
	}

	void codeChallenge()
	{
		QFETCH(QString, verifier);
		QFETCH(QString, challenge);
		AuthManager auth(sandboxAddresses(m_sandbox));
		QCOMPARE(auth.generateCodeChallenge(verifier), challenge);
	}

	void construction_data()
	{
		// ORIGIN and API stand for the OAuth and API origins of the addresses in use.
		QTest::addColumn<QByteArray>("file");
		// The addresses in use: the sandbox's, production's, or production's OAuth server beside another
		// API, or production's written with a default port and closing dots.
		QTest::addColumn<QString>("service");
		QTest::addColumn<bool>("authenticated");
		// The warning about a sign-in that is not used.
		QTest::addColumn<QString>("refused");
		QTest::newRow("both tokens, long expired")
			<< QByteArray(
				   R"({"access_token":"a","api_origin":"API","expires_at":"2001-01-01T00:00:00","oauth_origin":"ORIGIN","refresh_token":"r"})")
			<< "sandbox" << true << "";
		QTest::newRow("access token only")
			<< QByteArray(
				   R"({"access_token":"a","api_origin":"API","expires_at":"","oauth_origin":"ORIGIN","refresh_token":""})")
			<< "sandbox" << false << "";
		QTest::newRow("refresh token only")
			<< QByteArray(
				   R"({"access_token":"","api_origin":"API","expires_at":"","oauth_origin":"ORIGIN","refresh_token":"r"})")
			<< "sandbox" << false << "";
		QTest::newRow("no file") << QByteArray() << "sandbox" << false << "";
		const QByteArray unrecorded(R"({"access_token":"a","expires_at":"","refresh_token":"r"})");
		const QString production = ServiceAddresses::production().oauthOrigin();
		const QString productionApi = ServiceAddresses::production().apiOrigin();
		QTest::newRow("saved before origins were recorded") << unrecorded << "production" << true << "";
		QTest::newRow("production's sign-in under an override")
			<< unrecorded << "sandbox" << false
			<< "Tiplark: Saved sign-in was issued by " + production + ", not used with SANDBOX";
		QTest::newRow("saved before origins were recorded, API elsewhere")
			<< unrecorded << "production, API elsewhere" << false
			<< "Tiplark: Saved sign-in was issued for the API at " + productionApi +
				   ", not used with http://127.0.0.1:1";
		const QByteArray oauthRecorded(
			R"({"access_token":"a","expires_at":"","oauth_origin":"ORIGIN","refresh_token":"r"})");
		QTest::newRow("OAuth origin recorded, API elsewhere")
			<< oauthRecorded << "production, API elsewhere" << false
			<< "Tiplark: Saved sign-in was issued for the API at " + productionApi +
				   ", not used with http://127.0.0.1:1";
		QTest::newRow("issued for another API")
			<< QByteArray(
				   "{\"access_token\":\"a\",\"api_origin\":\"https://other.example\",\"oauth_origin\":\"ORIGIN\",\"refresh_token\":\"r\"}")
			<< "sandbox" << false
			<< "Tiplark: Saved sign-in was issued for the API at https://other.example, not used with SANDBOX";
		QTest::newRow("production written with a default port and closing dots")
			<< unrecorded << "production written otherwise" << true << "";
		QTest::newRow("issued by another service")
			<< QByteArray(
				   "{\"access_token\":\"a\",\"oauth_origin\":\"https://other.example\",\"refresh_token\":\"r\"}")
			<< "sandbox" << false
			<< "Tiplark: Saved sign-in was issued by https://other.example, not used with SANDBOX";
		QTest::newRow("line break in the origin")
			<< QByteArray(R"({"access_token":"a","oauth_origin":"x\nTiplark: forged","refresh_token":"r"})")
			<< "sandbox" << false
			<< "Tiplark: Saved sign-in was issued by x\\nTiplark: forged, not used with SANDBOX";
	}

	void construction()
	{
		QFETCH(QByteArray, file);
		QFETCH(QString, service);
		QFETCH(bool, authenticated);
		QFETCH(QString, refused);
		ServiceAddresses addresses = sandboxAddresses(m_sandbox);
		if (service == "production") {
			addresses = ServiceAddresses::production();
		} else if (service == "production, API elsewhere") {
			addresses = {"http://127.0.0.1:1", ServiceAddresses::production().oauthBaseUrl};
		} else if (service == "production written otherwise") {
			addresses = {"https://api.tiplark.pl.", "https://tiplark.pl.:443/oauth"};
			QCOMPARE(addresses.oauthOrigin(), ServiceAddresses::production().oauthOrigin());
		}
		if (!file.isEmpty()) {
			QFile out(tokenPath());
			QVERIFY(out.open(QIODevice::WriteOnly));
			out.write(file.replace("ORIGIN", addresses.oauthOrigin().toUtf8())
					  .replace("API", addresses.apiOrigin().toUtf8()));
		}
		LogCapture log;
		AuthManager auth(addresses);
		QSignalSpy outcomes(&auth, &AuthManager::authenticationComplete);
		QCOMPARE(auth.isAuthenticated(), authenticated);
		QCOMPARE(auth.accessToken(), file.isEmpty() || !refused.isEmpty()
						     ? QString()
						     : QJsonDocument::fromJson(file)["access_token"].toString());
		// Nothing is sent, listened for or signalled, expired token or not.
		QVERIFY(!m_sandbox.waitForRequests(1, 300));
		QCOMPARE(outcomes.size(), 0);
		QTcpServer probe;
		QVERIFY(probe.listen(QHostAddress::LocalHost, 38080));
		QStringList expected;
		if (!file.isEmpty())
			expected << info("Tiplark: Tokens loaded");
		if (!refused.isEmpty())
			expected << warning(
				QString(refused).replace("SANDBOX", sandboxAddresses(m_sandbox).oauthOrigin()));
		QCOMPARE(authLines(log), expected);
	}

	void logoutAndRefreshWhileSignedOut()
	{
		LogCapture log;
		AuthManager auth(sandboxAddresses(m_sandbox));
		auth.logout();
		auth.refreshAccessToken();
		QVERIFY(!m_sandbox.waitForRequests(1, 300));
		QCOMPARE(authLines(log), QStringList({info("Tiplark: Tokens cleared"), info("Tiplark: Logged out"),
						      warning("Tiplark: No refresh token available")}));
	}

	void noFreePortOpensNoBrowser()
	{
		auto taken = holdPorts(38080, 38084);
		LogCapture log;
		AuthManager auth(sandboxAddresses(m_sandbox));
		int linesAtSignal = -1;
		connect(&auth, &AuthManager::authenticationComplete, this,
			[&] { linesAtSignal = authLines(log).size(); });
		QSignalSpy outcomes(&auth, &AuthManager::authenticationComplete);
		auth.startLogin();
		QCOMPARE(m_browser.urls.size(), 0);
		QCOMPARE(outcomes.size(), 1);
		QCOMPARE(outcomes[0][0].toBool(), false);
		const QStringList lines = authLines(log);
		QCOMPARE(lines.size(), 1);
		QVERIFY(lines[0].startsWith(warning("Tiplark: Failed to start OAuth server: ")));
		QCOMPARE(linesAtSignal, 1);
	}

	void authorizationUrl()
	{
		LogCapture log;
		AuthManager auth(sandboxAddresses(m_sandbox));
		auth.startLogin();
		auth.startLogin();
		QCOMPARE(m_browser.urls.size(), 2);
		const QRegularExpression form(
			"^" +
			QRegularExpression::escape(
				sandboxAddresses(m_sandbox).oauthBaseUrl + "/authorize?client_id=" + CLIENT_ID +
				"&redirect_uri=http://127.0.0.1:38080/callback&response_type=code"
				"&scope=user:read%20user:stream_status%20moderation:manage"
				"%20donates:queue:manage%20moderation:moderate%20donates:list&state=") +
			"([A-Za-z0-9]{32})&code_challenge=([A-Za-z0-9_-]{43})&code_challenge_method=S256$");
		const QRegularExpressionMatch first = form.match(QString::fromLatin1(m_browser.urls[0].toEncoded()));
		const QRegularExpressionMatch second = form.match(QString::fromLatin1(m_browser.urls[1].toEncoded()));
		QVERIFY2(first.hasMatch(), m_browser.urls[0].toEncoded().constData());
		QVERIFY(second.hasMatch());
		// Each sign-in has its own state and verifier; the listener stays where it is.
		QVERIFY(first.captured(1) != second.captured(1));
		QVERIFY(first.captured(2) != second.captured(2));
		QCOMPARE(authLines(log), QStringList({info("Tiplark: OAuth server listening on port 38080"),
						      info("Tiplark: Opening authorization URL"),
						      info("Tiplark: Opening authorization URL")}));
	}

	void signIn()
	{
		LogCapture log;
		AuthManager auth(sandboxAddresses(m_sandbox));
		QSignalSpy outcomes(&auth, &AuthManager::authenticationComplete);
		const QUrl redirect = authorize(auth);
		QVERIFY(redirect.isValid());
		const QString code = QUrlQuery(redirect).queryItemValue("code");
		QVERIFY(deliver(redirect));
		QTRY_COMPARE(outcomes.size(), 1);
		QCOMPARE(outcomes[0][0].toBool(), true);
		QVERIFY(auth.isAuthenticated());
		QVERIFY(Sandbox::OAuth::isAccessTokenValid(sandboxState(), auth.accessToken().toLatin1()));

		// The exchange as it went over the wire.
		const QList<Sandbox::Request> sent = tokenRequests();
		QCOMPARE(sent.size(), 1);
		const QByteArray challenge =
			QUrlQuery(m_browser.urls.first()).queryItemValue("code_challenge").toLatin1();
		const QRegularExpressionMatch body =
			QRegularExpression("^" +
					   QRegularExpression::escape(
						   "grant_type=authorization_code&client_id=" + CLIENT_ID + "&code=" +
						   code + "&redirect_uri=" + REDIRECT_URI_FORM + "&code_verifier=") +
					   "([A-Za-z0-9._~-]{64})$")
				.match(QString::fromLatin1(sent[0].body));
		QVERIFY2(body.hasMatch(), sent[0].body.constData());
		QCOMPARE(s256(body.captured(1).toLatin1()), challenge);
		QCOMPARE(sent[0].header("Content-Type"), QByteArray("application/x-www-form-urlencoded"));
		QCOMPARE(sent[0].header("X-TIPLARK-PLATFORM"), QByteArray("OBS"));
		QCOMPARE(sent[0].header("X-TIPLARK-PLATFORM-VERSION"), QByteArray("1.0.0"));
		QCOMPARE(sent[0].header("User-Agent"), QByteArray("OBS-Tiplark/1.0.0"));

		// Saved for the next start, for the owner's eyes only.
		const QJsonObject saved = QJsonDocument::fromJson(readFile(tokenPath())).object();
		QCOMPARE(saved["access_token"].toString(), auth.accessToken());
		QVERIFY(Sandbox::OAuth::isRefreshTokenValid(sandboxState(),
							    saved["refresh_token"].toString().toLatin1()));
		const QDateTime expiry = QDateTime::fromString(saved["expires_at"].toString(), Qt::ISODate);
		QVERIFY(qAbs(QDateTime::currentDateTime().secsTo(expiry) - 3600) <= 5);
		QCOMPARE(modeBits(tokenPath()), 0600u);
		AuthManager nextStart(sandboxAddresses(m_sandbox));
		QVERIFY(nextStart.isAuthenticated());
		QCOMPARE(nextStart.accessToken(), auth.accessToken());

		QCOMPARE(
			authLines(log),
			QStringList(
				{info("Tiplark: OAuth server listening on port 38080"),
				 info("Tiplark: Opening authorization URL"),
				 info("Tiplark: OAuth callback received, code length: " + QString::number(code.size())),
				 info("Tiplark: OAuth server stopped"),
				 info("Tiplark: State verified, exchanging code for token..."),
				 info("Tiplark: Token exchange URL: " + sandboxAddresses(m_sandbox).oauthBaseUrl +
				      "/token"),
				 info("Tiplark: Redirect URI: " + REDIRECT_URI),
				 debug("Tiplark: Token request body: grant_type=authorization_code&client_id=" +
				       CLIENT_ID + "&code=***&redirect_uri=" + REDIRECT_URI_FORM + "&code_verifier=***"),
				 info("Tiplark: Got access token (length: 44), refresh token (length: 44), expires in: 3600"),
				 info("Tiplark: Tokens saved"),
				 info("Tiplark: Authentication successful, tokens saved"),
				 info("Tiplark: Tokens loaded")}));
	}

	void stateMismatch_data()
	{
		QTest::addColumn<int>("change");
		QTest::newRow("letter case differs") << 0;
		QTest::newRow("another state") << 1;
	}

	void stateMismatch()
	{
		QFETCH(int, change);
		const auto earlier = signInEarlier();
		LogCapture log;
		AuthManager auth(sandboxAddresses(m_sandbox));
		QSignalSpy outcomes(&auth, &AuthManager::authenticationComplete);
		const QUrl redirect = authorize(auth);
		QVERIFY(redirect.isValid());
		const QString state = QUrlQuery(redirect).queryItemValue("state");
		QString wrong = state;
		if (change == 0) {
			const int letter = wrong.indexOf(QRegularExpression("[A-Za-z]"));
			wrong[letter] = wrong[letter].isUpper() ? wrong[letter].toLower() : wrong[letter].toUpper();
		} else {
			wrong = "Xy";
		}
		QVERIFY(deliver(withState(redirect, wrong)));
		// A redirect forged by a page or a local process ends nothing: the sign-in waits for its own.
		QCOMPARE(authLines(log), QStringList({info("Tiplark: Tokens loaded"),
						      info("Tiplark: OAuth server listening on port 38080"),
						      info("Tiplark: Opening authorization URL"),
						      warning("Tiplark: OAuth state mismatch")}));
		QCOMPARE(outcomes.size(), 0);
		QCOMPARE(tokenRequests().size(), 0);
		QCOMPARE(auth.accessToken(), QString::fromLatin1(earlier.accessToken));
		QVERIFY(deliver(redirect));
		QTRY_COMPARE(outcomes.size(), 1);
		QVERIFY(outcomes[0][0].toBool());
	}

	void signInEndsWithoutACode_data()
	{
		QTest::addColumn<QString>("refusal");
		QTest::addColumn<QString>("warningLine");
		QTest::newRow("refused") << "access_denied"
					 << "Tiplark: Sign-in refused by the authorization server: access_denied";
		QTest::newRow("browser never comes back")
			<< "" << "Tiplark: Sign-in abandoned, the browser did not come back within 1 s";
	}

	void signInEndsWithoutACode()
	{
		QFETCH(QString, refusal);
		QFETCH(QString, warningLine);
		Sandbox::OAuth::setSwitch(sandboxState(), Sandbox::OAuth::AUTHORIZE_ERROR, refusal);
		LogCapture log;
		AuthManager auth(sandboxAddresses(m_sandbox));
		auth.setSignInTimeout(1000);
		QSignalSpy outcomes(&auth, &AuthManager::authenticationComplete);
		const QUrl redirect = authorize(auth);
		if (!refusal.isEmpty())
			QVERIFY(deliver(redirect));
		QCOMPARE(outcomes.size(), refusal.isEmpty() ? 0 : 1);
		QTRY_COMPARE(outcomes.size(), 1);
		QCOMPARE(outcomes[0][0].toBool(), false);
		QCOMPARE(log.texts(LOG_WARNING), QStringList{PREFIX + warningLine});
		QTcpServer probe; // the listener is gone
		QVERIFY(probe.listen(QHostAddress::LocalHost, 38080));
	}

	void exchangeFailure_data()
	{
		QTest::addColumn<Sandbox::Fault>("fault");
		QTest::addColumn<QString>("failureLine");

		QByteArray longBody =
			"{\"error\":\"invalid_grant\",\"error_description\":\"" + QByteArray(600, 'd') + "\"}";
		QTest::newRow("400 with a long body")
			<< Sandbox::Fault::respond(400, longBody) << "Tiplark: Token exchange failed:  (HTTP 400)";
		QTest::newRow("no answer") << Sandbox::Fault::close() << QString();
		const QString noTokens = QStringLiteral(
			"Tiplark: Token exchange failed: Token response without access_token and refresh_token (HTTP %1)");
		QTest::newRow("200 without tokens") << Sandbox::Fault::respond(200, "{}") << noTokens.arg(200);
		QTest::newRow("204 empty") << Sandbox::Fault::respond(204, "") << noTokens.arg(204);
		QTest::newRow("200 access token only")
			<< Sandbox::Fault::respond(200, R"({"access_token":"tla_new","expires_in":60})")
			<< noTokens.arg(200);
		QTest::newRow("200 not JSON")
			<< Sandbox::Fault::respond(200, "<html>ok</html>", "text/html") << noTokens.arg(200);
	}

	void exchangeFailure()
	{
		QFETCH(Sandbox::Fault, fault);
		QFETCH(QString, failureLine);

		const auto earlier = signInEarlier();
		const QByteArray fileBefore = readFile(tokenPath());
		m_sandbox.setFault("/oauth/token", fault.once());
		LogCapture log;
		AuthManager auth(sandboxAddresses(m_sandbox));
		QSignalSpy outcomes(&auth, &AuthManager::authenticationComplete);
		const QUrl redirect = authorize(auth);
		QVERIFY(deliver(redirect));
		QTRY_COMPARE(outcomes.size(), 1);
		QCOMPARE(outcomes[0][0].toBool(), false);

		// No body of the token endpoint's answers reaches the log: it may carry tokens.
		const QStringList lines = authLines(log);
		if (failureLine.isEmpty())
			QVERIFY(QRegularExpression("^200 Tiplark: Token exchange failed: .+ \\(HTTP -1\\)$")
					.match(lines.last())
					.hasMatch());
		else
			QCOMPARE(lines.last(), warning(failureLine));
		QVERIFY(!lines.join('\n').contains("Authentication successful"));

		// The earlier sign-in stands.
		QVERIFY(auth.isAuthenticated());
		QCOMPARE(auth.accessToken(), QString::fromLatin1(earlier.accessToken));
		QCOMPARE(readFile(tokenPath()), fileBefore);
	}

	void cancelAfterTheRedirect_data()
	{
		QTest::addColumn<bool>("signInAgain");
		QTest::newRow("cancelled") << false;
		QTest::newRow("cancelled, then a second sign-in") << true;
	}

	// "Anuluj" pressed after the browser came back, while the code is being exchanged.
	void cancelAfterTheRedirect()
	{
		QFETCH(bool, signInAgain);
		m_sandbox.setFault("/oauth/token",
				   Sandbox::Fault::respond(
					   200,
					   R"({"access_token":"tla_late","refresh_token":"tlr_late","expires_in":60})")
					   .delayed(300)
					   .once());
		LogCapture log;
		AuthManager auth(sandboxAddresses(m_sandbox));
		QSignalSpy outcomes(&auth, &AuthManager::authenticationComplete);
		QVERIFY(deliver(authorize(auth)));
		QTRY_COMPARE(tokenRequests().size(), 1);
		auth.cancelLogin();
		if (signInAgain)
			QVERIFY(deliver(authorize(auth)));
		const QString ignored =
			info("Tiplark: Token exchange answer ignored, the sign-in was cancelled or begun again");
		QTRY_VERIFY(authLines(log).contains(ignored));
		QTRY_COMPARE(outcomes.size(), signInAgain ? 1 : 0);
		QCOMPARE(auth.isAuthenticated(), signInAgain);
		QCOMPARE(QFile::exists(tokenPath()), signInAgain);
		// Signed in by the second sign-in's own exchange, not by the late answer.
		if (signInAgain)
			QVERIFY(outcomes[0][0].toBool() && auth.accessToken() != QStringLiteral("tla_late"));
	}

	void logoutWinsOverARefreshOnItsWay_data()
	{
		QTest::addColumn<Sandbox::Fault>("answer");
		QTest::newRow("fresh tokens") << Sandbox::Fault::respond(
			200, R"({"access_token":"tla_late","refresh_token":"tlr_late","expires_in":60})");
		QTest::newRow("rejection") << Sandbox::Fault::respond(400, R"({"error":"invalid_grant"})");
		QTest::newRow("server fault") << Sandbox::Fault::respond(503, "{}");
	}

	// The streamer pressed "Wyloguj" while a refresh was under way: its answer must not sign them back in.
	void logoutWinsOverARefreshOnItsWay()
	{
		QFETCH(Sandbox::Fault, answer);
		signInEarlier();
		m_sandbox.setFault("/oauth/token", answer.delayed(300).once());

		AuthManager auth(sandboxAddresses(m_sandbox));
		auth.refreshAccessToken();
		QVERIFY(m_sandbox.waitForRequests(1));
		auth.logout();
		LogCapture log;
		QTRY_COMPARE(authLines(log),
			     QStringList{info("Tiplark: Token refresh answer ignored, logged out meanwhile")});

		QVERIFY(!auth.isAuthenticated());
		QVERIFY(auth.accessToken().isEmpty());
		QVERIFY(!QFile::exists(tokenPath()));
		// Nothing is left waiting: the next refresh request is judged on the (empty) tokens of now.
		auth.refreshAccessToken();
		QCOMPARE(authLines(log).last(), warning("Tiplark: No refresh token available"));
		QCOMPARE(tokenRequests().size(), 1);
	}

	void refresh_data()
	{
		QTest::addColumn<bool>("rotate");
		QTest::addColumn<bool>("omitRefreshToken");
		QTest::addColumn<bool>("unknownRefreshToken");
		QTest::addColumn<Sandbox::Fault>("fault");
		QTest::addColumn<bool>("refreshed");
		QTest::addColumn<bool>("signedIn");
		QTest::addColumn<QStringList>("lines");

		const Sandbox::Fault none;
		const QStringList refreshed{info("Tiplark: Tokens saved"), info("Tiplark: Token refreshed")};
		const QStringList loggedOut{warning("Tiplark: Token refresh failed: "), info("Tiplark: Tokens cleared"),
					    info("Tiplark: Logged out")};
		const QString kept =
			"Tiplark: Keeping the sign-in (HTTP %1), the refresh is tried again on the next rejection";

		QTest::newRow("refresh token kept by the server")
			<< false << false << false << none << true << true << refreshed;
		QTest::newRow("rotation") << true << false << false << none << true << true << refreshed;
		QTest::newRow("refresh token left out of the answer")
			<< false << true << false << none << true << true << refreshed;
		QTest::newRow("invalid_grant") << false << false << true << none << false << false << loggedOut;
		QTest::newRow("401")
			<< false << false << false << Sandbox::Fault::respond(401, R"({"error":"invalid_client"})")
			<< false << false << loggedOut;
		QTest::newRow("503") << false << false << false << Sandbox::Fault::respond(503, "{}") << false << true
				     << QStringList{warning("Tiplark: Token refresh failed: "), info(kept.arg(503))};
		QTest::newRow("429") << false << false << false << Sandbox::Fault::respond(429, "{}") << false << true
				     << QStringList{warning("Tiplark: Token refresh failed: "), info(kept.arg(429))};
		QTest::newRow("no answer")
			<< false << false << false << Sandbox::Fault::close() << false << true << QStringList{};
		// A dead sign-in would otherwise be refreshed again with every rejected request.
		QTest::newRow("no access token")
			<< false << false << false << Sandbox::Fault::respond(200, R"({"refresh_token":"tlr_x"})")
			<< false << false
			<< QStringList{warning("Tiplark: Token refresh failed: Token response without access_token"),
				       info("Tiplark: Tokens cleared"), info("Tiplark: Logged out")};
	}

	void refresh()
	{
		QFETCH(bool, rotate);
		QFETCH(bool, omitRefreshToken);
		QFETCH(bool, unknownRefreshToken);
		QFETCH(Sandbox::Fault, fault);
		QFETCH(bool, refreshed);
		QFETCH(bool, signedIn);
		QFETCH(QStringList, lines);

		Sandbox::OAuth::setSwitch(sandboxState(), Sandbox::OAuth::ROTATE_REFRESH_TOKENS, rotate);
		Sandbox::OAuth::setSwitch(sandboxState(), Sandbox::OAuth::OMIT_REFRESH_TOKEN, omitRefreshToken);
		Sandbox::OAuth::Tokens earlier;
		if (unknownRefreshToken) {
			earlier = {"tla_old", "tlr_unknown"};
			saveTokens(earlier.accessToken, earlier.refreshToken);
		} else {
			earlier = signInEarlier();
		}
		const QByteArray fileBefore = readFile(tokenPath());
		const bool faulty = fault.kind != Sandbox::Fault::Kind::Respond || fault.status != 200 ||
				    !fault.body.isEmpty();
		if (faulty)
			m_sandbox.setFault("/oauth/token", fault.once());

		AuthManager auth(sandboxAddresses(m_sandbox));
		LogCapture log;
		auth.refreshAccessToken();
		QVERIFY(m_sandbox.waitForRequests(1));
		const QByteArray body = tokenRequests().value(0).body;
		QCOMPARE(body, "grant_type=refresh_token&client_id=" + CLIENT_ID +
				       "&refresh_token=" + earlier.refreshToken.toPercentEncoding());
		QCOMPARE(tokenRequests().value(0).header("Content-Type"),
			 QByteArray("application/x-www-form-urlencoded"));

		if (lines.isEmpty()) {
			// A transport failure's text is libcurl's own.
			QTRY_COMPARE(authLines(log).size(), 2);
			QVERIFY(authLines(log)[0].startsWith(warning("Tiplark: Token refresh failed: ")));
			QVERIFY(authLines(log)[0].size() > warning("Tiplark: Token refresh failed: ").size());
			QVERIFY(authLines(log)[1].startsWith(info("Tiplark: Keeping the sign-in (HTTP -1)")));
		} else {
			QTRY_COMPARE(authLines(log), lines);
		}
		QCOMPARE(auth.isAuthenticated(), signedIn);

		const QJsonObject saved = QJsonDocument::fromJson(readFile(tokenPath())).object();
		if (refreshed) {
			QVERIFY(auth.accessToken().toLatin1() != earlier.accessToken);
			QVERIFY(Sandbox::OAuth::isAccessTokenValid(sandboxState(), auth.accessToken().toLatin1()));
			QCOMPARE(saved["access_token"].toString(), auth.accessToken());
			const QByteArray refreshToken = saved["refresh_token"].toString().toLatin1();
			QVERIFY(Sandbox::OAuth::isRefreshTokenValid(sandboxState(), refreshToken));
			QCOMPARE(refreshToken == earlier.refreshToken, !rotate || omitRefreshToken);
		} else if (signedIn) {
			QCOMPARE(auth.accessToken(), QString::fromLatin1(earlier.accessToken));
			QCOMPARE(readFile(tokenPath()), fileBefore);
		} else {
			QVERIFY(auth.accessToken().isEmpty());
			QVERIFY(!QFile::exists(tokenPath()));
		}

		if (signedIn && !refreshed) {
			// Nothing was lost: the next rejection refreshes.
			log.clear();
			auth.refreshAccessToken();
			QTRY_COMPARE(authLines(log),
				     QStringList({info("Tiplark: Tokens saved"), info("Tiplark: Token refreshed")}));
			QVERIFY(Sandbox::OAuth::isAccessTokenValid(sandboxState(), auth.accessToken().toLatin1()));
		}
	}

	// A service in trouble is not asked again on every rejected request of every tick.
	void failingRefreshesBackOff()
	{
		signInEarlier();
		m_sandbox.setFault("/oauth/token", Sandbox::Fault::respond(503, "{}"));
		AuthManager auth(sandboxAddresses(m_sandbox));
		LogCapture log;
		for (int failure = 1; failure <= AuthManager::REFRESH_FAILURES_BEFORE_BACKOFF; ++failure) {
			auth.refreshAccessToken();
			QTRY_COMPARE(log.count(PREFIX + "Tiplark: Token refresh failed: "), failure);
		}
		auth.refreshAccessToken();
		auth.refreshAccessToken();
		QVERIFY(!m_sandbox.waitForRequests(AuthManager::REFRESH_FAILURES_BEFORE_BACKOFF + 1, 500));
		QCOMPARE(tokenRequests().size(), AuthManager::REFRESH_FAILURES_BEFORE_BACKOFF);
		QVERIFY(auth.isAuthenticated());
	}

	void tokenFileFailuresAreReported_data()
	{
		QTest::addColumn<bool>("logout");
		QTest::addColumn<QString>("errorLine");
		QTest::newRow("sign-in not saved") << false << "Tiplark: Failed to save token file";
		QTest::newRow("logout leaves the file") << true << "Tiplark: Failed to delete token file: ";
	}

	void tokenFileFailuresAreReported()
	{
		QFETCH(bool, logout);
		QFETCH(QString, errorLine);
		AuthManager auth(sandboxAddresses(m_sandbox));
		QSignalSpy notSaved(&auth, &AuthManager::tokensNotSaved);
		QSignalSpy notDeleted(&auth, &AuthManager::tokensNotDeleted);
		QSignalSpy outcomes(&auth, &AuthManager::authenticationComplete);
		// A folder in the file's place can be neither replaced nor deleted, not even by root.
		QVERIFY(QDir().mkpath(QDir(tokenPath()).filePath("inside")));
		LogCapture log;
		if (logout) {
			auth.logout();
		} else {
			QVERIFY(deliver(authorize(auth)));
			QTRY_COMPARE(outcomes.size(), 1);
		}
		const QStringList failures = logout ? log.texts(LOG_ERROR) : log.texts(LOG_WARNING);
		QCOMPARE(failures.size(), logout ? 1 : 2);
		QVERIFY(failures[0].startsWith(PREFIX + errorLine));
		QVERIFY(!log.texts().join('\n').contains(logout ? "Tokens cleared" : "tokens saved"));
		QCOMPARE(notSaved.size(), logout ? 0 : 1);
		QCOMPARE(notDeleted.size(), logout ? 1 : 0);
	}

	void severalRejectionsRefreshOnce()
	{
		Sandbox::OAuth::setSwitch(sandboxState(), Sandbox::OAuth::ROTATE_REFRESH_TOKENS, true);
		signInEarlier();
		AuthManager auth(sandboxAddresses(m_sandbox));
		LogCapture log;
		// A poll's requests all come back 401 together.
		auth.refreshAccessToken();
		auth.refreshAccessToken();
		auth.refreshAccessToken();
		QTRY_VERIFY(log.contains(LOG_INFO, PREFIX + "Tiplark: Token refreshed"));
		QVERIFY(!m_sandbox.waitForRequests(2, 500));
		QCOMPARE(tokenRequests().size(), 1);
		QVERIFY(auth.isAuthenticated());

		// Once answered, the next rejection refreshes again, with the rotated token.
		auth.refreshAccessToken();
		QVERIFY(m_sandbox.waitForRequests(2));
		QTRY_COMPARE(log.count(PREFIX + "Tiplark: Token refreshed"), 2);
		QVERIFY(auth.isAuthenticated());
		QVERIFY(!log.texts().join('\n').contains("Logged out"));
	}

	void expiry_data()
	{
		QTest::addColumn<QByteArray>("answer");
		QTest::addColumn<int>("seconds");
		QTest::newRow("whole seconds") << QByteArray(R"({"access_token":"a","expires_in":120})") << 120;
		QTest::newRow("missing") << QByteArray(R"({"access_token":"a"})") << 0;
		QTest::newRow("fraction") << QByteArray(R"({"access_token":"a","expires_in":1.5})") << 0;
		QTest::newRow("beyond 32 bits") << QByteArray(R"({"access_token":"a","expires_in":4294967296})") << 0;
		QTest::newRow("text") << QByteArray(R"({"access_token":"a","expires_in":"60"})") << 0;
	}

	void expiry()
	{
		QFETCH(QByteArray, answer);
		QFETCH(int, seconds);
		signInEarlier();
		m_sandbox.setFault("/oauth/token", Sandbox::Fault::respond(200, answer).once());
		AuthManager auth(sandboxAddresses(m_sandbox));
		LogCapture log;
		auth.refreshAccessToken();
		QTRY_VERIFY(log.contains(LOG_INFO, PREFIX + "Tiplark: Token refreshed"));
		const QJsonObject saved = QJsonDocument::fromJson(readFile(tokenPath())).object();
		const QDateTime expiry = QDateTime::fromString(saved["expires_at"].toString(), Qt::ISODate);
		QVERIFY(expiry.isValid());
		QVERIFY(qAbs(QDateTime::currentDateTime().secsTo(expiry) - seconds) <= 5);
	}

	void noCredentialReachesTheLog()
	{
		Sandbox::OAuth::setSwitch(sandboxState(), Sandbox::OAuth::ROTATE_REFRESH_TOKENS, true);
		LogCapture log;
		QStringList secrets;
		{
			AuthManager auth(sandboxAddresses(m_sandbox));
			QSignalSpy outcomes(&auth, &AuthManager::authenticationComplete);
			const QUrl redirect = authorize(auth);
			secrets << QUrlQuery(redirect).queryItemValue("code");
			QVERIFY(deliver(redirect));
			QTRY_COMPARE(outcomes.size(), 1);
			secrets << auth.accessToken();
			secrets << QUrlQuery(QString::fromLatin1(tokenRequests().value(0).body))
					   .queryItemValue("code_verifier");
			secrets << QJsonDocument::fromJson(readFile(tokenPath()))["refresh_token"].toString();
			auth.refreshAccessToken();
			QTRY_VERIFY(log.contains(LOG_INFO, PREFIX + "Tiplark: Token refreshed"));
			secrets << auth.accessToken();
			secrets << QJsonDocument::fromJson(readFile(tokenPath()))["refresh_token"].toString();

			// A failed exchange logs the answer too.
			m_sandbox.setFault(
				"/oauth/token",
				Sandbox::Fault::respond(400, R"({"error":"invalid_grant","refresh_token":"tlr_leak"})")
					.once());
			secrets << "tlr_leak";
			const QUrl again = authorize(auth);
			secrets << QUrlQuery(again).queryItemValue("code");
			QVERIFY(deliver(again));
			QTRY_COMPARE(outcomes.size(), 2);
		}
		QCOMPARE(secrets.size(), 8);
		for (const QString &secret : secrets) {
			QVERIFY(secret.size() >= 8);
			for (const QString &line : log.texts()) {
				QVERIFY2(!line.contains(secret), qPrintable(line));
			}
		}
		QVERIFY(log.texts().join('\n').contains("code_verifier=***"));
	}
};

TIPLARK_TEST_MAIN(TestAuthManager)
#include "test-auth-manager.moc"
