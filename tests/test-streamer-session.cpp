#include "api-state.h"
#include "browser-stand-in.h"
#include "log-capture.h"
#include "plugin-support.h"
#include "record-arrivals.h"
#include "remote/frontend-hotkeys.h"
#include "remote/remote-control-setting.h"
#include "remote/session-snapshot.h"
#include "remote/websocket-vendor.h"
#include "sandbox-server.h"
#include "sandbox-sign-in.h"
#include "settle.h"
#include "streamer-session.h"
#include "test-main.h"
#include "vendor-call.h"

#include <QDesktopServices>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>

namespace {
const QString P = QStringLiteral("[tiplark-obs-plugin] ");
const QString BUSY = QStringLiteral("busy: busy: the same action is already under way");
constexpr SessionAction::Origin DOCK = SessionAction::Origin::Dock;
using Outcome = SessionAction::Outcome;
const QDateTime EPOCH = QDateTime::fromString(QStringLiteral("2024-05-01T12:00:00Z"), Qt::ISODate);

QJsonObject donation(const QString &id, int second)
{
	return QJsonObject{{"id", id},
			   {"nickname", "Widz"},
			   {"amount", 10},
			   {"currency", "PLN"},
			   {"created_at", EPOCH.addSecs(second).toString(Qt::ISODate)}};
}

// count records, the newest first, or the oldest first.
QVariantList records(const QString &prefix, int count, bool oldestFirst)
{
	QVariantList list;
	for (int i = 0; i < count; ++i)
		list.append(donation(prefix + QString::number(i), i));
	if (!oldestFirst)
		std::reverse(list.begin(), list.end());
	return list;
}

QStringList ids(const QList<DonationMessage> &records)
{
	QStringList result;
	for (const DonationMessage &record : records)
		result << record.id;
	return result;
}
} // namespace

class TestStreamerSession : public QObject {
	Q_OBJECT

	Sandbox::Server m_sandbox;

	// A session whose sign-in was kept from an earlier run (tokens saved before it was made), with both
	// lists answered once.
	void startSignedIn(StreamerSession &session)
	{
		session.start();
		QVERIFY(settleBackgroundRequests());
		session.pollNow();
		QVERIFY(settleBackgroundRequests());
	}

	// The streamer signs in with the browser: the sign-in page, then its redirect to the listener.
	void signInThroughBrowser(StreamerSession &session)
	{
		UrlCatcher browser;
		QDesktopServices::setUrlHandler("http", &browser, "open");
		session.signIn();
		QDesktopServices::unsetUrlHandler("http");
		QCOMPARE(browser.urls.size(), 1);
		const Hop authorized = fetch(browser.urls.first());
		QCOMPARE(authorized.status, 302);
		QCOMPARE(fetch(QUrl::fromEncoded(authorized.location)).status, 200);
		QTRY_VERIFY(session.signedIn());
	}

	void poll(StreamerSession &session)
	{
		session.pollNow();
		QVERIFY(settleBackgroundRequests());
	}

	// A session (signed in from an earlier run with this many messages pending and both lists answered
	// once; signed out for -1), with the vendor and the hotkeys.
	struct Remote {
		std::unique_ptr<StreamerSession> session;
		SessionSnapshot snapshot;
		RemoteControlSetting remoteControl;
		WebsocketVendor vendor;
		FrontendHotkeys hotkeys;
		QSignalSpy ended;

		Remote(TestStreamerSession *test, int pending)
			: session(test->startSession(pending)),
			  snapshot(session.get()),
			  vendor(session.get(), &snapshot, &remoteControl),
			  hotkeys(session.get()),
			  ended(session.get(), &StreamerSession::actionFinished)
		{
		}

		QString call(const char *request, const QByteArray &data) { return vendorCall(vendor, request, data); }
	};

	std::unique_ptr<StreamerSession> startSession(int pending)
	{
		m_sandbox.state().set(Sandbox::ApiState::PENDING, records("p-", qMax(pending, 0), true));
		if (pending >= 0)
			saveSandboxSignIn(m_sandbox);
		auto session = std::make_unique<StreamerSession>(sandboxAddresses(m_sandbox));
		if (pending >= 0)
			startSignedIn(*session);
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
		qRegisterMetaType<SessionAction>();
		QVERIFY(m_sandbox.start());
	}

	void init()
	{
		m_sandbox.reset();
		m_sandbox.state().set("api.update", QVariantMap{{"version", "1.0.0"}});
		m_sandbox.state().set("api.userName", "Streamer");
		m_sandbox.state().set(Sandbox::ApiState::MODERATION_ENABLED, true);
	}

