#include "api/api-client.h"
#include "auth/auth-manager.h"
#include "http/background-request.h"
#include "http/curl-helper.h"
#include "http/host-libcurl.h"
#include "log-capture.h"
#include "sandbox-server.h"
#include "sandbox-sign-in.h"
#include "service-operations.h"
#include "test-main.h"

#include <util/base.h>

#include <dlfcn.h>

#include <QElapsedTimer>
#include <QTcpServer>
#include <QThread>

#include <atomic>

using HeaderMap = QMap<QString, QString>;
Q_DECLARE_METATYPE(Sandbox::Fault)

namespace {
const QString P = QStringLiteral("[tiplark-obs-plugin] ");

// "LEVEL text" per captured line, so that a whole log sequence compares in one go.
QStringList levelled(const LogCapture &log)
{
	QStringList result;
	for (const auto &line : log.lines())
		result.append(QString::number(line.level) + QLatin1Char(' ') + line.text);
	return result;
}

QString line(int level, const QString &message)
{
	return QString::number(level) + QLatin1Char(' ') + P + message;
}

// A loopback port on which nobody listens: bound, read and released again.
quint16 closedPort()
{
	QTcpServer server;
	server.listen(QHostAddress::LocalHost, 0);
	const quint16 port = server.serverPort();
	server.close();
	return port;
}

// The flavour of libcurl the tests run with (TIPLARK_TEST_LIBCURL: libcurl.so.4 or libcurl-gnutls.so.4),
// loaded before main, as OBS has its own loaded before any module: the requests must take that one, also
// where the test's libraries have loaded the other one (Debian 13's libobs links GnuTLS's).
const QByteArray libcurlLoadedFirst = qgetenv("TIPLARK_TEST_LIBCURL");
const bool libcurlLoaded = !libcurlLoadedFirst.isEmpty() && dlopen(libcurlLoadedFirst.constData(), RTLD_NOW);

// libcurl's description of a failure, from the libcurl the requests use.
QString curlText(CURLcode code)
{
	return QString::fromUtf8(HostLibcurl::host()->easy_strerror(code));
}

QByteArray digits(int size)
{
	QByteArray bytes;
	for (int i = 0; i < size; ++i)
		bytes.append(char('0' + i % 10));
	return bytes;
}
} // namespace

class TestCurlHelper : public QObject {
	Q_OBJECT

	Sandbox::Server m_sandbox;
	Sandbox::Server m_tlsSandbox;      // its certificate comes from the test CA that libcurl trusts
	Sandbox::Server m_strangerSandbox; // its certificate comes from a CA that nobody trusts

	QString url(const QByteArray &target) const { return m_sandbox.baseUrl() + QString::fromUtf8(target); }

private slots:
	void initTestCase()
	{
		QVERIFY2(libcurlLoaded, "TIPLARK_TEST_LIBCURL names no libcurl that loads");
		QVERIFY(HostLibcurl::host());
		QCOMPARE(HostLibcurl::host()->library, QString::fromUtf8(libcurlLoadedFirst));
		const QString flavour = libcurlLoadedFirst.contains("gnutls") ? "GnuTLS/" : "OpenSSL/";
		QVERIFY2(HostLibcurl::host()->version.contains(flavour), qPrintable(HostLibcurl::host()->version));

		QVERIFY(m_sandbox.start());
		const QString tls = qEnvironmentVariable("TIPLARK_TEST_TLS_DIR") + QLatin1Char('/');
		QVERIFY2(m_tlsSandbox.startTls(tls + "server.pem", tls + "server.key"),
			 "run by tests/tls/with-test-ca.sh");
		QVERIFY(m_strangerSandbox.startTls(tls + "other.pem", tls + "other.key"));
	}
	void init()
	{
		m_sandbox.reset();
		m_tlsSandbox.reset();
	}
	void cleanupTestCase() { m_sandbox.stop(); }

