#include "auth/oauth-server.h"
#include "held-ports.h"
#include "log-capture.h"
#include "plugin-support.h"
#include "test-main.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>

#include <memory>
#include <vector>

namespace {
const QString PREFIX = QStringLiteral("[tiplark-obs-plugin] ");

// The pages as a browser receives them.
const char *const SUCCESS_PAGE = R"html(<!DOCTYPE html>
<html>
<head>
    <meta charset="utf-8">
    <title>Tiplark - Zalogowano</title>
    <style>
        body {
            font-family: -apple-system, BlinkMacSystemFont, 'Segoe UI', Roboto, sans-serif;
            background: linear-gradient(135deg, #1a1a2e 0%, #16213e 100%);
            color: #fff;
            display: flex;
            justify-content: center;
            align-items: center;
            height: 100vh;
            margin: 0;
        }
        .container {
            text-align: center;
            padding: 40px;
            background: rgba(255,255,255,0.1);
            border-radius: 16px;
            backdrop-filter: blur(10px);
        }
        .checkmark {
            width: 80px;
            height: 80px;
            border-radius: 50%;
            background: #27ae60;
            display: flex;
            justify-content: center;
            align-items: center;
            margin: 0 auto 20px;
            font-size: 40px;
        }
        h1 {
            margin: 0 0 10px;
        }
        p {
            color: #bdc3c7;
            margin: 0;
        }
    </style>
</head>
<body>
    <div class="container">
        <div class="checkmark">✓</div>
        <h1>Zalogowano pomyślnie!</h1>
        <p>Możesz zamknąć to okno i wrócić do OBS.</p>
    </div>
    <script>setTimeout(() => window.close(), 3000);</script>
</body>
</html>
)html";

const char *const ERROR_PAGE = R"html(<!DOCTYPE html>
<html>
<head>
    <meta charset="utf-8">
    <title>Tiplark - Błąd</title>
    <style>
        body {
            font-family: -apple-system, BlinkMacSystemFont, 'Segoe UI', Roboto, sans-serif;
            background: linear-gradient(135deg, #1a1a2e 0%, #16213e 100%);
            color: #fff;
            display: flex;
            justify-content: center;
            align-items: center;
            height: 100vh;
            margin: 0;
        }
        .container {
            text-align: center;
            padding: 40px;
            background: rgba(255,255,255,0.1);
            border-radius: 16px;
            backdrop-filter: blur(10px);
        }
        .error-icon {
            width: 80px;
            height: 80px;
            border-radius: 50%;
            background: #c0392b;
            display: flex;
            justify-content: center;
            align-items: center;
            margin: 0 auto 20px;
            font-size: 40px;
        }
        h1 {
            margin: 0 0 10px;
        }
        p {
            color: #bdc3c7;
            margin: 0;
        }
    </style>
</head>
<body>
    <div class="container">
        <div class="error-icon">✗</div>
        <h1>Błąd logowania</h1>
        <p>MESSAGE</p>
    </div>
</body>
</html>
)html";

QByteArray response(const QByteArray &page)
{
	return "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " +
	       QByteArray::number(page.size()) + "\r\nConnection: close\r\n\r\n" + page;
}

QByteArray errorPage(const QByteArray &message)
{
	return QByteArray(ERROR_PAGE).replace("MESSAGE", message);
}

const QByteArray NOT_FOUND("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");

// A raw client on the test's own event loop: what it received and whether the server closed on it.
class RawClient {
public:
	explicit RawClient(quint16 port)
	{
		QObject::connect(&socket, &QTcpSocket::readyRead, [this] { received += socket.readAll(); });
		QObject::connect(&socket, &QTcpSocket::disconnected, [this] { closedByServer = true; });
		socket.connectToHost(QHostAddress::LocalHost, port);
	}
	bool waitConnected()
	{
		return socket.state() == QAbstractSocket::ConnectedState ||
		       QSignalSpy(&socket, &QTcpSocket::connected).wait(5000);
	}
	void send(const QByteArray &bytes)
	{
		socket.write(bytes);
		socket.flush();
	}

