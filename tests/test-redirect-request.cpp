#include "auth/redirect-request.h"
#include "test-main.h"

namespace {
using Status = RequestLineReader::Status;
const int MAX = RequestLineReader::MAX_REQUEST_LINE_BYTES;

// Feeds bytes in pieces of the given size (0: all at once) until the reader has an outcome.
RequestLineReader fed(const QByteArray &bytes, int pieceSize)
{
	RequestLineReader reader;
	if (pieceSize == 0) {
		reader.append(bytes);
		return reader;
	}
	for (int offset = 0; offset < bytes.size() && reader.status() == Status::Incomplete; offset += pieceSize)
		reader.append(bytes.mid(offset, pieceSize));
	return reader;
}
} // namespace

class TestRedirectRequest : public QObject {
	Q_OBJECT

private slots:
	void gathersTheRequestLineInAnyPieces_data()
	{
		QTest::addColumn<QByteArray>("bytes");
		QTest::addColumn<int>("status");
		QTest::addColumn<QString>("line");

		const QByteArray redirect = "GET /callback?code=abc&state=xyz HTTP/1.1\r\n";
		QTest::newRow("whole request") << redirect + "Host: 127.0.0.1:38080\r\n\r\n"
					       << int(Status::Complete) << QString::fromLatin1(redirect);
		QTest::newRow("line without its end")
			<< redirect.left(redirect.size() - 2) << int(Status::Incomplete) << QString();
		QTest::newRow("bare LF") << QByteArray("GET / HTTP/1.0\nrest") << int(Status::Complete)
					 << QStringLiteral("GET / HTTP/1.0\n");
		// Its line end is the bound's last byte.
		const QByteArray longest = "GET /callback?code=" + QByteArray(MAX - 29, 'k') + " HTTP/1.1\n";
		QTest::newRow("longest line") << longest << int(Status::Complete) << QString::fromLatin1(longest);
		QTest::newRow("line end just past the bound") << QByteArray(MAX, 'k') + "\n"
							      << int(Status::TooLong) << QString();
		QTest::newRow("bound reached without a line end")
			<< QByteArray(MAX, 'k') << int(Status::TooLong) << QString();
		QTest::newRow("short of the bound without a line end")
			<< QByteArray(MAX - 1, 'k') << int(Status::Incomplete) << QString();
		QTest::newRow("UTF-8 split anywhere")
			<< QByteArray("GET /callback?code=żółw HTTP/1.1\r\n") << int(Status::Complete)
			<< QStringLiteral("GET /callback?code=żółw HTTP/1.1\r\n");
	}

	void gathersTheRequestLineInAnyPieces()
	{
		QFETCH(QByteArray, bytes);
		QFETCH(int, status);
		QFETCH(QString, line);
		for (int pieceSize : {0, 1, 2, 7, 4096, MAX}) {
			const RequestLineReader reader = fed(bytes, pieceSize);
			QVERIFY2(int(reader.status()) == status,
				 qPrintable(QStringLiteral("pieces of %1").arg(pieceSize)));
			QCOMPARE(reader.requestLine(), line);
		}
	}

	void anOutcomeStays()
	{
		RequestLineReader complete;
		complete.append("GET /callback?code=a HTTP/1.1\r\n");
		QCOMPARE(complete.append("GET /other HTTP/1.1\r\n"), Status::Complete);
		QCOMPARE(complete.requestLine(), QStringLiteral("GET /callback?code=a HTTP/1.1\r\n"));

		RequestLineReader tooLong;
		tooLong.append(QByteArray(MAX, 'k'));
		QCOMPARE(tooLong.append("\nGET / HTTP/1.1\r\n"), Status::TooLong);
		QCOMPARE(tooLong.requestLine(), QString());
	}

	void readsTheRedirectQuery_data()
	{
		QTest::addColumn<QString>("line");
		QTest::addColumn<bool>("isGet");
		QTest::addColumn<QString>("code");
		QTest::addColumn<QString>("state");
		QTest::addColumn<QString>("error");

		QTest::newRow("code and state") << "GET /callback?code=abc&state=xyz HTTP/1.1\r\n"
						<< true << "abc"
						<< "xyz" << QString();
		QTest::newRow("error") << "GET /callback?error=access_denied&state=xyz HTTP/1.1\r\n"
				       << true << QString() << "xyz"
				       << "access_denied";
		QTest::newRow("percent-encoded") << "GET /callback?code=a%20b&state=%C5%BC HTTP/1.1\r\n"
						 << true << "a b" << QStringLiteral("ż") << QString();
		QTest::newRow("no query") << "GET /favicon.ico HTTP/1.1\r\n"
					  << true << QString() << QString() << QString();
		QTest::newRow("not a GET") << "POST /callback?code=abc&state=xyz HTTP/1.1\r\n"
					   << false << QString() << QString() << QString();
		QTest::newRow("no protocol") << "GET /callback?code=abc\r\n"
					     << false << QString() << QString() << QString();
	}

	void readsTheRedirectQuery()
	{
		QFETCH(QString, line);
		const RedirectQuery query = RedirectQuery::fromRequestLine(line);
		QTEST(query.isGet, "isGet");
		QTEST(query.code, "code");
		QTEST(query.state, "state");
		QTEST(query.error, "error");
	}
};

TIPLARK_TEST_MAIN(TestRedirectRequest)
#include "test-redirect-request.moc"