	void cleanup() { QVERIFY(settleBackgroundRequests()); }

	// What was there at start is no news; a record in no earlier answer is, once, whatever the order
	// the service lists its records in.
	void arrivalsComeFromAnswers_data()
	{
		QTest::addColumn<int>("donations");
		QTest::addColumn<int>("waiting"); // pending messages
		QTest::addColumn<bool>("oldestFirst");
		QTest::addColumn<int>("idChars"); // of the record that arrives

		QTest::newRow("20 donations and 12 pending at start") << 20 << 12 << false << 8;
		QTest::newRow("40, listed oldest first") << 40 << 40 << true << 8;
		QTest::newRow("40, listed newest first") << 40 << 40 << false << 8;
		QTest::newRow("id of 128 characters") << 5 << 12 << false << 128;
		QTest::newRow("id of 129 characters") << 5 << 12 << false << 129;
	}

	void arrivalsComeFromAnswers()
	{
		QFETCH(int, donations);
		QFETCH(int, waiting);
		QFETCH(bool, oldestFirst);
		QFETCH(int, idChars);
		m_sandbox.state().set(Sandbox::ApiState::DONATIONS, records("d-", donations, oldestFirst));
		m_sandbox.state().set(Sandbox::ApiState::PENDING, records("p-", waiting, oldestFirst));
		saveSandboxSignIn(m_sandbox);
		StreamerSession session(sandboxAddresses(m_sandbox));
		QSignalSpy donationAdded(&session, &StreamerSession::donationAdded);
		QSignalSpy pendingAdded(&session, &StreamerSession::pendingMessageAdded);
		QSignalSpy chime(&session, &StreamerSession::newPendingMessages);
		startSignedIn(session);
		poll(session);
		QCOMPARE(donationAdded.count() + pendingAdded.count() + chime.count(), 0);
		QCOMPARE(session.totals().summary(), QStringLiteral("Ta sesja: 0 wpłat"));
		// A queue is served first come, first served: the cap cuts the newest, and the message that has
		// waited longest is shown and decided first.
		QCOMPARE(session.pending().size(), std::min(waiting, int(StreamerSession::MAX_SHOWN)));
		QCOMPARE(session.pendingTotal(), waiting);
		QVERIFY(ids(session.pending()).contains("p-0"));
		QCOMPARE(ids(session.pending()).contains("p-" + QString::number(waiting - 1)),
			 waiting <= StreamerSession::MAX_SHOWN);
		QSignalSpy started(&session, &StreamerSession::actionStarted);
		QCOMPARE(session.perform(SessionAction::decisionOnFirst(true, DOCK)), Outcome::Done);
		QCOMPARE(started.value(0).value(0).value<SessionAction>().messageId, QStringLiteral("p-0"));
		QVERIFY(settleBackgroundRequests());
		QVERIFY(!ids(session.pending()).contains("p-0"));

		// One new record in each list, the newest of all, where the service lists its newest.
		const QString id = QString(idChars, QLatin1Char('n'));
		QVariantList list = records("d-", donations, oldestFirst);
		oldestFirst ? list.append(donation(id, 1000)) : list.prepend(donation(id, 1000));
		m_sandbox.state().set(Sandbox::ApiState::DONATIONS, list);
		QVariantList pending = records("p-", waiting, oldestFirst);
		oldestFirst ? pending.append(donation(id, 1000)) : pending.prepend(donation(id, 1000));
		m_sandbox.state().set(Sandbox::ApiState::PENDING, pending);
		poll(session);
		poll(session);
		QCOMPARE(donationAdded.count(), 1);
		QCOMPARE(pendingAdded.count(), 1);
		QCOMPARE(chime.count(), 1);
		QCOMPARE(session.totals().summary(), QStringLiteral("Ta sesja: 1 wpłata · 10.00 PLN"));
		// The newest records are shown, in the service's order.
		const QStringList shown = ids(session.donations());
		QCOMPARE(shown.size(), std::min(donations + 1, int(StreamerSession::MAX_SHOWN)));
		QVERIFY(shown.contains(id));
		QCOMPARE(ids(session.pending()).contains(id), waiting < StreamerSession::MAX_SHOWN);
		QVERIFY(!shown.contains("d-0") || donations < StreamerSession::MAX_SHOWN);

		// Signed out, the session forgets; signed in again, what waits is no news either.
		session.signOut();
		QCOMPARE(session.totals().summary(), QStringLiteral("Ta sesja: 0 wpłat"));
		QVERIFY(session.donations().isEmpty() && session.pending().isEmpty());
		m_sandbox.state().set(Sandbox::ApiState::PENDING, records("q-", 3, true));
		signInThroughBrowser(session);
		QVERIFY(settleBackgroundRequests());
		poll(session);
		QCOMPARE(donationAdded.count() + pendingAdded.count(), 2);
		QCOMPARE(session.pending().size(), 3);
	}