	// Neither flavour of libcurl: the log says so once, with what to install.
	void withoutLibcurlNoneIsTaken()
	{
		LogCapture log;
		QVERIFY(!HostLibcurl::resolve({"libcurl-none.so.4", "libcurl-gnutls-none.so.4"}));
		QCOMPARE(log.lines().size(), 1);
		QVERIFY(log.contains(LOG_ERROR,
				     P + "Tiplark HTTP: No libcurl found (libcurl-none.so.4, "
					 "libcurl-gnutls-none.so.4): Tiplark cannot be reached until one is "
					 "installed (libcurl4 or libcurl3-gnutls on Debian and Ubuntu, libcurl "
					 "on Fedora, curl on Arch)"));
	}

	void completedExchange_data()
	{
		QTest::addColumn<int>("status");
		QTest::addColumn<QByteArray>("body");
		QTest::addColumn<QByteArray>("warned");
		QTest::addColumn<bool>("warning");

		QTest::newRow("200 JSON") << 200 << QByteArray("{\"ok\":true}") << QByteArray() << false;
		QTest::newRow("200 bytes with zeros kept whole")
			<< 200 << QByteArray("a\0b\0\0c", 6) << QByteArray() << false;
		QTest::newRow("200 empty body") << 200 << QByteArray() << QByteArray() << false;
		QTest::newRow("399 is no error") << 399 << QByteArray("x") << QByteArray() << false;
		QTest::newRow("400 warned") << 400 << QByteArray("bad") << QByteArray("bad") << true;
		QTest::newRow("404 with a body") << 404 << QByteArray("{\"error\":\"not_found\"}")
						 << QByteArray("{\"error\":\"not_found\"}") << true;
		QTest::newRow("500 body of exactly 500 bytes") << 500 << digits(500) << digits(500) << true;
		QTest::newRow("503 body of 600 bytes logged cut at 500") << 503 << digits(600) << digits(500) << true;
		// A body must not be able to forge a line of the log.
		QTest::newRow("control characters escaped")
			<< 400 << QByteArray("x\r\n[tiplark-obs-plugin] Tiplark: Logged out\t\x1b[2J")
			<< QByteArray("x\\r\\n[tiplark-obs-plugin] Tiplark: Logged out\\t\\x1b[2J") << true;
	}

	void completedExchange()
	{
		QFETCH(int, status);
		QFETCH(QByteArray, body);
		QFETCH(QByteArray, warned);
		QFETCH(bool, warning);
		m_sandbox.setFault("/v1/thing", Sandbox::Fault::respond(status, body));

		LogCapture log;
		const HttpResponse response = CurlHelper::get(url("/v1/thing"), {});

		QCOMPARE(response.statusCode, status);
		QCOMPARE(response.body, body);
		QVERIFY(response.error.isEmpty());
		QStringList expected = {
			line(LOG_INFO, "Tiplark HTTP: GET " + url("/v1/thing")),
			line(LOG_DEBUG, "Tiplark HTTP: Executing request..."),
			line(LOG_INFO, QStringLiteral("Tiplark HTTP: Response %1, body size: %2 bytes")
					       .arg(status)
					       .arg(body.size())),
		};
		// Error answers may carry personal data: their bodies go to the debug level only.
		if (warning)
			expected.append(
				line(LOG_DEBUG, "Tiplark HTTP: Error response body: " + QString::fromUtf8(warned)));
		QCOMPARE(levelled(log), expected);
	}

	void redirectIsFollowedToItsTarget()
	{
		m_sandbox.setFault("/old", Sandbox::Fault::redirect("/new?from=old"));
		m_sandbox.setFault("/new", Sandbox::Fault::respond(201, "final"));

		LogCapture log;
		const HttpResponse response = CurlHelper::get(url("/old"), {});

		QCOMPARE(response.statusCode, 201);
		QCOMPARE(response.body, QByteArray("final"));
		QVERIFY(response.error.isEmpty());
		const auto requests = m_sandbox.requests();
		QCOMPARE(requests.size(), 2);
		QCOMPARE(requests[0].target, QByteArray("/old"));
		QCOMPARE(requests[1].target, QByteArray("/new?from=old"));
		QVERIFY(log.contains(LOG_INFO, P + "Tiplark HTTP: Response 201, body size: 5 bytes"));
	}