	QTcpSocket socket;
	QByteArray received;
	bool closedByServer = false;
};

int openSockets(const OAuthServer &server)
{
	return server.findChildren<QTcpSocket *>().size();
}
} // namespace

class TestOAuthServer : public QObject {
	Q_OBJECT

private slots:
	void portsAreTriedInOrder()
	{
		LogCapture log;
		auto taken = holdPorts(38080, 38081);
		{
			OAuthServer server;
			QCOMPARE(server.redirectUri(), QStringLiteral("http://127.0.0.1:0/callback"));
			QVERIFY(server.start());
			QVERIFY(server.start());
			QCOMPARE(server.redirectUri(), QStringLiteral("http://127.0.0.1:38082/callback"));
			server.stop();
			server.stop();
			QCOMPARE(server.redirectUri(), QStringLiteral("http://127.0.0.1:38082/callback"));
			QVERIFY(server.start());
		}
		const QList<LogCapture::Line> lines = log.lines();
		QCOMPARE(log.texts(), QStringList({PREFIX + "Tiplark: OAuth server listening on port 38082",
						   PREFIX + "Tiplark: OAuth server stopped",
						   PREFIX + "Tiplark: OAuth server listening on port 38082",
						   PREFIX + "Tiplark: OAuth server stopped"}));
		for (const LogCapture::Line &line : lines)
			QCOMPARE(line.level, LOG_INFO);
	}

	void noFreePort()
	{
		auto taken = holdPorts(38080, 38084);
		QTcpServer probe;
		QVERIFY(!probe.listen(QHostAddress::LocalHost, 38084));

		LogCapture log;
		OAuthServer server;
		QVERIFY(!server.start());
		QCOMPARE(server.redirectUri(), QStringLiteral("http://127.0.0.1:0/callback"));
		QCOMPARE(log.texts(),
			 QStringList{PREFIX + "Tiplark: Failed to start OAuth server: " + probe.errorString()});
		QCOMPARE(log.lines().value(0).level, LOG_WARNING);
	}

	void answersTheRedirect_data()
	{
		QTest::addColumn<QByteArray>("request");
		QTest::addColumn<QByteArray>("page");
		// The code and state of codeReceived, or the error of redirectFailed.
		QTest::addColumn<QStringList>("signalled");

		const QByteArray success(SUCCESS_PAGE);
		QTest::newRow("callback") << QByteArray("GET /callback?code=abc&state=xyz HTTP/1.1\r\nHost: x\r\n\r\n")
					  << success << QStringList{"abc", "xyz"};
		// Only the sign-in's own redirect ends it; anything else leaves it waiting (an empty page: 404).
		QTest::newRow("another path") << QByteArray("GET /elsewhere/deep?state=xyz&code=abc HTTP/1.0\r\n\r\n")
					      << QByteArray() << QStringList();
		QTest::newRow("forged state") << QByteArray("GET /callback?code=abc&state=xyZ HTTP/1.1\r\n\r\n")
					      << errorPage("Invalid state") << QStringList();
		QTest::newRow("bare LF") << QByteArray("GET /callback?code=abc&state=xyz HTTP/1.1\n") << success
					 << QStringList{"abc", "xyz"};
		QTest::newRow("code without state") << QByteArray("GET /callback?code=abc HTTP/1.1\r\n\r\n")
						    << errorPage("Invalid state") << QStringList();
		QTest::newRow("first value counts")
			<< QByteArray("GET /callback?code=one&code=two&state=xyz&state=t HTTP/1.1\r\n\r\n") << success
			<< QStringList{"one", "xyz"};
		QTest::newRow("percent-decoding")
			<< QByteArray("GET /callback?code=a%20b+c%41%C5%BC&state=%78yz HTTP/1.1\r\n\r\n") << success
			<< QStringList{QString::fromUtf8("a b+cAż"), "xyz"};
		QTest::newRow("favicon")
			<< QByteArray("GET /favicon.ico HTTP/1.1\r\n\r\n") << QByteArray() << QStringList();
		QTest::newRow("error") << QByteArray("GET /callback?error=access_denied&state=xyz HTTP/1.1\r\n\r\n")
				       << errorPage("access_denied") << QStringList{"access_denied"};
		QTest::newRow("error with code and state")
			<< QByteArray("GET /callback?error=server_error&code=c1&state=xyz HTTP/1.1\r\n\r\n")
			<< errorPage("server_error") << QStringList{"server_error"};
		QTest::newRow("neither code nor error")
			<< QByteArray("GET /callback?state=xyz HTTP/1.1\r\n\r\n") << errorPage("No code received")
			<< QStringList{"No code received"};
		QTest::newRow("markup in the error is escaped")
			<< QByteArray("GET /callback?state=xyz&error=%3Cimg%20src=x%20onerror=%22alert('1')%22%3E "
				      "HTTP/1.1\r\n\r\n")
			<< errorPage("&lt;img src=x onerror=&quot;alert(&#39;1&#39;)&quot;&gt;")
			<< QStringList{"<img src=x onerror=\"alert('1')\">"};
		QTest::newRow("non-ASCII error")
			<< QByteArray("GET /callback?error=%C5%BC%C3%B3%C5%82w&state=xyz HTTP/1.1\r\n\r\n")
			<< errorPage("żółw") << QStringList{QString::fromUtf8("żółw")};
		const QByteArray longCode(OAuthServer::MAX_REQUEST_LINE_BYTES - 40, 'k');
		QTest::newRow("request line just inside the limit")
			<< QByteArray("GET /callback?state=xyz&code=" + longCode + " HTTP/1.1\r\n\r\n") << success
			<< QStringList{QString::fromLatin1(longCode), "xyz"};
	}

