#include "api/api-envelope.h"
#include "log-capture.h"
#include "test-main.h"

#include <util/base.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

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

	void listKeepsOrderAndEveryElement()
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
		const QList<DonationMessage> list =
			ApiEnvelope::readList(body, 30, ApiEnvelope::Keep::Newest, 0, {}).shown;
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

	void listOfNothing_data()
	{
		QTest::addColumn<QByteArray>("body");
		QTest::newRow("empty body") << QByteArray();
		QTest::newRow("data object") << QByteArray(R"({"data":{"id":"1"}})");
		QTest::newRow("bare object") << QByteArray(R"({"id":"1"})");
	}

	void listOfNothing()
	{
		QFETCH(QByteArray, body);
		LogCapture log;
		const ApiEnvelope::ListAnswer answer =
			ApiEnvelope::readList(body, 30, ApiEnvelope::Keep::Newest, 1000, {});
		QVERIFY(answer.shown.isEmpty() && answer.arrived.isEmpty());
		QVERIFY(log.lines().isEmpty());
	}

	// Which records of a list answer are kept, whatever order the service lists them in, and which are
	// made for telling the new ones. Elements are "id@minute" ("id@" without a time); the answer holds
	// them in this order.
	void readList_data()
	{
		QTest::addColumn<QString>("elements");
		QTest::addColumn<int>("shownCap");
		QTest::addColumn<bool>("oldest"); // a queue: the oldest are kept
		QTest::addColumn<int>("recentCap");
		QTest::addColumn<QString>("known");
		QTest::addColumn<QString>("shown");   // in the service's order
		QTest::addColumn<QString>("arrived"); // oldest first
		QTest::addColumn<int>("total");
		QTest::newRow("newest first") << "d@4 c@3 b@2 a@1" << 2 << false << 3 << "" << "d c" << "b c d" << 4;
		QTest::newRow("oldest first") << "a@1 b@2 c@3 d@4" << 2 << false << 3 << "" << "c d" << "b c d" << 4;
		QTest::newRow("no order at all")
			<< "b@2 d@4 a@1 c@3" << 2 << false << 4 << "" << "d c" << "a b c d" << 4;
		QTest::newRow("without a time, after those with one")
			<< "x@ a@1 y@ b@2" << 3 << false << 4 << "" << "x a b" << "y x a b" << 4;
		QTest::newRow("fewer than the caps") << "a@1" << 30 << false << 1000 << "" << "a" << "a" << 1;
		const QString longId(129, 'n');
		QTest::newRow("an id longer than 128 characters")
			<< QString("a@1 %1@3 b@2").arg(longId) << 30 << false << 1000 << ""
			<< QString("a %1 b").arg(longId) << QString("a b %1").arg(longId) << 3;
		QTest::newRow("queue, oldest first")
			<< "a@1 b@2 c@3 d@4" << 2 << true << 3 << "" << "a b" << "b c d" << 4;
		QTest::newRow("queue, newest first")
			<< "d@4 c@3 b@2 a@1" << 2 << true << 3 << "" << "b a" << "b c d" << 4;
		QTest::newRow("queue, without a time, cut first")
			<< "x@ a@1 y@ b@2" << 3 << true << 4 << "" << "x a b" << "y x a b" << 4;
		QTest::newRow("known ones are not made again")
			<< "a@1 b@2 c@3 d@4" << 2 << false << 3 << "c a d" << "c d" << "b" << 4;
		QTest::newRow("without an id, never new") << "@1 a@2" << 2 << false << 3 << "" << " a" << "a" << 2;
	}

	void readList()
	{
		QFETCH(QString, elements);
		QFETCH(int, shownCap);
		QFETCH(bool, oldest);
		QFETCH(int, recentCap);
		QFETCH(QString, known);
		QJsonArray list;
		for (const QString &element : elements.split(' ')) {
			const QString minute = element.section('@', 1);
			QJsonObject object{{"id", element.section('@', 0, 0)}};
			if (!minute.isEmpty())
				object.insert("created_at", QStringLiteral("2024-05-01T12:%1:00Z")
								    .arg(minute.toInt(), 2, 10, QLatin1Char('0')));
			list.append(object);
		}
		const QByteArray body = QJsonDocument(QJsonObject{{"data", list}}).toJson();
		const QStringList knownIds = known.split(' ', Qt::SkipEmptyParts);
		const ApiEnvelope::ListAnswer answer = ApiEnvelope::readList(
			body, shownCap, oldest ? ApiEnvelope::Keep::Oldest : ApiEnvelope::Keep::Newest, recentCap,
			QSet<QString>(knownIds.cbegin(), knownIds.cend()));
		auto ids = [](const QList<DonationMessage> &records) {
			QStringList result;
			for (const DonationMessage &record : records)
				result << record.id;
			return result.join(' ');
		};
		QTEST(ids(answer.shown), "shown");
		QTEST(ids(answer.arrived), "arrived");
		QTEST(answer.total, "total");
		QVERIFY(answer.readable);
	}
};

TIPLARK_TEST_MAIN(TestApiEnvelope)
#include "test-api-envelope.moc"