	void redirectChainIsCapped_data()
	{
		QTest::addColumn<int>("hops");
		QTest::newRow("5 redirects") << 5;
		QTest::newRow("6 redirects") << 6;
	}

	void redirectChainIsCapped()
	{
		QFETCH(int, hops);
		for (int i = 0; i < hops; ++i)
			m_sandbox.setFault("/r" + QByteArray::number(i),
					   Sandbox::Fault::redirect("/r" + QByteArray::number(i + 1)));
		m_sandbox.setFault("/r" + QByteArray::number(hops), Sandbox::Fault::respond(200, "end"));
		const HttpResponse response = CurlHelper::get(url("/r0"), {});
		QCOMPARE(response.statusCode, hops <= CurlHelper::MAX_REDIRECTS ? 200 : -1);
		QCOMPARE(m_sandbox.requestCount(), qMin(hops, int(CurlHelper::MAX_REDIRECTS)) + 1);
	}

	void redirectsStayOnTheWebSchemes_data()
	{
		QTest::addColumn<QString>("url");
		QTest::addColumn<QString>("allowed");

		QTest::newRow("https") << "https://api.tiplark.example/v1/me"
				       << "https";
		QTest::newRow("https, capitals") << "HTTPS://api.tiplark.example/v1/me"
						 << "https";
		QTest::newRow("http") << "http://127.0.0.1:38201/v1/me"
				      << "http,https";
		QTest::newRow("prefix only") << "httpsx://example/v1/me"
					     << "http,https";
	}

	// An https request may be redirected only to https, so the token never travels in clear text.
	// The sandbox speaks plain http: the https choice itself is checked here, and what the option does
	// on the wire is shown by a plain request that must not follow a redirect to another scheme.
	void redirectsStayOnTheWebSchemes()
	{
		QFETCH(QString, url);
		QFETCH(QString, allowed);
		QCOMPARE(CurlHelper::allowedRedirectProtocols(url), allowed);
	}

	void redirectToAnotherSchemeIsNotFollowed_data()
	{
		QTest::addColumn<bool>("overTls");
		QTest::addColumn<QByteArray>("location");

		// libcurl's own default would follow ftp (here into the sandbox's own port, where it would hang
		// waiting for a greeting).
		QTest::newRow("ftp") << false << QByteArray("ftp://127.0.0.1:%1/secret");
		QTest::newRow("file") << false << QByteArray("file:///etc/passwd");
		QTest::newRow("gopher") << false << QByteArray("gopher://127.0.0.1:%1/");
		// Into the plain sandbox, which would get the bearer token in clear text.
		QTest::newRow("https to http") << true << QByteArray("http://127.0.0.1:%1/v1/me");
	}

	void redirectToAnotherSchemeIsNotFollowed()
	{
		QFETCH(bool, overTls);
		QFETCH(QByteArray, location);
		Sandbox::Server &origin = overTls ? m_tlsSandbox : m_sandbox;
		location.replace("%1", QByteArray::number(m_sandbox.port()));
		origin.setFault("/v1/me", Sandbox::Fault::redirect(location));

		LogCapture log;
		const HttpResponse response =
			CurlHelper::get(origin.baseUrl() + "/v1/me", {{"Authorization", "Bearer token"}});

		QCOMPARE(response.statusCode, -1);
		QCOMPARE(response.error, curlText(CURLE_UNSUPPORTED_PROTOCOL));
		QCOMPARE(m_sandbox.requestCount() + m_tlsSandbox.requestCount(), 1);
		QVERIFY(log.contains(LOG_ERROR, P + "Tiplark HTTP: Request failed: " + response.error + " (code 1)"));
	}