	void answersTheRedirect()
	{
		QFETCH(QByteArray, request);
		QFETCH(QByteArray, page);
		QFETCH(QStringList, signalled);

		OAuthServer server;
		server.setExpectedState("xyz");
		QVERIFY(server.start());
		QSignalSpy codes(&server, &OAuthServer::codeReceived);
		QSignalSpy failures(&server, &OAuthServer::redirectFailed);
		RawClient client(38080);
		QVERIFY(client.waitConnected());
		client.send(request);
		QTRY_VERIFY(client.closedByServer);

		QCOMPARE(client.received, page.isEmpty() ? NOT_FOUND : response(page));
		// The Polish letters and the icon take more bytes than characters.
		QVERIFY(page.isEmpty() || page.size() > QString::fromUtf8(page).size());
		QCOMPARE(codes.size(), signalled.size() == 2 ? 1 : 0);
		QCOMPARE(failures.size(), signalled.size() == 1 ? 1 : 0);
		if (signalled.size() == 2) {
			QCOMPARE(codes[0][0].toString(), signalled[0]);
			QCOMPARE(codes[0][1].toString(), signalled[1]);
		} else if (signalled.size() == 1) {
			QCOMPARE(failures[0][0].toString(), signalled[0]);
		}
		QTRY_COMPARE(openSockets(server), 0);
	}

	void requestLineInPieces_data()
	{
		QTest::addColumn<int>("splitAt");
		const QByteArray line("GET /callback?code=abc&state=xyz HTTP/1.1\r\n");
		QTest::newRow("in the target") << 21;
		QTest::newRow("in the protocol word") << line.indexOf("HTTP") + 2;
		QTest::newRow("before the line end") << line.size() - 2;
		QTest::newRow("between CR and LF") << line.size() - 1;
		QTest::newRow("one byte at a time") << -1;
	}

	void requestLineInPieces()
	{
		QFETCH(int, splitAt);
		const QByteArray request("GET /callback?code=abc&state=xyz HTTP/1.1\r\nHost: x\r\n\r\n");
		QList<QByteArray> pieces;
		if (splitAt < 0) {
			for (char c : request)
				pieces.append(QByteArray(1, c));
		} else {
			pieces = {request.left(splitAt), request.mid(splitAt)};
		}

		OAuthServer server;
		server.setExpectedState("xyz");
		QVERIFY(server.start());
		QSignalSpy codes(&server, &OAuthServer::codeReceived);
		RawClient client(38080);
		QVERIFY(client.waitConnected());
		for (const QByteArray &piece : pieces) {
			client.send(piece);
			// Let each piece arrive on its own.
			QTest::qWait(splitAt < 0 ? 2 : 100);
		}
		QTRY_VERIFY(client.closedByServer);
		QCOMPARE(client.received, response(SUCCESS_PAGE));
		QCOMPARE(codes.size(), 1);
		QCOMPARE(codes[0][0].toString(), QStringLiteral("abc"));
	}