	void rememberedIdsAreBounded()
	{
		RecordArrivals arrivals;
		QList<DonationMessage> answer;
		for (int i = 0; i < 3 * RecordArrivals::REMEMBERED; ++i) {
			DonationMessage record;
			record.id = QString::number(i);
			answer.append(record);
		}
		QVERIFY(arrivals.take(answer.mid(0, 10)).isEmpty());
		QCOMPARE(arrivals.take(answer).size(), answer.size() - 10);
		QCOMPARE(arrivals.remembered(), int(RecordArrivals::REMEMBERED));
		arrivals.reset();
		QCOMPARE(arrivals.remembered(), 0);
		QVERIFY(arrivals.take(answer.mid(0, 5)).isEmpty());
	}

	// Each action ends once, naming its subject: with the service's answer, or cut short by a sign-out.
	void actionsEndOnce_data()
	{
		QTest::addColumn<QString>("action");
		QTest::addColumn<QByteArray>("path");
		QTest::addColumn<int>("status"); // the service's answer, late when signing out
		QTest::addColumn<bool>("signOut");
		QTest::addColumn<bool>("ok");
		QTest::addColumn<QString>("error");

		const QString failed = QStringLiteral("the service call failed");
		const QString cut = QStringLiteral("signed out before the service answered");
		QTest::newRow("decision")
			<< "accept" << QByteArray("/v1/moderation/moderate/p-1") << 200 << false << true << "";
		QTest::newRow("switch refused")
			<< "off" << QByteArray("/v1/moderation") << 503 << false << false << failed;
		QTest::newRow("decision cut short")
			<< "reject" << QByteArray("/v1/moderation/moderate/p-1") << 200 << true << false << cut;
		QTest::newRow("switch cut short")
			<< "on" << QByteArray("/v1/moderation") << 200 << true << false << cut;
		QTest::newRow("skip cut short")
			<< "skip" << QByteArray("/v1/donations/queue/skip") << 200 << true << false << cut;
	}

	void actionsEndOnce()
	{
		QFETCH(QString, action);
		QFETCH(QByteArray, path);
		QFETCH(int, status);
		QFETCH(bool, signOut);
		QFETCH(bool, ok);
		QFETCH(QString, error);
		m_sandbox.state().set(Sandbox::ApiState::PENDING, records("p-", 2, true));
		saveSandboxSignIn(m_sandbox);
		StreamerSession session(sandboxAddresses(m_sandbox));
		startSignedIn(session);
		m_sandbox.setFault(path, Sandbox::Fault::respond(status, "{}")
						 .delayed(signOut ? 500 : 0)
						 .forMethod(path.endsWith("skip") ? "POST" : "PATCH"));
		QSignalSpy ended(&session, &StreamerSession::actionFinished);
		Outcome refusal = Outcome::Busy;
		if (action == "skip")
			refusal = session.perform(SessionAction::skip(DOCK));
		else if (action == "on" || action == "off")
			refusal = session.perform(SessionAction::moderation(action == "on", DOCK));
		else
			refusal = session.perform(SessionAction::decision("p-1", action == "accept", DOCK));
		QCOMPARE(refusal, Outcome::Done);
		if (signOut)
			session.signOut();
		QTRY_COMPARE(ended.count(), 1);
		QVERIFY(settleBackgroundRequests());
		QCOMPARE(ended.count(), 1);
		const auto end = ended.first().first().value<SessionAction>();
		QCOMPARE(end.ok, ok);
		QCOMPARE(end.error, error);
		QCOMPARE(end.messageId, action == "accept" || action == "reject" ? QStringLiteral("p-1") : QString());
		QCOMPARE(end.enabled, action == "on");
		m_sandbox.clearFaults();
	}