	void bodySize_data()
	{
		QTest::addColumn<qint64>("size");
		QTest::addColumn<bool>("kept");

		QTest::newRow("1 MiB") << qint64(1) * 1024 * 1024 << true;
		QTest::newRow("exactly 16 MiB") << CurlHelper::MAX_BODY_BYTES << true;
		QTest::newRow("16 MiB and a byte") << CurlHelper::MAX_BODY_BYTES + 1 << false;
		QTest::newRow("20 MiB") << qint64(20) * 1024 * 1024 << false;
	}

	// A server that sends without end must not fill OBS's memory: past 16 MiB the answer is a failure.
	void bodySize()
	{
		QFETCH(qint64, size);
		QFETCH(bool, kept);
		m_sandbox.setFault("/v1/donations", Sandbox::Fault::large(size));

		LogCapture log;
		const HttpResponse response = CurlHelper::get(url("/v1/donations"), {});

		if (kept) {
			QCOMPARE(response.statusCode, 200);
			QCOMPARE(qint64(response.body.size()), size);
			QVERIFY(response.error.isEmpty());
			return;
		}
		QCOMPARE(response.statusCode, -1);
		QCOMPARE(response.body, QByteArray());
		QCOMPARE(response.error, QStringLiteral("Response body too large (over 16 MiB)"));
		QCOMPARE(log.texts(LOG_ERROR),
			 QStringList{P + QStringLiteral("Tiplark HTTP: Request failed: Response body too large (over "
							"16 MiB) (code %1)")
						 .arg(int(CURLE_WRITE_ERROR))});
	}

	// libcurl leaves out a "Name: " line with nothing after it; an empty value must still be sent.
	void emptyHeaderValueIsSent()
	{
		CurlHelper::get(url("/v1/me"), {{"X-Empty", ""}, {"X-Full", "1"}});

		const auto requests = m_sandbox.requests();
		QCOMPARE(requests.size(), 1);
		QVERIFY2(requests[0].headerLines.contains("X-Empty:"), requests[0].headerLines.join(" | ").constData());
		QCOMPARE(requests[0].header("X-Empty"), QByteArray());
		QVERIFY(requests[0].headerLines.contains("X-Full: 1"));
	}

	void failedExchange_data()
	{
		QTest::addColumn<bool>("refused");
		QTest::addColumn<Sandbox::Fault>("fault");
		QTest::addColumn<int>("code");

		QTest::newRow("connection refused") << true << Sandbox::Fault() << int(CURLE_COULDNT_CONNECT);
		QTest::newRow("closed without an answer") << false << Sandbox::Fault::close() << int(CURLE_GOT_NOTHING);
		// Some bytes of the body arrived, but the body stays empty.
		QTest::newRow("body cut short")
			<< false << Sandbox::Fault::raw("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\npartial")
			<< int(CURLE_PARTIAL_FILE);
		QTest::newRow("not HTTP")
			<< false << Sandbox::Fault::raw("hello\r\n\r\n") << int(CURLE_UNSUPPORTED_PROTOCOL);
	}

	void failedExchange()
	{
		QFETCH(bool, refused);
		QFETCH(Sandbox::Fault, fault);
		QFETCH(int, code);
		const QString target = refused ? QStringLiteral("http://127.0.0.1:%1/v1/me").arg(closedPort())
					       : url("/v1/me");
		if (!refused)
			m_sandbox.setFault("/v1/me", fault);

		LogCapture log;
		const HttpResponse response = CurlHelper::get(target, {});

		const QString description = curlText(CURLcode(code));
		QCOMPARE(response.statusCode, -1);
		QCOMPARE(response.body, QByteArray());
		QCOMPARE(response.error, description);
		QCOMPARE(levelled(log),
			 QStringList({
				 line(LOG_INFO, "Tiplark HTTP: GET " + target),
				 line(LOG_DEBUG, "Tiplark HTTP: Executing request..."),
				 line(LOG_ERROR, QStringLiteral("Tiplark HTTP: Request failed: %1 (code %2)")
							 .arg(description)
							 .arg(code)),
			 }));
	}