	void closedWithoutAnswer_data()
	{
		QTest::addColumn<QByteArray>("request");
		QTest::newRow("POST")
			<< QByteArray("POST /callback?code=abc&state=xyz HTTP/1.1\r\nContent-Length: 0\r\n\r\n");
		QTest::newRow("no protocol word") << QByteArray("GET /callback?code=abc&state=xyz\r\n\r\n");
		QTest::newRow("lower-case method") << QByteArray("get /callback?code=abc&state=xyz HTTP/1.1\r\n\r\n");
		QTest::newRow("GET only in a later line")
			<< QByteArray("PUT / HTTP/1.1\r\nX: GET /callback?code=abc&state=xyz HTTP/1.1\r\n\r\n");
		QTest::newRow("garbage") << QByteArray("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03\r\n", 13);
		QTest::newRow("no line end within 8 KiB")
			<< QByteArray("GET /callback?code=" + QByteArray(OAuthServer::MAX_REQUEST_LINE_BYTES, 'k'));
		QTest::newRow("request line over 8 KiB")
			<< QByteArray("GET /callback?state=s&code=" +
				      QByteArray(OAuthServer::MAX_REQUEST_LINE_BYTES, 'k') + " HTTP/1.1\r\n\r\n");
	}

	void closedWithoutAnswer()
	{
		QFETCH(QByteArray, request);
		OAuthServer server;
		QVERIFY(server.start());
		QSignalSpy codes(&server, &OAuthServer::codeReceived);
		RawClient client(38080);
		QVERIFY(client.waitConnected());
		LogCapture log;
		client.send(request);
		// Well before the idle limit: the request itself ends the connection.
		QTRY_VERIFY_WITH_TIMEOUT(client.closedByServer, OAuthServer::CONNECTION_TIMEOUT_MS / 2);
		QCOMPARE(client.received, QByteArray());
		QCOMPARE(codes.size(), 0);
		QTRY_COMPARE(openSockets(server), 0);
		QCOMPARE(log.texts(), QStringList());
	}

	void peerGivesUpMidLine()
	{
		OAuthServer server;
		QVERIFY(server.start());
		QSignalSpy codes(&server, &OAuthServer::codeReceived);
		{
			RawClient client(38080);
			QVERIFY(client.waitConnected());
			client.send("GET /callback?code=abc&state=xyz HTT");
			QTest::qWait(100);
			QCOMPARE(openSockets(server), 1);
			client.socket.disconnectFromHost();
		}
		QTRY_COMPARE_WITH_TIMEOUT(openSockets(server), 0, OAuthServer::CONNECTION_TIMEOUT_MS / 2);
		QCOMPARE(codes.size(), 0);
	}

	void silentConnectionIsDroppedAndBlocksNothing()
	{
		OAuthServer server;
		server.setExpectedState("xyz");
		QVERIFY(server.start());
		QSignalSpy codes(&server, &OAuthServer::codeReceived);
		QElapsedTimer clock;
		clock.start();
		RawClient silent(38080);
		QVERIFY(silent.waitConnected());
		QTRY_COMPARE(openSockets(server), 1);

		RawClient browser(38080);
		QVERIFY(browser.waitConnected());
		browser.send("GET /callback?code=abc&state=xyz HTTP/1.1\r\n\r\n");
		QTRY_VERIFY(browser.closedByServer);
		QCOMPARE(browser.received, response(SUCCESS_PAGE));
		QCOMPARE(codes.size(), 1);
		QVERIFY(!silent.closedByServer);
		QVERIFY(clock.elapsed() < OAuthServer::CONNECTION_TIMEOUT_MS);

		QTRY_VERIFY_WITH_TIMEOUT(silent.closedByServer, OAuthServer::CONNECTION_TIMEOUT_MS + 5000);
		// The idle timer is a coarse one, which may fire up to 5 % early.
		QVERIFY(clock.elapsed() >= OAuthServer::CONNECTION_TIMEOUT_MS * 9 / 10);
		QCOMPARE(silent.received, QByteArray());
		QTRY_COMPARE(openSockets(server), 0);
	}

