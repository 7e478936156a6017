#include "api-state.h"
#include "log-capture.h"
#include "remote/frontend-hotkeys.h"
#include "remote/session-snapshot.h"
#include "remote/websocket-vendor.h"
#include "sandbox-server.h"
#include "sandbox-sign-in.h"
#include "session-totals.h"
#include "settle.h"
#include "streamer-session.h"
#include "test-main.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>

#include <obs-data.h>

namespace {
const QString P = QStringLiteral("[tiplark-obs-plugin] ");

QVariantList pendingRecords(int count)
{
	QVariantList list;
	for (int i = 0; i < count; ++i)
		list.append(QJsonObject{{"id", "p-" + QString::number(i)},
					{"nickname", "Widz"},
					{"amount", 10},
					{"currency", "PLN"},
					{"created_at", QStringLiteral("2024-05-01T12:00:0%1Z").arg(i)}});
	return list;
}

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

Q_DECLARE_METATYPE(WebsocketVendor::Request)

class TestRemoteControl : public QObject {
	Q_OBJECT

	Sandbox::Server m_sandbox;

	// A session signed in from an earlier run, with these messages pending and both lists answered once.
	void startSignedIn(std::unique_ptr<StreamerSession> &session, int pending)
	{
		m_sandbox.state().set(Sandbox::ApiState::PENDING, pendingRecords(pending));
		saveSandboxSignIn(m_sandbox);
		session = std::make_unique<StreamerSession>(sandboxAddresses(m_sandbox));
		session->start();
		QVERIFY(settleBackgroundRequests());
		session->pollNow();
		QVERIFY(settleBackgroundRequests());
	}

	// A controller's request as obs-websocket hands it over: "ok", or the answer's code and error.
	static QString call(WebsocketVendor &vendor, WebsocketVendor::Request request, const QByteArray &data)
	{
		obs_data_t *requestData = obs_data_create_from_json(data.constData());
		obs_data_t *responseData = obs_data_create();
		vendor.handle(request, requestData, responseData);
		const QString answer = obs_data_get_bool(responseData, "ok")
					       ? QStringLiteral("ok")
					       : QString::fromUtf8(obs_data_get_string(responseData, "code")) + ": " +
							 QString::fromUtf8(obs_data_get_string(responseData, "error"));
		obs_data_release(requestData);
		obs_data_release(responseData);
		return answer;
	}

	// The service requests that change something, to path, in order: their bodies.
	QList<QByteArray> writes(const QByteArray &path) const
	{
		QList<QByteArray> bodies;
		for (const Sandbox::Request &r : m_sandbox.requests(path))
			if (r.method != "GET")
				bodies << r.body;
		return bodies;
	}

private slots:
	void initTestCase()
	{
		qRegisterMetaType<DonationMessage>();
		qRegisterMetaType<StreamerSession::Action>();
		QVERIFY(m_sandbox.start());
	}

	void init()
	{
		m_sandbox.reset();
		m_sandbox.state().set("api.update", QVariantMap{{"version", "1.0.0"}});
		m_sandbox.state().set(Sandbox::ApiState::MODERATION_ENABLED, true);
	}

	void cleanup() { QVERIFY(settleBackgroundRequests()); }

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

	// A controller's action is queued once: while one of its kind is queued or running, another is
	// answered at once as busy, sends nothing and ends nothing. Switched off in the dock, nothing is
	// answered, and the choice holds for the next start.
	void vendorActions_data()
	{
		QTest::addColumn<WebsocketVendor::Request>("request");
		QTest::addColumn<QByteArray>("data");
		QTest::addColumn<QByteArray>("path");
		QTest::addColumn<bool>("switchedOn");
		QTest::addColumn<QString>("refusal"); // of the second request

		const QString busy = QStringLiteral("busy: busy: the same action is already under way");
		QTest::newRow("SkipAlert") << WebsocketVendor::Request::SkipAlert << QByteArray("{}")
					   << QByteArray("/v1/donations/queue/skip") << true << busy;
		QTest::newRow("ModerateMessage") << WebsocketVendor::Request::ModerateMessage
						 << QByteArray("{\"messageId\":\"p-1\",\"accept\":true}")
						 << QByteArray("/v1/moderation/moderate/p-1") << true << busy;
		QTest::newRow("SetModeration")
			<< WebsocketVendor::Request::SetModeration << QByteArray("{\"enabled\":false}")
			<< QByteArray("/v1/moderation") << true << busy;
		QTest::newRow("switched off") << WebsocketVendor::Request::SkipAlert << QByteArray("{}")
					      << QByteArray("/v1/donations/queue/skip") << false
					      << "switchedOff: switched off in the Tiplark dock";
	}

