#include "api-state.h"
#include "auth/token-store.h"
#include "remote/session-snapshot.h"
#include "remote/websocket-vendor.h"
#include "sandbox-server.h"
#include "sandbox-sign-in.h"
#include "session-totals.h"
#include "settle.h"
#include "streamer-session.h"
#include "test-main.h"

#include <obs.h>

#include <QJsonObject>

#include <thread>

namespace {
DonationMessage record(const QString &id, const QString &amount = QStringLiteral("10.00"),
		       const QString &currency = QStringLiteral("PLN"))
{
	DonationMessage message;
	message.id = id;
	message.amount = amount;
	message.currency = currency;
	return message;
}
} // namespace

class TestRemoteControl : public QObject {
	Q_OBJECT

private slots:
	void summary_data()
	{
		QTest::addColumn<QList<DonationMessage>>("donations");
		QTest::addColumn<QString>("summary");

		QTest::newRow("none") << QList<DonationMessage>{} << QStringLiteral("Ta sesja: 0 wpłat");
		// Amounts as the rows write them ("33.00 PLN").
		QTest::newRow("one")
			<< QList<DonationMessage>{record("a", "5")} << QStringLiteral("Ta sesja: 1 wpłata · 5.00 PLN");
		QTest::newRow("sums without rounding drift")
			<< QList<DonationMessage>{record("a", "0.10"), record("b", "0.20"), record("c", "0,7")}
			<< QStringLiteral("Ta sesja: 3 wpłaty · 1.00 PLN");
		QTest::newRow("currencies apart, first seen first")
			<< QList<DonationMessage>{record("a", "2", "EUR"), record("b", "12345.5"),
						  record("c", "3", "EUR"), record("d", "1")}
			<< QStringLiteral("Ta sesja: 4 wpłaty · 5.00 EUR · 12346.50 PLN");
		QTest::newRow("unreadable amount counts, adds nothing")
			<< QList<DonationMessage>{record("a", "dziesięć"), record("b", "-3"), record("c", "1.005")}
			<< QStringLiteral("Ta sesja: 3 wpłaty · 0.00 PLN");
		QList<DonationMessage> many;
		for (int i = 0; i < 12; ++i)
			many << record(QString::number(i), "28.79");
		QTest::newRow("12 takes the many form") << many << QStringLiteral("Ta sesja: 12 wpłat · 345.48 PLN");
		many << record("12", "1") << record("13", "1") << record("14", "1") << record("15", "1")
		     << record("16", "1") << record("17", "1") << record("18", "1") << record("19", "1")
		     << record("20", "1") << record("21", "1");
		QTest::newRow("22 takes the few form") << many << QStringLiteral("Ta sesja: 22 wpłaty · 355.48 PLN");
	}

	void summary()
	{
		QFETCH(QList<DonationMessage>, donations);
		QFETCH(QString, summary);
		SessionTotals totals;
		for (const DonationMessage &donation : donations)
			totals.add(donation);
		QCOMPARE(totals.summary(), summary);
	}

	// The vendor's answers, read from the session's snapshot on obs-websocket's thread; the actions it
	// queues reach the service.
	void vendorRequests_data()
	{
		QTest::addColumn<bool>("signedIn");
		QTest::addColumn<QString>("request");
		QTest::addColumn<QString>("data"); // JSON
		QTest::addColumn<QString>("error");
		QTest::addColumn<QString>("sent"); // the service request that follows
		const QString required = QStringLiteral("messageId (string) and accept (boolean) are required");
		QTest::newRow("skip, signed out") << false << "SkipAlert" << "{}" << "not signed in" << "";
		QTest::newRow("decision, signed out")
			<< false << "ModerateMessage" << R"({"messageId":"p-0","accept":true})" << "not signed in"
			<< "";
		QTest::newRow("decision without accept")
			<< true << "ModerateMessage" << R"({"messageId":"p-0"})" << required << "";
		QTest::newRow("decision on a number")
			<< true << "ModerateMessage" << R"({"messageId":7,"accept":true})" << required << "";
		QTest::newRow("decision on no pending message")
			<< true << "ModerateMessage" << R"({"messageId":"nie-ma","accept":true})"
			<< "no pending message with this messageId" << "";
		QTest::newRow("decision") << true << "ModerateMessage" << R"({"messageId":"p-0","accept":false})" << ""
					  << "PATCH /v1/moderation/moderate/p-0";
		QTest::newRow("switch without enabled")
			<< true << "SetModeration" << R"({"enabled":1})" << "enabled (boolean) is required" << "";
		QTest::newRow("switch") << true << "SetModeration" << R"({"enabled":false})" << ""
					<< "PATCH /v1/moderation";
		QTest::newRow("skip") << true << "SkipAlert" << "{}" << "" << "POST /v1/donations/queue/skip";
	}

	void vendorRequests()
	{
		QFETCH(bool, signedIn);
		QFETCH(QString, request);
		QFETCH(QString, data);
		QFETCH(QString, error);
		QFETCH(QString, sent);
		Sandbox::Server sandbox;
		QVERIFY(sandbox.start());
		sandbox.state().set(Sandbox::ApiState::MODERATION_ENABLED, true);
		for (const char *id : {"p-0", "p-1"})
			Sandbox::ApiState::receiveDonation(sandbox.state(),
							   QJsonObject{{"id", id}, {"currency", "PLN"}});
		if (signedIn)
			saveSandboxSignIn(sandbox);
		else
			TokenStore().clear();
		StreamerSession session(sandboxAddresses(sandbox));
		SessionSnapshot snapshot(&session);
		WebsocketVendor vendor(&session, &snapshot);
		if (signedIn) {
			session.start();
			QVERIFY(settleBackgroundRequests());
			session.pollNow();
			QVERIFY(settleBackgroundRequests());
		}
		sandbox.clearRequests();

		const WebsocketVendor::Request kind = request == "SkipAlert" ? WebsocketVendor::Request::SkipAlert
						      : request == "SetModeration"
							      ? WebsocketVendor::Request::SetModeration
							      : WebsocketVendor::Request::ModerateMessage;
		obs_data_t *requestData = obs_data_create_from_json(data.toUtf8().constData());
		obs_data_t *response = obs_data_create();
		// As obs-websocket calls it: from a thread of its own.
		std::thread([&] { vendor.handle(kind, requestData, response); }).join();
		QCOMPARE(obs_data_get_bool(response, "ok"), error.isEmpty());
		QCOMPARE(QString::fromUtf8(obs_data_get_string(response, "error")), error);
		obs_data_release(requestData);
		obs_data_release(response);
		QCoreApplication::processEvents();
		QVERIFY(settleBackgroundRequests());
		QStringList writes;
		for (const auto &r : sandbox.requests())
			if (r.method != "GET")
				writes << QString::fromUtf8(r.method + " " + r.path);
		QCOMPARE(writes, sent.isEmpty() ? QStringList() : QStringList{sent});

		obs_data_t *state = obs_data_create();
		vendor.handle(WebsocketVendor::Request::GetState, nullptr, state);
		QCOMPARE(obs_data_get_bool(state, "signedIn"), signedIn);
		QVERIFY(!QByteArray(obs_data_get_json(state)).toLower().contains("token"));
		obs_data_release(state);
		sandbox.stop();
	}
};

TIPLARK_TEST_MAIN(TestRemoteControl)
#include "test-remote-control.moc"
