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
#include "vendor-call.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>

namespace {
const QString P = QStringLiteral("[tiplark-obs-plugin] ");
const QString BUSY = QStringLiteral("busy: busy: the same action is already under way");

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

	Sandbox::Server m_sandbox;

	// A session (signed in from an earlier run with this many messages pending and both lists answered
	// once; signed out for -1), with the vendor and the hotkeys.
	struct Remote {
		std::unique_ptr<StreamerSession> session;
		SessionSnapshot snapshot;
		WebsocketVendor vendor;
		FrontendHotkeys hotkeys;
		QSignalSpy ended;

		Remote(TestRemoteControl *test, int pending)
			: session(test->startSession(pending)),
			  snapshot(session.get()),
			  vendor(session.get(), &snapshot),
			  hotkeys(session.get()),
			  ended(session.get(), &StreamerSession::actionFinished)
		{
		}

		QString call(WebsocketVendor::Request request, const QByteArray &data)
		{
			return vendorCall(vendor, request, data);
		}
	};

	std::unique_ptr<StreamerSession> startSession(int pending)
	{
		QVariantList records;
		for (int i = 0; i < pending; ++i)
			records << QJsonObject{{"id", "p-" + QString::number(i)}, {"amount", 10}, {"currency", "PLN"}};
		m_sandbox.state().set(Sandbox::ApiState::PENDING, records);
		if (pending >= 0)
			saveSandboxSignIn(m_sandbox);
		auto session = std::make_unique<StreamerSession>(sandboxAddresses(m_sandbox));
		if (pending >= 0) {
			session->start();
			settleBackgroundRequests();
			session->pollNow();
			settleBackgroundRequests();
		}
		return session;
	}

	// The bodies of the service requests to path that change something, in order.
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

	// A controller's kind is freed only by the end of the action it was taken for: a decision the dock or a
	// hotkey made meanwhile leaves it taken.
	void anotherEndFreesNoControllerKind_data()
	{
		QTest::addColumn<bool>("byHotkey");
		QTest::newRow("the dock decides meanwhile") << false;
		QTest::newRow("a hotkey decides meanwhile") << true;
	}

	void anotherEndFreesNoControllerKind()
	{
		QFETCH(bool, byHotkey);
		Remote remote(this, 3);
		const auto decide = [&](const QString &id) {
			return remote.call(WebsocketVendor::Request::ModerateMessage,
					   QStringLiteral(R"({"messageId":"%1","accept":true})").arg(id).toUtf8());
		};
		m_sandbox.setFault("/v1/moderation/moderate/p-1", Sandbox::Fault::hold().once());
		QCOMPARE(decide("p-1"), QStringLiteral("ok"));
		QTRY_COMPARE(writes("/v1/moderation/moderate/p-1").size(), 1);
		// The list holds three: the top row and the last one are not the held one.
		const QString top = remote.session->pending().first().id, last = remote.session->pending().last().id;
		QVERIFY(top != "p-1" && last != "p-1");
		if (byHotkey)
			remote.hotkeys.press(FrontendHotkeys::Action::AcceptFirst);
		else
			QCOMPARE(remote.session->decide(top, true), StreamerSession::Refusal::None);
		QTRY_COMPARE(remote.ended.count(), 1);
		QCOMPARE(decide(last), BUSY);
		m_sandbox.releaseHeld();
		QTRY_COMPARE(remote.ended.count(), 2);
		QCOMPARE(decide(last), QStringLiteral("ok"));
		QTRY_COMPARE(remote.ended.count(), 3);
	}

	// The streamer's own press is never turned away because a controller's or a hotkey's action of its
	// kind awaits the service: it goes next, and every other press meanwhile is turned away.
	void streamerPressFollows_data()
	{
		QTest::addColumn<bool>("switchKind"); // else the skip
		QTest::addColumn<bool>("byHotkey");   // else a controller holds the kind
		QTest::newRow("switch held by a controller") << true << false;
		QTest::newRow("switch held by a hotkey") << true << true;
		QTest::newRow("skip held by a controller") << false << false;
		QTest::newRow("skip held by a hotkey") << false << true;
	}

	void streamerPressFollows()
	{
		QFETCH(bool, switchKind);
		QFETCH(bool, byHotkey);
		Remote remote(this, 1);
		StreamerSession &session = *remote.session;
		const QByteArray path = switchKind ? "/v1/moderation" : "/v1/donations/queue/skip";
		const auto request = switchKind ? WebsocketVendor::Request::SetModeration
						: WebsocketVendor::Request::SkipAlert;
		const QByteArray off = switchKind ? R"({"enabled":false})" : "{}";
		const auto hotkey = switchKind ? FrontendHotkeys::Action::ModerationOff
					       : FrontendHotkeys::Action::SkipAlert;
		const auto press = [&] {
			return switchKind ? session.setModeration(true) : session.skipAlert();
		};
		m_sandbox.setFault(path, Sandbox::Fault::hold().once().forMethod(switchKind ? "PATCH" : "POST"));
		if (byHotkey)
			remote.hotkeys.press(hotkey);
		else
			QCOMPARE(remote.call(request, off), QStringLiteral("ok"));
		QTRY_COMPARE(writes(path).size(), 1);

		QCOMPARE(press(), StreamerSession::Refusal::None);
		QCOMPARE(press(), StreamerSession::Refusal::Busy);
		remote.hotkeys.press(hotkey);
		// While a hotkey holds the kind, the controller's own is free: the session turns it away later.
		QCOMPARE(remote.call(request, off), byHotkey ? QStringLiteral("ok") : BUSY);
		m_sandbox.releaseHeld();
		QTRY_COMPARE(remote.ended.count(), 2);
		QVERIFY(settleBackgroundRequests());
		const QList<QByteArray> sent = writes(path);
		QCOMPARE(sent.size(), 2);
		if (switchKind)
			QCOMPARE(QJsonDocument::fromJson(sent.last()).object().value("enabled"), QJsonValue(true));
		const auto own = remote.ended.last().first().value<StreamerSession::Action>();
		QCOMPARE(remote.ended.first().first().value<StreamerSession::Action>().origin,
			 byHotkey ? StreamerSession::Origin::Hotkey : StreamerSession::Origin::Controller);
		QVERIFY(own.origin == StreamerSession::Origin::Dock && own.ok);
	}

	// Presses that find their action under way, or that are refused alike, write one line for the run of
	// them, not one each, and queue nothing for the service.
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
		Remote remote(this, signedIn ? 1 : -1);
		m_sandbox.setFault("/v1/moderation", Sandbox::Fault::hold().once().forMethod("PATCH"));
		LogCapture log;
		for (int i = 0; i < 1000; ++i) {
			remote.hotkeys.press(FrontendHotkeys::Action::ModerationOff);
			if (i % 100 == 0)
				QCoreApplication::processEvents();
		}
		QTRY_COMPARE(log.count(P + line), 1);
		QVERIFY(settleBackgroundRequests());
		QCOMPARE(log.texts().filter("Hotkey").size(), 1);
		QCOMPARE(writes("/v1/moderation").size(), signedIn ? 1 : 0);
		if (!signedIn)
			return;
		// Its end frees the kind for the next press.
		m_sandbox.releaseHeld();
		QTRY_COMPARE(remote.ended.count(), 1);
		remote.hotkeys.press(FrontendHotkeys::Action::ModerationOff);
		QTRY_COMPARE(writes("/v1/moderation").size(), 2);
	}
};

TIPLARK_TEST_MAIN(TestRemoteControl)
#include "test-remote-control.moc"
