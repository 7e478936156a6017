#include "api/donation-model.h"
#include "log-capture.h"
#include "test-main.h"

#include <util/base.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QTimeZone>

namespace {
QJsonObject object(const char *json)
{
	QJsonParseError error;
	const QJsonDocument document = QJsonDocument::fromJson(QByteArray(json), &error);
	if (error.error != QJsonParseError::NoError || !document.isObject())
		qFatal("bad test JSON: %s", json);
	return document.object();
}

const QString PREFIX = QStringLiteral("[tiplark-obs-plugin] ");
} // namespace

class TestDonationModel : public QObject {
	Q_OBJECT

private slots:
	void textFields_data()
	{
		QTest::addColumn<QByteArray>("json");
		QTest::addColumn<QString>("id");
		QTest::addColumn<QString>("nickname");
		QTest::addColumn<QString>("message");
		QTest::addColumn<QString>("currency");
		QTest::addColumn<QString>("paymentMethod");

		QTest::newRow("all strings") << QByteArray(R"({"id":"a1","nickname":"Ola","message_content":"Hej!",
			"currency":"PLN","payment_method":"blik"})")
					     << "a1"
					     << "Ola"
					     << "Hej!"
					     << "PLN"
					     << "blik";
		QTest::newRow("numeric id is no id") << QByteArray(R"({"id":42,"nickname":"x"})") << ""
						     << "x"
						     << ""
						     << ""
						     << "";
		QTest::newRow("null and missing message") << QByteArray(R"({"id":"7","message_content":null})") << "7"
							  << ""
							  << ""
							  << ""
							  << "";
		QTest::newRow("wrong types read as empty")
			<< QByteArray(R"({"id":true,"nickname":[1],"message_content":{"a":1},"currency":3,
				"payment_method":null})")
			<< ""
			<< ""
			<< ""
			<< ""
			<< "";
		// A currency is the service's text, plain, tidied and short: it goes beside every amount.
		const QList<QPair<QString, QString>> currencies{{"zł", "zł"},
								{"pln", "pln"},
								{" PLN \t", "PLN"},
								{"P\x07L\u202eN\n", "PLN"},
								{"<b>PLN</b>", "<b>PLN</"},
								{"1234567\U0001F4B0", "1234567"}};
		for (const auto &currency : currencies)
			QTest::newRow(qPrintable(QStringLiteral("currency %1").arg(currency.second)))
				<< QJsonDocument(QJsonObject{{"id", "c"}, {"currency", currency.first}}).toJson() << "c"
				<< ""
				<< "" << currency.second << "";
		QTest::newRow("non-ASCII kept")
			<< QByteArray(R"({"nickname":"Zażółć","message_content":"gęślą 🎉"})") << ""
			<< QString::fromUtf8("Zażółć") << QString::fromUtf8("gęślą 🎉") << ""
			<< "";
	}

	void textFields()
	{
		QFETCH(QByteArray, json);
		const DonationMessage record = DonationMessage::fromJson(object(json.constData()));
		QTEST(record.id, "id");
		QTEST(record.nickname, "nickname");
		QTEST(record.message, "message");
		QTEST(record.currency, "currency");
		QTEST(record.paymentMethod, "paymentMethod");
	}

	void amount_data()
	{
		QTest::addColumn<QByteArray>("json");
		QTest::addColumn<QString>("amount");

		QTest::newRow("integer") << QByteArray(R"({"amount":10})") << "10.00";
		QTest::newRow("one decimal") << QByteArray(R"({"amount":5.5})") << "5.50";
		QTest::newRow("rounded to two decimals") << QByteArray(R"({"amount":2.345678})") << "2.35";
		QTest::newRow("zero") << QByteArray(R"({"amount":0})") << "0.00";
		QTest::newRow("large, never in exponent form")
			<< QByteArray(R"({"amount":12345678.9})") << "12345678.90";
		QTest::newRow("string used as sent") << QByteArray(R"({"amount":"10"})") << "10";
		QTest::newRow("decimal comma string kept") << QByteArray(R"({"amount":"10,50"})") << "10,50";
		QTest::newRow("null") << QByteArray(R"({"amount":null})") << "";
		QTest::newRow("missing") << QByteArray(R"({})") << "";
		QTest::newRow("boolean") << QByteArray(R"({"amount":true})") << "";
	}

	void amount()
	{
		QFETCH(QByteArray, json);
		QTEST(DonationMessage::fromJson(object(json.constData())).amount, "amount");
	}

	void goal_data()
	{
		QTest::addColumn<QByteArray>("json");
		QTest::addColumn<QString>("goalName");

		QTest::newRow("object with name")
			<< QByteArray(R"({"goal":{"id":3,"name":"Nowy mikrofon"}})") << "Nowy mikrofon";
		QTest::newRow("plain string") << QByteArray(R"({"goal":"Nowy mikrofon"})") << "Nowy mikrofon";
		QTest::newRow("empty object") << QByteArray(R"({"goal":{}})") << "";
		QTest::newRow("object with numeric name") << QByteArray(R"({"goal":{"name":5}})") << "";
		QTest::newRow("null") << QByteArray(R"({"goal":null})") << "";
		QTest::newRow("number") << QByteArray(R"({"goal":12})") << "";
		QTest::newRow("missing") << QByteArray(R"({})") << "";
	}

	void goal()
	{
		QFETCH(QByteArray, json);
		QTEST(DonationMessage::fromJson(object(json.constData())).goalName, "goalName");
	}

	void createdAt_data()
	{
		QTest::addColumn<QByteArray>("json");
		QTest::addColumn<QDateTime>("utc");
		QTest::addColumn<bool>("statedInUtc");

		const QDateTime noon = QDateTime(QDate(2024, 5, 1), QTime(12, 30), QTimeZone::utc());
		QTest::newRow("Z") << QByteArray(R"({"created_at":"2024-05-01T12:30:00Z"})") << noon << true;
		QTest::newRow("fractional seconds")
			<< QByteArray(R"({"created_at":"2024-05-01T12:30:00.250Z"})") << noon.addMSecs(250) << true;
		QTest::newRow("offset") << QByteArray(R"({"created_at":"2024-05-01T14:30:00+02:00"})") << noon << false;
		QTest::newRow("missing") << QByteArray(R"({})") << QDateTime() << false;
		QTest::newRow("empty") << QByteArray(R"({"created_at":""})") << QDateTime() << false;
		QTest::newRow("unparsable") << QByteArray(R"({"created_at":"wczoraj"})") << QDateTime() << false;
		QTest::newRow("epoch number") << QByteArray(R"({"created_at":1714566600})") << QDateTime() << false;
	}

	void createdAt()
	{
		QFETCH(QByteArray, json);
		QFETCH(QDateTime, utc);
		QFETCH(bool, statedInUtc);
		const QDateTime parsed = DonationMessage::fromJson(object(json.constData())).createdAt;
		QCOMPARE(parsed.isValid(), utc.isValid());
		if (!utc.isValid())
			return;
		QCOMPARE(parsed.toUTC(), utc);
		if (statedInUtc)
			QCOMPARE(parsed.timeSpec(), Qt::UTC);
	}

	void donorDataStaysOutOfTheLog_data()
	{
		QTest::addColumn<QByteArray>("json");
		QTest::newRow("nick and message")
			<< QByteArray(R"({"nickname":"Ola","message_content":"Hej!","amount":5})");
		QTest::newRow("UTF-8") << QByteArray(R"({"nickname":"Zażółć","message_content":"🎉"})");
	}

	// Donors' names and messages are personal data.
	void donorDataStaysOutOfTheLog()
	{
		QFETCH(QByteArray, json);
		LogCapture log;
		DonationMessage::fromJson(object(json.constData()));
		QCOMPARE(log.lines().size(), 0);
	}

	void emptyObjectGivesDefaults()
	{
		const DonationMessage record = DonationMessage::fromJson(QJsonObject());
		for (const QString &field : {record.id, record.nickname, record.message, record.amount, record.currency,
					     record.paymentMethod, record.goalName})
			QVERIFY(field.isEmpty());
		QVERIFY(!record.createdAt.isValid());
	}
};

TIPLARK_TEST_MAIN(TestDonationModel)
#include "test-donation-model.moc"
