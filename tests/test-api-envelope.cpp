#include "api/api-envelope.h"
#include "log-capture.h"
#include "test-main.h"

#include <util/base.h>

#include <QJsonDocument>

class TestApiEnvelope : public QObject {
	Q_OBJECT

private slots:
	void objectPayload_data()
	{
		QTest::addColumn<QByteArray>("body");
		QTest::addColumn<QByteArray>("payload");

		QTest::newRow("data object")
			<< QByteArray(R"({"data":{"name":"Ola"},"meta":1})") << QByteArray(R"({"name":"Ola"})");
		QTest::newRow("no envelope") << QByteArray(R"({"name":"Ola"})") << QByteArray(R"({"name":"Ola"})");
		QTest::newRow("data is not an object")
			<< QByteArray(R"({"data":[{"name":"Ola"}],"name":"x"})") << QByteArray("{}");
		QTest::newRow("data is null") << QByteArray(R"({"data":null,"name":"x"})") << QByteArray("{}");
		QTest::newRow("top-level array") << QByteArray(R"([{"name":"Ola"}])") << QByteArray("{}");
		QTest::newRow("empty body") << QByteArray() << QByteArray("{}");
		QTest::newRow("not JSON") << QByteArray("<html>502</html>") << QByteArray("{}");
		QTest::newRow("truncated") << QByteArray(R"({"data":{"name":"Ola")") << QByteArray("{}");
	}

	void objectPayload()
	{
		QFETCH(QByteArray, body);
		QFETCH(QByteArray, payload);
		QCOMPARE(ApiEnvelope::objectPayload(body), QJsonDocument::fromJson(payload).object());
	}

	void listPayload_data()
	{
		QTest::addColumn<QByteArray>("body");
		QTest::addColumn<QByteArray>("list");

		QTest::newRow("data array") << QByteArray(R"({"data":[{"id":"1"},{"id":"2"}]})")
					    << QByteArray(R"([{"id":"1"},{"id":"2"}])");
		QTest::newRow("empty data array") << QByteArray(R"({"data":[]})") << QByteArray("[]");
		QTest::newRow("top-level array")
			<< QByteArray(R"([{"id":"1"},{"id":"2"}])") << QByteArray(R"([{"id":"1"},{"id":"2"}])");
		QTest::newRow("data object") << QByteArray(R"({"data":{}})") << QByteArray("[]");
		QTest::newRow("data wins over nothing else")
			<< QByteArray(R"({"data":null,"items":[{"id":"1"}]})") << QByteArray("[]");
		QTest::newRow("object without data") << QByteArray(R"({"items":[{"id":"1"}]})") << QByteArray("[]");
		QTest::newRow("empty body") << QByteArray() << QByteArray("[]");
		QTest::newRow("not JSON") << QByteArray("Bad Gateway") << QByteArray("[]");
	}

	void listPayload()
	{
		QFETCH(QByteArray, body);
		QFETCH(QByteArray, list);
		QCOMPARE(ApiEnvelope::listPayload(body), QJsonDocument::fromJson(list).array());
	}

	void donationListKeepsOrderAndEveryElement()
	{
		const QByteArray body = R"({"data":[
			{"id":"c","nickname":"Trzeci"},
			{},
			"not an object",
			null,
			{"id":"a","nickname":"Pierwszy"},
			{"id":"c","nickname":"Trzeci"}
		]})";
		LogCapture log;
		const QList<DonationMessage> list = ApiEnvelope::donationList(body);
		QStringList ids, nicknames;
		for (const DonationMessage &record : list) {
			ids.append(record.id);
			nicknames.append(record.nickname);
		}
		QCOMPARE(ids, QStringList({"c", "", "", "", "a", "c"}));
		QCOMPARE(nicknames, QStringList({"Trzeci", "", "", "", "Pierwszy", "Trzeci"}));
		// Nothing of the donors reaches the log.
		QCOMPARE(log.texts(), QStringList());
	}

	void donationListOfNothing_data()
	{
		QTest::addColumn<QByteArray>("body");
		QTest::newRow("empty body") << QByteArray();
		QTest::newRow("data object") << QByteArray(R"({"data":{"id":"1"}})");
		QTest::newRow("bare object") << QByteArray(R"({"id":"1"})");
	}

	void donationListOfNothing()
	{
		QFETCH(QByteArray, body);
		LogCapture log;
		QVERIFY(ApiEnvelope::donationList(body).isEmpty());
		QVERIFY(log.lines().isEmpty());
	}
};

TIPLARK_TEST_MAIN(TestApiEnvelope)
#include "test-api-envelope.moc"