	// A decided message leaves the list with the service's answer, before the list read that follows comes:
	// a second press cannot decide it again, and the first row is the next message.
	void decidedMessageLeavesAtOnce()
	{
		m_sandbox.state().set(Sandbox::ApiState::PENDING, records("p-", 2, true));
		saveSandboxSignIn(m_sandbox);
		StreamerSession session(sandboxAddresses(m_sandbox));
		startSignedIn(session);
		QCOMPARE(session.pending().size(), 2);
		m_sandbox.setFault("/v1/moderation/moderate/pending-messages", Sandbox::Fault::hold());
		QSignalSpy ended(&session, &StreamerSession::actionFinished);
		QCOMPARE(session.perform(SessionAction::decision("p-1", true, DOCK)), Outcome::Done);
		QTRY_COMPARE(ended.count(), 1);
		QCOMPARE(ids(session.pending()), QStringList{"p-0"});
		QCOMPARE(session.pendingTotal(), 1);
		QCOMPARE(session.perform(SessionAction::decision("p-1", false, DOCK)), Outcome::UnknownMessage);
		QCOMPARE(session.perform(SessionAction::decisionOnFirst(false, DOCK)), Outcome::Done);
		m_sandbox.clearFaults();
		m_sandbox.releaseHeld();
		QVERIFY(settleBackgroundRequests());
		QCOMPARE(ids(session.pending()), QStringList{});
	}

	// A controller's action is queued once: while one of its kind is queued or running, another is
	// answered at once as busy, sends nothing and ends nothing. Switched off in the dock, nothing is
	// answered, and the choice holds for the next start.
	void vendorActions_data()
	{
		QTest::addColumn<QByteArray>("request");
		QTest::addColumn<QByteArray>("data");
		QTest::addColumn<QByteArray>("path");
		QTest::addColumn<bool>("switchedOn");
		QTest::addColumn<QString>("refusal");      // of the second request
		QTest::addColumn<bool>("offBeforeItRuns"); // switched off once the first is answered

		QTest::newRow("SkipAlert")
			<< QByteArray("SkipAlert") << QByteArray("{}") << QByteArray("/v1/donations/queue/skip") << true
			<< "busy: busy: the same action is already under way" << false;
		QTest::newRow("ModerateMessage")
			<< QByteArray("ModerateMessage") << QByteArray("{\"messageId\":\"p-1\",\"accept\":true}")
			<< QByteArray("/v1/moderation/moderate/p-1") << true
			<< "busy: busy: the same action is already under way" << false;
		QTest::newRow("SetModeration") << QByteArray("SetModeration") << QByteArray("{\"enabled\":false}")
					       << QByteArray("/v1/moderation") << true
					       << "busy: busy: the same action is already under way" << false;
		QTest::newRow("switched off")
			<< QByteArray("SkipAlert") << QByteArray("{}") << QByteArray("/v1/donations/queue/skip")
			<< false << "switchedOff: switched off in the Tiplark dock" << false;
		QTest::newRow("switched off before it runs")
			<< QByteArray("SkipAlert") << QByteArray("{}") << QByteArray("/v1/donations/queue/skip") << true
			<< "switchedOff: switched off in the Tiplark dock" << true;
	}