	void vendorActions()
	{
		QFETCH(WebsocketVendor::Request, request);
		QFETCH(QByteArray, data);
		QFETCH(QByteArray, path);
		QFETCH(bool, switchedOn);
		QFETCH(QString, refusal);
		std::unique_ptr<StreamerSession> owner;
		startSignedIn(owner, 2);
		StreamerSession &session = *owner;
		SessionSnapshot snapshot(&session);
		WebsocketVendor vendor(&session, &snapshot);
		session.setRemoteControlAllowed(switchedOn);
		QSignalSpy ended(&session, &StreamerSession::actionFinished);
		// The service holds the first answer: the action is running when the second request comes.
		m_sandbox.setFault(path, Sandbox::Fault::hold().once());

		QCOMPARE(call(vendor, request, data), switchedOn ? QStringLiteral("ok") : refusal);
		QCOMPARE(call(vendor, request, data), refusal);
		QCOMPARE(StreamerSession(sandboxAddresses(m_sandbox)).remoteControlAllowed(), switchedOn);
		session.setRemoteControlAllowed(true);
		QTRY_COMPARE(writes(path).size(), switchedOn ? 1 : 0);
		m_sandbox.releaseHeld();
		QVERIFY(settleBackgroundRequests());
		QCOMPARE(ended.count(), switchedOn ? 1 : 0);
		QCOMPARE(writes(path).size(), switchedOn ? 1 : 0);
		if (!switchedOn)
			return;
		// Its end frees the kind.
		QCOMPARE(call(vendor, request, data), QStringLiteral("ok"));
		QTRY_COMPARE(writes(path).size(), 2);
		QVERIFY(settleBackgroundRequests());
		QCOMPARE(ended.count(), 2);
	}

	// Refused at once, with a code a controller decides on; none reaches the service.
	void vendorRefusals_data()
	{
		QTest::addColumn<WebsocketVendor::Request>("request");
		QTest::addColumn<QByteArray>("data");
		QTest::addColumn<bool>("signedIn");
		QTest::addColumn<QString>("answer");

		const QString decisionFields =
			QStringLiteral("missingField: messageId (string) and accept (boolean) are required");
		QTest::newRow("no messageId") << WebsocketVendor::Request::ModerateMessage
					      << QByteArray(R"({"accept":true})") << true << decisionFields;
		QTest::newRow("messageId a number")
			<< WebsocketVendor::Request::ModerateMessage << QByteArray(R"({"messageId":7,"accept":true})")
			<< true << decisionFields;
		QTest::newRow("enabled a number")
			<< WebsocketVendor::Request::SetModeration << QByteArray(R"({"enabled":1})") << true
			<< QStringLiteral("missingField: enabled (boolean) is required");
		QTest::newRow("no such message")
			<< WebsocketVendor::Request::ModerateMessage
			<< QByteArray(R"({"messageId":"p-9","accept":true})") << true
			<< QStringLiteral("unknownMessage: no pending message with this messageId");
		QTest::newRow("signed out, skip") << WebsocketVendor::Request::SkipAlert << QByteArray("{}") << false
						  << QStringLiteral("notSignedIn: not signed in");
		QTest::newRow("signed out, decision") << WebsocketVendor::Request::ModerateMessage
						      << QByteArray(R"({"messageId":"p-0","accept":true})") << false
						      << QStringLiteral("notSignedIn: not signed in");
	}

	void vendorRefusals()
	{
		QFETCH(WebsocketVendor::Request, request);
		QFETCH(QByteArray, data);
		QFETCH(bool, signedIn);
		QFETCH(QString, answer);
		std::unique_ptr<StreamerSession> owner;
		if (signedIn)
			startSignedIn(owner, 2);
		else
			owner = std::make_unique<StreamerSession>(sandboxAddresses(m_sandbox));
		StreamerSession &session = *owner;
		SessionSnapshot snapshot(&session);
		WebsocketVendor vendor(&session, &snapshot);
		m_sandbox.clearRequests();
		QCOMPARE(call(vendor, request, data), answer);
		QVERIFY(settleBackgroundRequests());
		for (const Sandbox::Request &r : m_sandbox.requests())
			QCOMPARE(r.method, QByteArray("GET"));
	}