	void certificateFromAnotherCaIsRefusedBeforeAnythingIsSent()
	{
		LogCapture log;
		const HttpResponse response =
			CurlHelper::get(m_strangerSandbox.baseUrl() + "/v1/me", {{"Authorization", "Bearer token"}});

		QCOMPARE(response.statusCode, -1);
		QCOMPARE(response.error, curlText(CURLE_PEER_FAILED_VERIFICATION));
		QCOMPARE(m_strangerSandbox.requestCount(), 0);
		QVERIFY(log.contains(LOG_ERROR, P + "Tiplark HTTP: Request failed: " + response.error + " (code 60)"));
	}

	// The transport's connection cache, which requests that are never re-sent do without.
	void connectionIsKept_data()
	{
		QTest::addColumn<int>("resend"); // CurlHelper::Resend
		// New connections after the first request; every one resumes the first one's TLS session.
		QTest::addColumn<int>("connections");

		QTest::newRow("one for all") << int(CurlHelper::Resend::Allowed) << 0;
		QTest::newRow("never re-sent: a connection each") << int(CurlHelper::Resend::Never) << 3;
	}

	void connectionIsKept()
	{
		QFETCH(int, resend);
		QFETCH(int, connections);
		// Answers that succeed: after an error answer libcurl 8 may close the connection (when the answer
		// comes before it has marked the request sent), and cpp-httplib 0.41 always closes it.
		const QString skip = m_tlsSandbox.baseUrl() + "/v1/donations/queue/skip";
		m_tlsSandbox.setFault("/v1/donations/queue/skip", Sandbox::Fault::respond(200, "{}"));
		QCOMPARE(CurlHelper::get(skip, {}).statusCode, 200);
		const Sandbox::Server::Traffic opened = m_tlsSandbox.traffic();
		for (int i = 0; i < 3; ++i)
			QCOMPARE(CurlHelper::post(skip, {}, {}, CurlHelper::Resend(resend)).statusCode, 200);

		const Sandbox::Server::Traffic traffic = m_tlsSandbox.traffic();
		QCOMPARE(traffic.connections - opened.connections, connections);
		// GnuTLS's libcurl in Debian 12 (7.88) resumes no TLS 1.3 session: a new connection there costs a
		// full handshake.
		if (HostLibcurl::host()->version.contains("GnuTLS/")) {
			qInfo("new connections: %d, resumed handshakes: %d", traffic.connections - opened.connections,
			      traffic.resumedHandshakes - opened.resumedHandshakes);
			return;
		}
		QCOMPARE(traffic.resumedHandshakes - opened.resumedHandshakes, connections);
		QCOMPARE(traffic.fullHandshakes, opened.fullHandshakes);
	}

	// The service closes a kept connection right after reading a request: libcurl sends it again on a new
	// one unless the request says otherwise. Each operation as the plug-in makes it.
	void keptConnectionClosedUnderARequest_data()
	{
		QTest::addColumn<int>("op");
		QTest::addColumn<int>("sent");
		for (const ServiceOperationInfo &info : SERVICE_OPERATIONS) {
			// A skip sent twice skips two alerts, and a refresh spends a rotating refresh token: once
			// only. Reads, decisions and the switch come out the same when they arrive twice.
			const bool once = info.op == ServiceOperation::SkipCurrentDonation ||
					  info.op == ServiceOperation::RefreshToken;
			QTest::newRow(info.name) << int(info.op) << (once ? 1 : 2);
		}
	}