	// A client dripping its request line is closed at the limit all the same.
	void drippingConnectionIsClosedAtTheLimit()
	{
		OAuthServer server;
		server.setConnectionTimeout(500);
		QVERIFY(server.start());
		RawClient client(38080);
		QVERIFY(client.waitConnected());
		const QByteArray drip("GET /callback?code=abcdefghijklmnopqrstuvwxyz0123456789");
		int sent = 0;
		while (!client.closedByServer && sent < drip.size()) {
			client.send(drip.mid(sent++, 1));
			QTest::qWait(100);
		}
		QVERIFY2(client.closedByServer, "still open after the whole drip");
		QCOMPARE(client.received, QByteArray());
	}

	// Connections past the limit are closed at once; stopping closes those still open.
	void connectionsAreBounded()
	{
		OAuthServer server;
		QVERIFY(server.start());
		std::vector<std::unique_ptr<RawClient>> clients;
		for (int i = 0; i < OAuthServer::MAX_CONNECTIONS; ++i) {
			clients.push_back(std::make_unique<RawClient>(38080));
			QVERIFY(clients.back()->waitConnected());
		}
		QTRY_COMPARE(openSockets(server), OAuthServer::MAX_CONNECTIONS);
		RawClient extra(38080);
		QVERIFY(extra.waitConnected());
		QTRY_VERIFY(extra.closedByServer);
		for (const auto &client : clients)
			QVERIFY(!client->closedByServer);

		server.stop();
		for (const auto &client : clients)
			QTRY_VERIFY(client->closedByServer);
	}

	void curlClient_data()
	{
		QTest::addColumn<QStringList>("arguments");
		QTest::addColumn<int>("exitCode");
		QTest::addColumn<QByteArray>("output");
		QTest::addColumn<QString>("code");

		const QString url = "http://127.0.0.1:38080/callback?code=x%20y%2Bz&state=s-1";
		QTest::newRow("redirect")
			<< QStringList{"-i", url} << 0 << response(SUCCESS_PAGE) << QStringLiteral("x y%2Bz");
		QTest::newRow("favicon")
			<< QStringList{"-i", "http://127.0.0.1:38080/favicon.ico"} << 0 << NOT_FOUND << QString();
		// curl reports an empty reply (52) when the server closes without answering.
		QTest::newRow("POST")
			<< QStringList{"-i", "-d", "code=abc&state=xyz", url} << 52 << QByteArray() << QString();
	}

	void curlClient()
	{
		QFETCH(QStringList, arguments);
		QFETCH(int, exitCode);
		QFETCH(QByteArray, output);
		QFETCH(QString, code);

		OAuthServer server;
		server.setExpectedState("s-1");
		QVERIFY(server.start());
		QSignalSpy codes(&server, &OAuthServer::codeReceived);
		QProcess curl;
		curl.start("curl", QStringList{"-s", "--noproxy", "*", "--max-time", "20"} + arguments);
		QVERIFY(curl.waitForStarted());
		QSignalSpy finished(&curl, qOverload<int, QProcess::ExitStatus>(&QProcess::finished));
		QVERIFY(finished.wait(25000));
		QCOMPARE(curl.exitCode(), exitCode);
		QCOMPARE(curl.readAllStandardOutput(), output);
		QCOMPARE(codes.size(), code.isEmpty() ? 0 : 1);
		if (!code.isEmpty())
			QCOMPARE(codes[0][0].toString(), code);
	}
};

TIPLARK_TEST_MAIN(TestOAuthServer)
#include "test-oauth-server.moc"