	// The controller's kind is taken for its own action only: the end of a decision the dock or a hotkey
	// made meanwhile leaves it taken.
	void anotherEndFreesNoControllerKind_data()
	{
		QTest::addColumn<bool>("byHotkey");
		QTest::newRow("the dock decides meanwhile") << false;
		QTest::newRow("a hotkey decides meanwhile") << true;
	}

	void anotherEndFreesNoControllerKind()
	{
		QFETCH(bool, byHotkey);
		std::unique_ptr<StreamerSession> owner;
		startSignedIn(owner, 3);
		StreamerSession &session = *owner;
		SessionSnapshot snapshot(&session);
		WebsocketVendor vendor(&session, &snapshot);
		FrontendHotkeys hotkeys(&session);
		QSignalSpy ended(&session, &StreamerSession::actionFinished);
		m_sandbox.setFault("/v1/moderation/moderate/p-1", Sandbox::Fault::hold().once());
		const auto decideRequest = [&](const QString &id) {
			return call(vendor, WebsocketVendor::Request::ModerateMessage,
				    QStringLiteral(R"({"messageId":"%1","accept":true})").arg(id).toUtf8());
		};
		QCOMPARE(decideRequest("p-1"), QStringLiteral("ok"));
		QTRY_COMPARE(writes("/v1/moderation/moderate/p-1").size(), 1);

		// The first row is not the held one: the list holds three.
		const QString other = session.pending().first().id;
		QVERIFY(other != "p-1");
		if (byHotkey)
			hotkeys.press(FrontendHotkeys::Action::AcceptFirst);
		else
			QCOMPARE(session.decide(other, true), StreamerSession::Refusal::None);
		QTRY_COMPARE(ended.count(), 1);
		QVERIFY(ended.first().first().value<StreamerSession::Action>().ok);
		QString last;
		for (const DonationMessage &message : session.pending())
			if (message.id != "p-1")
				last = message.id;
		QCOMPARE(decideRequest(last), QStringLiteral("busy: busy: the same action is already under way"));

		m_sandbox.releaseHeld();
		QTRY_COMPARE(ended.count(), 2);
		QCOMPARE(decideRequest(last), QStringLiteral("ok"));
		QTRY_COMPARE(ended.count(), 3);
		QVERIFY(settleBackgroundRequests());
	}

	// The streamer's own press is never turned away because a controller's or a hotkey's action of its
	// kind awaits the service: it follows that one, and every other press meanwhile is turned away.
	void streamerPressFollows_data()
	{
		QTest::addColumn<bool>("switchKind"); // else the skip
		QTest::addColumn<bool>("byHotkey");   // else a controller

		QTest::newRow("switch held by a controller") << true << false;
		QTest::newRow("switch held by a hotkey") << true << true;
		QTest::newRow("skip held by a controller") << false << false;
		QTest::newRow("skip held by a hotkey") << false << true;
	}