	void keptConnectionClosedUnderARequest()
	{
		QFETCH(int, op);
		QFETCH(int, sent);
		const ServiceOperationInfo &info = serviceOperation(ServiceOperation(op));
		saveSandboxSignIn(m_tlsSandbox, QDateTime::currentDateTime().addSecs(3600));
		AuthManager auth(sandboxAddresses(m_tlsSandbox));
		ApiClient client(&auth, sandboxAddresses(m_tlsSandbox));
		startServiceOperation(ServiceOperation::FetchUserInfo, client, auth);
		QTRY_COMPARE(backgroundRequestsInFlight(), 0);
		const int before = m_tlsSandbox.requests(info.path).size();

		m_tlsSandbox.setFault(info.path, Sandbox::Fault::close().once().forMethod(info.method));
		startServiceOperation(info.op, client, auth);
		QTRY_COMPARE(backgroundRequestsInFlight(), 0);
		QCOMPARE(m_tlsSandbox.requests(info.path).size() - before, sent);
	}

	// The one slow test: a server that accepts and never answers.
	void silentServerTimesOutAfterThirtySeconds()
	{
		m_sandbox.setFault("/v1/me", Sandbox::Fault::hold());
		LogCapture log;
		QElapsedTimer clock;
		clock.start();
		const HttpResponse response = CurlHelper::get(url("/v1/me"), {});
		const qint64 elapsed = clock.elapsed();
		m_sandbox.releaseHeld();

		QCOMPARE(response.statusCode, -1);
		QCOMPARE(response.body, QByteArray());
		QCOMPARE(response.error, curlText(CURLE_OPERATION_TIMEDOUT));
		QVERIFY(log.contains(LOG_ERROR, P + "Tiplark HTTP: Request failed: " + response.error + " (code 28)"));
		// The limit is the transport's 30 seconds, not an earlier one of its own or of the server.
		QVERIFY2(elapsed >= 29500 && elapsed < 40000, qPrintable(QString::number(elapsed)));
	}

	void bodies_data()
	{
		QTest::addColumn<QString>("method");
		QTest::addColumn<QByteArray>("body");

		QTest::newRow("POST empty") << "POST" << QByteArray();
		QTest::newRow("PATCH empty") << "PATCH" << QByteArray();
		QTest::newRow("POST form") << "POST" << QByteArray("grant_type=refresh_token&client_id=x");
		QTest::newRow("PATCH with zero bytes") << "PATCH" << QByteArray("{\"a\":\0\"b\"}", 10);
	}

	void bodies()
	{
		QFETCH(QString, method);
		QFETCH(QByteArray, body);
		const QMap<QString, QString> headers = {{"Content-Type", "application/json"}};

		LogCapture log;
		const HttpResponse response = method == "POST" ? CurlHelper::post(url("/v1/x"), body, headers)
							       : CurlHelper::patch(url("/v1/x"), body, headers);

		QCOMPARE(response.statusCode, 404); // nothing is registered there
		const auto requests = m_sandbox.requests();
		QCOMPARE(requests.size(), 1);
		QCOMPARE(requests[0].method, method.toUtf8());
		QCOMPARE(requests[0].body, body);
		QVERIFY2(requests[0].headerLines.contains("Content-Length: " + QByteArray::number(body.size())),
			 requests[0].headerLines.join(" | ").constData());
		QCOMPARE(requests[0].header("Content-Type"), QByteArray("application/json"));
		QCOMPARE(requests[0].header("Transfer-Encoding"), QByteArray());
		// Then the 404's body.
		QCOMPARE(
			log.texts(LOG_DEBUG).mid(0, 2),
			QStringList(
				{P + QStringLiteral("Tiplark HTTP: %1 body size: %2 bytes").arg(method).arg(body.size()),
				 P + "Tiplark HTTP: Executing request..."}));
	}