	void vendorActions()
	{
		QFETCH(QByteArray, request);
		QFETCH(QByteArray, data);
		QFETCH(QByteArray, path);
		QFETCH(bool, switchedOn);
		QFETCH(QString, refusal);
		QFETCH(bool, offBeforeItRuns);
		m_sandbox.state().set(Sandbox::ApiState::PENDING, records("p-", 2, true));
		saveSandboxSignIn(m_sandbox);
		StreamerSession session(sandboxAddresses(m_sandbox));
		startSignedIn(session);
		SessionSnapshot snapshot(&session);
		RemoteControlSetting remoteControl;
		WebsocketVendor vendor(&session, &snapshot, &remoteControl);
		remoteControl.setAllowed(switchedOn);
		QSignalSpy ended(&session, &StreamerSession::actionFinished);
		auto call = [&] {
			return vendorCall(vendor, request.constData(), data);
		};
		auto sent = [&] {
			return int(writes(path).size());
		};
		// The service holds the first answer: the action is running when the second request comes.
		m_sandbox.setFault(path, Sandbox::Fault::hold().once());

		QCOMPARE(call(), switchedOn ? QStringLiteral("ok") : refusal);
		if (offBeforeItRuns) {
			remoteControl.setAllowed(false);
			QCoreApplication::processEvents();
		}
		QCOMPARE(call(), refusal);
		const int first = switchedOn && !offBeforeItRuns ? 1 : 0;
		QCOMPARE(RemoteControlSetting().allowed(), first == 1);
		remoteControl.setAllowed(true);
		QTRY_COMPARE(sent(), first);
		m_sandbox.releaseHeld();
		QVERIFY(settleBackgroundRequests());
		QCOMPARE(ended.count(), first);
		QCOMPARE(sent(), first);
		if (!switchedOn)
			return;
		// Its end frees the kind.
		m_sandbox.clearFaults();
		QCOMPARE(call(), QStringLiteral("ok"));
		QTRY_COMPARE(sent(), first + 1);
		QVERIFY(settleBackgroundRequests());
		QCOMPARE(ended.count(), first + 1);
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
			return remote.call("ModerateMessage",
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
			QCOMPARE(remote.session->perform(SessionAction::decision(top, true, DOCK)), Outcome::Done);
		QTRY_COMPARE(remote.ended.count(), 1);
		QCOMPARE(decide(last), BUSY);
		m_sandbox.releaseHeld();
		QTRY_COMPARE(remote.ended.count(), 2);
		QCOMPARE(decide(last), QStringLiteral("ok"));
		QTRY_COMPARE(remote.ended.count(), 3);
	}

	// The streamer's own press, in the dock or on a key, is never turned away because a controller's or a
	// hotkey's action of its kind awaits the service: it goes next, and every other press meanwhile is
	// turned away.
	void streamerPressFollows_data()
	{
		QTest::addColumn<bool>("switchKind"); // else the skip
		QTest::addColumn<bool>("byHotkey");   // else a controller holds the kind
		QTest::addColumn<bool>("ownKey");     // else the streamer presses in the dock
		QTest::newRow("switch held by a controller") << true << false << false;
		QTest::newRow("switch held by a hotkey") << true << true << false;
		QTest::newRow("skip held by a controller") << false << false << false;
		QTest::newRow("skip held by a hotkey") << false << true << false;
		QTest::newRow("switch held by a hotkey, the streamer's key") << true << true << true;
		QTest::newRow("skip held by a controller, the streamer's key") << false << false << true;
	}

	void streamerPressFollows()
	{
		QFETCH(bool, switchKind);
		QFETCH(bool, byHotkey);
		QFETCH(bool, ownKey);
		Remote remote(this, 1);
		StreamerSession &session = *remote.session;
		const QByteArray path = switchKind ? "/v1/moderation" : "/v1/donations/queue/skip";
		const auto request = switchKind ? "SetModeration" : "SkipAlert";
		const QByteArray off = switchKind ? R"({"enabled":false})" : "{}";
		const auto hotkey = switchKind ? FrontendHotkeys::Action::ModerationOff
					       : FrontendHotkeys::Action::SkipAlert;
		const auto press = [&] {
			if (ownKey)
				return remote.hotkeys.keyPressed(switchKind ? FrontendHotkeys::Action::ModerationOn
									    : FrontendHotkeys::Action::SkipAlert);
			return switchKind ? session.perform(SessionAction::moderation(true, DOCK))
					  : session.perform(SessionAction::skip(DOCK));
		};
		m_sandbox.setFault(path, Sandbox::Fault::hold().once().forMethod(switchKind ? "PATCH" : "POST"));
		if (byHotkey)
			remote.hotkeys.press(hotkey);
		else
			QCOMPARE(remote.call(request, off), QStringLiteral("ok"));
		QTRY_COMPARE(writes(path).size(), 1);

		QCOMPARE(press(), Outcome::Done);
		QCOMPARE(press(), Outcome::Busy);
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
		const auto own = remote.ended.last().first().value<SessionAction>();
		QCOMPARE(remote.ended.first().first().value<SessionAction>().origin,
			 byHotkey ? SessionAction::Origin::Hotkey : SessionAction::Origin::Controller);
		QVERIFY(own.origin == (ownKey ? SessionAction::Origin::Key : DOCK) && own.ok);
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
		if (signedIn) {
			// The first press's request, held by the service until released, not until it times out.
			QTRY_COMPARE(writes("/v1/moderation").size(), 1);
			m_sandbox.releaseHeld();
			QTRY_COMPARE(remote.ended.count(), 1);
		}
		QVERIFY(settleBackgroundRequests());
		QCOMPARE(log.texts().filter("Hotkey").size(), 1);
		QCOMPARE(writes("/v1/moderation").size(), signedIn ? 1 : 0);
		if (!signedIn)
			return;
		// Its end frees the kind for the next press.
		remote.hotkeys.press(FrontendHotkeys::Action::ModerationOff);
		QTRY_COMPARE(writes("/v1/moderation").size(), 2);
	}
};

TIPLARK_TEST_MAIN(TestStreamerSession)
#include "test-streamer-session.moc"