	void streamerPressFollows()
	{
		QFETCH(bool, switchKind);
		QFETCH(bool, byHotkey);
		std::unique_ptr<StreamerSession> owner;
		startSignedIn(owner, 1);
		StreamerSession &session = *owner;
		SessionSnapshot snapshot(&session);
		WebsocketVendor vendor(&session, &snapshot);
		FrontendHotkeys hotkeys(&session);
		QSignalSpy ended(&session, &StreamerSession::actionFinished);
		const QByteArray path = switchKind ? "/v1/moderation" : "/v1/donations/queue/skip";
		const auto request = switchKind ? WebsocketVendor::Request::SetModeration
						: WebsocketVendor::Request::SkipAlert;
		const QByteArray off = switchKind ? R"({"enabled":false})" : "{}";
		const auto hotkey = switchKind ? FrontendHotkeys::Action::ModerationOff
					       : FrontendHotkeys::Action::SkipAlert;
		m_sandbox.setFault(path, Sandbox::Fault::hold().once().forMethod(switchKind ? "PATCH" : "POST"));
		if (byHotkey)
			hotkeys.press(hotkey);
		else
			QCOMPARE(call(vendor, request, off), QStringLiteral("ok"));
		QTRY_COMPARE(writes(path).size(), 1);

		const StreamerSession::Refusal pressed = switchKind ? session.setModeration(true) : session.skipAlert();
		QCOMPARE(pressed, StreamerSession::Refusal::None);
		QVERIFY(session.ownPressUnderWay(switchKind ? ApiClient::Action::ModerationSwitch
							    : ApiClient::Action::Skip));
		QCOMPARE(switchKind ? session.setModeration(true) : session.skipAlert(),
			 StreamerSession::Refusal::Busy);
		hotkeys.press(hotkey);
		// The controller's own kind is free while a hotkey holds the session's: the session turns it away
		// (ActionFinished, from the vendor).
		QCOMPARE(call(vendor, request, off),
			 byHotkey ? QStringLiteral("ok")
				  : QStringLiteral("busy: busy: the same action is already under way"));

		m_sandbox.releaseHeld();
		QTRY_COMPARE(ended.count(), 2);
		QVERIFY(settleBackgroundRequests());
		QList<QByteArray> sent;
		for (const QByteArray &body : writes(path))
			sent << (switchKind ? QJsonDocument::fromJson(body)
						      .object()
						      .value("enabled")
						      .toVariant()
						      .toByteArray()
					    : body.trimmed());
		QCOMPARE(sent, switchKind ? (QList<QByteArray>{"false", "true"}) : (QList<QByteArray>{"{}", "{}"}));
		QList<StreamerSession::Origin> origins;
		for (const QList<QVariant> &end : std::as_const(ended))
			origins << end.first().value<StreamerSession::Action>().origin;
		const auto held = byHotkey ? StreamerSession::Origin::Hotkey : StreamerSession::Origin::Controller;
		QCOMPARE(origins, (QList<StreamerSession::Origin>{held, StreamerSession::Origin::Dock}));
		QVERIFY(ended.last().first().value<StreamerSession::Action>().ok);
		QVERIFY(!session.ownPressUnderWay(switchKind ? ApiClient::Action::ModerationSwitch
							     : ApiClient::Action::Skip));
	}

	// Presses that find their action under way, or that are refused alike, write one line for the run of
	// them, not one each, and queue nothing to the service.
	void hotkeyBursts_data()
	{
		QTest::addColumn<bool>("signedIn");
		QTest::addColumn<QString>("line");

		QTest::newRow("switch awaiting the service")
			<< true
			<< "Tiplark: Hotkey TiplarkModerationOff pressed while the same action is under way; dropped";
		QTest::newRow("signed out")
			<< false << "Tiplark: Hotkey TiplarkModerationOff does nothing: not signed in";
	}

	void hotkeyBursts()
	{
		QFETCH(bool, signedIn);
		QFETCH(QString, line);
		std::unique_ptr<StreamerSession> owner;
		if (signedIn)
			startSignedIn(owner, 1);
		else
			owner = std::make_unique<StreamerSession>(sandboxAddresses(m_sandbox));
		StreamerSession &session = *owner;
		FrontendHotkeys hotkeys(&session);
		QSignalSpy ended(&session, &StreamerSession::actionFinished);
		m_sandbox.setFault("/v1/moderation", Sandbox::Fault::hold().once().forMethod("PATCH"));
		LogCapture log;
		for (int i = 0; i < 1000; ++i) {
			hotkeys.press(FrontendHotkeys::Action::ModerationOff);
			if (i % 100 == 0)
				QCoreApplication::processEvents();
		}
		QTRY_COMPARE(writes("/v1/moderation").size(), signedIn ? 1 : 0);
		QTRY_COMPARE(log.count(P + line), 1);
		QCoreApplication::processEvents();
		QCOMPARE(log.count(P + line), 1);
		QCOMPARE(log.texts().filter("Hotkey").size(), 1);
		if (!signedIn)
			return;
		// Its end frees the kind for the next press.
		m_sandbox.releaseHeld();
		QTRY_COMPARE(ended.count(), 1);
		hotkeys.press(FrontendHotkeys::Action::ModerationOff);
		QTRY_COMPARE(writes("/v1/moderation").size(), 2);
		QTRY_COMPARE(ended.count(), 2);
	}
};

TIPLARK_TEST_MAIN(TestRemoteControl)
#include "test-remote-control.moc"
