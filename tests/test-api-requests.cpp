#include "api/api-requests.h"
#include "test-main.h"

#include <QUrl>

class TestApiRequests : public QObject {
	Q_OBJECT

private slots:
	void bodies_data()
	{
		QTest::addColumn<QByteArray>("body");
		QTest::addColumn<QByteArray>("bytes");

		QTest::newRow("moderation on")
			<< ApiRequests::moderationStatusBody(true) << QByteArray("{\n    \"enabled\": true\n}\n");
		QTest::newRow("moderation off")
			<< ApiRequests::moderationStatusBody(false) << QByteArray("{\n    \"enabled\": false\n}\n");
		QTest::newRow("accept") << ApiRequests::moderationDecisionBody(true)
					<< QByteArray("{\n    \"action\": \"accept\"\n}\n");
		QTest::newRow("reject") << ApiRequests::moderationDecisionBody(false)
					<< QByteArray("{\n    \"action\": \"reject\"\n}\n");
	}

	void bodies()
	{
		QFETCH(QByteArray, body);
		QTEST(body, "bytes");
	}

	void messageIdIsOneSegment_data()
	{
		QTest::addColumn<QString>("id");
		QTest::addColumn<QString>("path");

		QTest::newRow("UUID") << "0190c3a1-7d2e-7b44-9f10-2a6e5c8d1b37"
				      << "/v1/moderation/moderate/0190c3a1-7d2e-7b44-9f10-2a6e5c8d1b37";
		QTest::newRow("digits") << "12345"
					<< "/v1/moderation/moderate/12345";
		QTest::newRow("unreserved kept") << "a.b_c~d"
						 << "/v1/moderation/moderate/a.b_c~d";
		QTest::newRow("empty keeps the trailing slash") << ""
								<< "/v1/moderation/moderate/";
		QTest::newRow("climbing out") << "../../donations/queue/skip"
					      << "/v1/moderation/moderate/..%2F..%2Fdonations%2Fqueue%2Fskip";
		QTest::newRow("dot-dot alone") << ".."
					       << "/v1/moderation/moderate/%2E%2E";
		QTest::newRow("dot alone") << "."
					   << "/v1/moderation/moderate/%2E";
		QTest::newRow("query") << "1?action=accept"
				       << "/v1/moderation/moderate/1%3Faction%3Daccept";
		QTest::newRow("fragment") << "1#x"
					  << "/v1/moderation/moderate/1%23x";
		QTest::newRow("percent") << "1%2F2"
					 << "/v1/moderation/moderate/1%252F2";
		QTest::newRow("blank and backslash") << "a b\\c"
						     << "/v1/moderation/moderate/a%20b%5Cc";
		QTest::newRow("line break") << "1\r\nX-Evil: 1"
					    << "/v1/moderation/moderate/1%0D%0AX-Evil%3A%201";
		QTest::newRow("non-ASCII as UTF-8") << QString::fromUtf8("ż") << "/v1/moderation/moderate/%C5%BC";
	}

	void messageIdIsOneSegment()
	{
		QFETCH(QString, id);
		QFETCH(QString, path);
		const QString built = ApiRequests::moderationPath(id);
		QCOMPARE(built, path);
		// Whatever the id, a URL parser sees the moderation endpoint and the id, nothing else.
		const QUrl url(QStringLiteral("http://127.0.0.1") + built);
		QVERIFY(url.query().isEmpty() && url.fragment().isEmpty());
		QCOMPARE(url.path(QUrl::FullyDecoded), QStringLiteral("/v1/moderation/moderate/") + id);
	}
};

TIPLARK_TEST_MAIN(TestApiRequests)
#include "test-api-requests.moc"