	void headerLinesInAscendingNameOrder()
	{
		QMap<QString, QString> headers;
		headers.insert("X-TIPLARK-PLATFORM-VERSION", "29.0.2");
		headers.insert("x-lower", "after the capitals");
		headers.insert("Content-Type", "application/json");
		headers.insert("Authorization", "Bearer token");
		headers.insert("X-TIPLARK-PLATFORM", "OBS");
		headers.insert("Accept", "application/json");
		headers.insert("X-Percent", "%1 %2 100%");
		headers.insert("X-%1", "v%2");

		CurlHelper::get(url("/v1/me?x=1"), headers);

		const auto requests = m_sandbox.requests();
		QCOMPARE(requests.size(), 1);
		QCOMPARE(requests[0].target, QByteArray("/v1/me?x=1"));
		// libcurl's own lines first (Host, User-Agent), then the map's, with no Accept of libcurl's own.
		QCOMPARE(requests[0].headerLines, QList<QByteArray>({
							  "Host: 127.0.0.1:" + QByteArray::number(m_sandbox.port()),
							  "User-Agent: OBS-Tiplark/1.0.0",
							  "Accept: application/json",
							  "Authorization: Bearer token",
							  "Content-Type: application/json",
							  "X-%1: v%2",
							  "X-Percent: %1 %2 100%",
							  "X-TIPLARK-PLATFORM: OBS",
							  "X-TIPLARK-PLATFORM-VERSION: 29.0.2",
							  "x-lower: after the capitals",
						  }));
	}

	void userAgent_data()
	{
		QTest::addColumn<HeaderMap>("headers");
		QTest::addColumn<QList<QByteArray>>("lines");

		QTest::newRow("default")
			<< HeaderMap() << QList<QByteArray>({"User-Agent: OBS-Tiplark/1.0.0", "Accept: */*"});
		QTest::newRow("replaced by a map entry")
			<< HeaderMap({{"User-Agent", "OBS-Tiplark/1.0.0 (OBS 29.0.2)"}})
			<< QList<QByteArray>({"Accept: */*", "User-Agent: OBS-Tiplark/1.0.0 (OBS 29.0.2)"});
	}

	void userAgent()
	{
		QFETCH(HeaderMap, headers);
		QFETCH(QList<QByteArray>, lines);

		CurlHelper::get(url("/"), headers);

		const auto requests = m_sandbox.requests();
		QCOMPARE(requests.size(), 1);
		QCOMPARE(requests[0].method, QByteArray("GET"));
		QList<QByteArray> expected = {"Host: 127.0.0.1:" + QByteArray::number(m_sandbox.port())};
		expected += lines;
		QCOMPARE(requests[0].headerLines, expected);
	}

	// Every call has its own handle and buffers: answers never cross between threads.
	void concurrentCallsKeepTheirOwnAnswers()
	{
		constexpr int kThreads = 6;
		constexpr int kCalls = 8;
		for (int t = 0; t < kThreads; ++t)
			m_sandbox.setFault("/t" + QByteArray::number(t),
					   Sandbox::Fault::respond(200, QByteArray(100 + 1000 * t, char('a' + t))));
		std::atomic<int> wrong{0};
		QList<QThread *> threads;
		for (int t = 0; t < kThreads; ++t) {
			const QString target = url("/t" + QByteArray::number(t));
			threads.append(QThread::create([t, target, &wrong] {
				for (int i = 0; i < kCalls; ++i) {
					const HttpResponse response =
						CurlHelper::get(target, {{"X-Call", QString::number(t * 100 + i)}});
					if (response.statusCode != 200 ||
					    response.body != QByteArray(100 + 1000 * t, char('a' + t)))
						++wrong;
				}
			}));
			threads.last()->start();
		}
		for (QThread *thread : threads) {
			QVERIFY(thread->wait(60000));
			delete thread;
		}
		QCOMPARE(wrong.load(), 0);
		QCOMPARE(m_sandbox.requestCount(), kThreads * kCalls);
		// Header lists do not cross either: each request carries the header of its own thread.
		for (const auto &request : m_sandbox.requests())
			QCOMPARE(request.header("X-Call").toInt() / 100, request.path.mid(2).toInt());
	}
};

TIPLARK_TEST_MAIN(TestCurlHelper)
#include "test-curl-helper.moc"
