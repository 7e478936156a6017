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

// What each page shows: the success heading, or the error page's message, escaped.
const QByteArray SUCCESS = QByteArrayLiteral("<h1>Zalogowano pomyślnie!</h1>");

QByteArray errorShown(const QByteArray &escapedMessage)
{
	return "<p>" + escapedMessage + "</p>";
}

// Whether answer is a whole 200 answer, its length the page's length in bytes, whose page holds text.
bool answerShows(const QByteArray &answer, const QByteArray &text)
{
	const int end = answer.indexOf("\r\n\r\n");
	const QByteArray page = answer.mid(end + 4);
	return end >= 0 && page.contains(text) &&
	       answer.left(end) == "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\nContent-Length: " +
					   QByteArray::number(page.size()) + "\r\nConnection: close";
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
		// What the page shows (none: a 404 without a page).
		QTest::addColumn<QByteArray>("shown");
		// The code and state of codeReceived, or the error of redirectFailed.
		QTest::addColumn<QStringList>("signalled");

		const QByteArray success(SUCCESS);
		QTest::newRow("callback") << QByteArray("GET /callback?code=abc&state=xyz HTTP/1.1\r\nHost: x\r\n\r\n")
					  << success << QStringList{"abc", "xyz"};
		// Only the sign-in's own redirect ends it; anything else leaves it waiting (an empty page: 404).
		QTest::newRow("another path") << QByteArray("GET /elsewhere/deep?state=xyz&code=abc HTTP/1.0\r\n\r\n")
					      << QByteArray() << QStringList();
		QTest::newRow("forged state") << QByteArray("GET /callback?code=abc&state=xyZ HTTP/1.1\r\n\r\n")
					      << errorShown("Invalid state") << QStringList();
		QTest::newRow("bare LF") << QByteArray("GET /callback?code=abc&state=xyz HTTP/1.1\n") << success
					 << QStringList{"abc", "xyz"};
		QTest::newRow("code without state") << QByteArray("GET /callback?code=abc HTTP/1.1\r\n\r\n")
						    << errorShown("Invalid state") << QStringList();
		QTest::newRow("first value counts")
			<< QByteArray("GET /callback?code=one&code=two&state=xyz&state=t HTTP/1.1\r\n\r\n") << success
			<< QStringList{"one", "xyz"};
		QTest::newRow("percent-decoding")
			<< QByteArray("GET /callback?code=a%20b+c%41%C5%BC&state=%78yz HTTP/1.1\r\n\r\n") << success
			<< QStringList{QString::fromUtf8("a b+cAż"), "xyz"};
		QTest::newRow("favicon")
			<< QByteArray("GET /favicon.ico HTTP/1.1\r\n\r\n") << QByteArray() << QStringList();
		QTest::newRow("error") << QByteArray("GET /callback?error=access_denied&state=xyz HTTP/1.1\r\n\r\n")
				       << errorShown("access_denied") << QStringList{"access_denied"};
		QTest::newRow("error with code and state")
			<< QByteArray("GET /callback?error=server_error&code=c1&state=xyz HTTP/1.1\r\n\r\n")
			<< errorShown("server_error") << QStringList{"server_error"};
		QTest::newRow("neither code nor error")
			<< QByteArray("GET /callback?state=xyz HTTP/1.1\r\n\r\n") << errorShown("No code received")
			<< QStringList{"No code received"};
		QTest::newRow("markup in the error is escaped")
			<< QByteArray("GET /callback?state=xyz&error=%3Cimg%20src=x%20onerror=%22alert('1')%22%3E "
				      "HTTP/1.1\r\n\r\n")
			<< errorShown("&lt;img src=x onerror=&quot;alert(&#39;1&#39;)&quot;&gt;")
			<< QStringList{"<img src=x onerror=\"alert('1')\">"};
		QTest::newRow("non-ASCII error")
			<< QByteArray("GET /callback?error=%C5%BC%C3%B3%C5%82w&state=xyz HTTP/1.1\r\n\r\n")
			<< errorShown("żółw") << QStringList{QString::fromUtf8("żółw")};
		const QByteArray longCode(OAuthServer::MAX_REQUEST_LINE_BYTES - 40, 'k');
		QTest::newRow("request line just inside the limit")
			<< QByteArray("GET /callback?state=xyz&code=" + longCode + " HTTP/1.1\r\n\r\n") << success
			<< QStringList{QString::fromLatin1(longCode), "xyz"};
	}

	void answersTheRedirect()
	{
		QFETCH(QByteArray, request);
		QFETCH(QByteArray, shown);
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

		if (shown.isEmpty())
			QCOMPARE(client.received, NOT_FOUND);
		else
			QVERIFY2(answerShows(client.received, shown), client.received.constData());
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
		QVERIFY(answerShows(client.received, SUCCESS));
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
		QVERIFY(answerShows(browser.received, SUCCESS));
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

	// With every place taken by connections that say nothing, the browser's redirect is still answered:
	// the connection that has waited longest makes way, and stopping closes those still open.
	void connectionsAreBounded_data()
	{
		QTest::addColumn<int>("flood");
		QTest::addColumn<QByteArray>("held"); // what each holder sends
		// The browser's line comes only after the flood, each of which sends what a holder sends (a holder
		// that comes straight back when pushed out); else at once, and the flood sends nothing.
		QTest::addColumn<bool>("browserWaits");
		QTest::newRow("places held") << 0 << QByteArray() << false;
		// Accepted in the same turn as the redirect: they must not push it out before it is read. (More
		// than fit the listen queue would wait for a turn of the event loop.)
		QTest::newRow("flood behind the redirect") << 16 << QByteArray() << false;
		// Request lines that do not move make way, the oldest first.
		QTest::newRow("places held by one byte each") << 0 << QByteArray("G") << false;
		QTest::newRow("one byte each, a flood behind the redirect") << 16 << QByteArray("G") << false;
		QTest::newRow("one byte each, the browser waits while they come back")
			<< OAuthServer::MAX_CONNECTIONS << QByteArray("G") << true;
		QTest::newRow("nothing sent, the browser waits while they come back")
			<< OAuthServer::MAX_CONNECTIONS << QByteArray() << true;
	}

	void connectionsAreBounded()
	{
		QFETCH(int, flood);
		QFETCH(QByteArray, held);
		QFETCH(bool, browserWaits);
		const QByteArray line("GET /callback?code=abc&state=xyz HTTP/1.1\r\n\r\n");
		OAuthServer server;
		server.setExpectedState("xyz");
		// A waiting browser needs its grace; else every place may be given up at once.
		const int grace = browserWaits ? 4 * OAuthServer::GRACE_MS : 0;
		server.setGraceTime(grace);
		QVERIFY(server.start());
		QSignalSpy codes(&server, &OAuthServer::codeReceived);
		std::vector<std::unique_ptr<RawClient>> holders;
		// Each holder's byte is there when the listener takes the connection in, and is read then.
		for (int i = 0; i < OAuthServer::MAX_CONNECTIONS; ++i) {
			holders.push_back(std::make_unique<RawClient>(38080));
			QVERIFY(holders.back()->socket.waitForConnected(5000));
			holders.back()->send(held);
			if (i % 16 == 15)
				QTRY_COMPARE(openSockets(server), i + 1);
		}
		QTRY_COMPARE(openSockets(server), OAuthServer::MAX_CONNECTIONS);
		QTest::qWait(grace); // the holders are past theirs

		// Connected and sent without the server's event loop running in between.
		RawClient browser(38080);
		QVERIFY(browser.socket.waitForConnected(5000));
		if (!browserWaits)
			browser.send(line);
		std::vector<std::unique_ptr<RawClient>> flooders;
		for (int i = 0; i < flood; ++i) {
			flooders.push_back(std::make_unique<RawClient>(38080));
			QVERIFY(flooders.back()->socket.waitForConnected(5000));
			if (browserWaits) {
				flooders.back()->send(held);
				QCoreApplication::processEvents();
			}
		}
		if (browserWaits)
			browser.send(line);
		QTRY_VERIFY(browser.closedByServer);
		QVERIFY(answerShows(browser.received, SUCCESS));
		QCOMPARE(codes.size(), 1);
		QTRY_VERIFY(holders.front()->closedByServer);
		QTRY_VERIFY(openSockets(server) <= OAuthServer::MAX_CONNECTIONS);

		server.stop();
		for (const auto &client : holders)
			QTRY_VERIFY(client->closedByServer);
		for (const auto &client : flooders)
			QTRY_VERIFY(client->closedByServer);
	}

	// A browser may wait before its request line, or send it in pieces, while other local connections
	// come and go: newer connections never push out one that has begun its request line, and one that
	// has sent nothing yet only once every place is taken.
	void slowBrowserKeepsItsPlace_data()
	{
		QTest::addColumn<int>("holders");
		QTest::addColumn<QByteArray>("firstPiece"); // sent at once; the rest after the flood
		QTest::addColumn<int>("flood");
		QTest::newRow("silent while eight held connections are reopened") << 8 << QByteArray() << 8;
		QTest::newRow("request line in two pieces, a flood between")
			<< OAuthServer::MAX_CONNECTIONS << QByteArray("GET /callback?code=abc")
			<< 2 * OAuthServer::MAX_CONNECTIONS;
	}

	void slowBrowserKeepsItsPlace()
	{
		QFETCH(int, holders);
		QFETCH(QByteArray, firstPiece);
		QFETCH(int, flood);
		const QByteArray line("GET /callback?code=abc&state=xyz HTTP/1.1\r\n\r\n");
		OAuthServer server;
		server.setExpectedState("xyz");
		// However soon any place may be given up, the begun line keeps its own.
		server.setGraceTime(0);
		QVERIFY(server.start());
		std::vector<std::unique_ptr<RawClient>> others;
		auto connectOne = [&] {
			others.push_back(std::make_unique<RawClient>(38080));
			return others.back()->waitConnected();
		};
		for (int i = 0; i < holders; ++i)
			QVERIFY(connectOne());
		QTRY_COMPARE(openSockets(server), holders);

		RawClient browser(38080);
		QVERIFY(browser.waitConnected());
		browser.send(firstPiece);
		QTRY_COMPARE(openSockets(server), qMin(holders + 1, OAuthServer::MAX_CONNECTIONS));
		// One at a time, each taken in by the server before the next comes.
		for (int i = 1; i <= flood; ++i) {
			QVERIFY(connectOne());
			QTRY_COMPARE(openSockets(server), qMin(holders + 1 + i, OAuthServer::MAX_CONNECTIONS));
		}
		browser.send(line.mid(firstPiece.size()));
		QTRY_VERIFY(browser.closedByServer);
		QVERIFY(answerShows(browser.received, SUCCESS));
	}

	void curlClient_data()
	{
		QTest::addColumn<QStringList>("arguments");
		QTest::addColumn<int>("exitCode");
		QTest::addColumn<QByteArray>("output");
		QTest::addColumn<QString>("code");

		const QString url = "http://127.0.0.1:38080/callback?code=x%20y%2Bz&state=s-1";
		QTest::newRow("redirect") << QStringList{"-i", url} << 0 << SUCCESS << QStringLiteral("x y%2Bz");
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
		const QByteArray received = curl.readAllStandardOutput();
		if (output == SUCCESS)
			QVERIFY(answerShows(received, SUCCESS));
		else
			QCOMPARE(received, output);
		QCOMPARE(codes.size(), code.isEmpty() ? 0 : 1);
		if (!code.isEmpty())
			QCOMPARE(codes[0][0].toString(), code);
	}
};

TIPLARK_TEST_MAIN(TestOAuthServer)
#include "test-oauth-server.moc"
