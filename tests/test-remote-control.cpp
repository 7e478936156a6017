#include "remote/remote-control.h"
#include "remote/websocket-vendor.h"
#include "session-totals.h"
#include "test-main.h"

#include <QSignalSpy>

#include <obs-data.h>

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

Q_DECLARE_METATYPE(WebsocketVendor::Request)

class TestRemoteControl : public QObject {
	Q_OBJECT

private slots:
	void summary_data()
	{
		QTest::addColumn<QList<DonationMessage>>("donations");
		QTest::addColumn<QString>("summary");

		QTest::newRow("none") << QList<DonationMessage>{} << QStringLiteral("Ta sesja: 0 wpłat");
		QTest::newRow("one")
			<< QList<DonationMessage>{record("a", "5")} << QStringLiteral("Ta sesja: 1 wpłata · 5,00 PLN");
		QTest::newRow("same id twice counts once")
			<< QList<DonationMessage>{record("a", "5.50"), record("a", "5.50"), record("b", "0.5")}
			<< QStringLiteral("Ta sesja: 2 wpłaty · 6,00 PLN");
		QTest::newRow("sums without rounding drift")
			<< QList<DonationMessage>{record("a", "0.10"), record("b", "0.20"), record("c", "0,7")}
			<< QStringLiteral("Ta sesja: 3 wpłaty · 1,00 PLN");
		QTest::newRow("currencies apart, first seen first")
			<< QList<DonationMessage>{record("a", "2", "EUR"), record("b", "12345.5"),
						  record("c", "3", "EUR"), record("d", "1")}
			<< QStringLiteral("Ta sesja: 4 wpłaty · 5,00 EUR · 12\u00a0346,50 PLN");
		QTest::newRow("unreadable amount counts, adds nothing")
			<< QList<DonationMessage>{record("a", "dziesięć"), record("b", "-3"), record("c", "1.005")}
			<< QStringLiteral("Ta sesja: 3 wpłaty · 0,00 PLN");
		QTest::newRow("no id is not counted")
			<< QList<DonationMessage>{record("")} << QStringLiteral("Ta sesja: 0 wpłat");
		QList<DonationMessage> many;
		for (int i = 0; i < 12; ++i)
			many << record(QString::number(i), "28.79");
		QTest::newRow("12 takes the many form") << many << QStringLiteral("Ta sesja: 12 wpłat · 345,48 PLN");
		many << record("12", "1") << record("13", "1") << record("14", "1") << record("15", "1")
		     << record("16", "1") << record("17", "1") << record("18", "1") << record("19", "1")
		     << record("20", "1") << record("21", "1");
		QTest::newRow("22 takes the few form") << many << QStringLiteral("Ta sesja: 22 wpłaty · 355,48 PLN");
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

	// Records already shown at the first lists after a sign-in are no arrivals; later ones are, once.
	void arrivals()
	{
		RemoteControl control;
		QSignalSpy pendingAdded(&control, &RemoteControl::pendingMessageAdded);
		QSignalSpy newPending(&control, &RemoteControl::newPendingMessages);
		QSignalSpy donationAdded(&control, &RemoteControl::donationAdded);

		control.setSignedIn(true, QStringLiteral("ola"));
		control.showPending({record("p1"), record("p2")});
		control.showDonations({record("d1", "7")});
		QCOMPARE(pendingAdded.count(), 0);
		QCOMPARE(newPending.count(), 0);
		QCOMPARE(donationAdded.count(), 0);
		QVERIFY(control.state().sessionTotals.isEmpty());

		control.showPending({record("p3"), record("p4"), record("p1")});
		control.showPending({record("p3"), record("p4")});
		control.showDonations({record("d2", "2.5"), record("d1", "7")});
		control.showDonations({record("d2", "2.5"), record("d1", "7")});
		QCOMPARE(pendingAdded.count(), 2);
		QCOMPARE(pendingAdded.at(0).at(0).value<DonationMessage>().id, QStringLiteral("p3"));
		QCOMPARE(newPending.count(), 1);
		QCOMPARE(donationAdded.count(), 1);
		QCOMPARE(control.state().sessionTotals, (QList<SessionTotals::Total>{{QStringLiteral("PLN"), 1, 250}}));
		QCOMPARE(control.state().pending.size(), 2);

		// A sign-in again: what waits then is no arrival either.
		control.setSignedIn(false, QString());
		QVERIFY(control.state().pending.isEmpty());
		control.setSignedIn(true, QStringLiteral("ola"));
		control.showPending({record("p5")});
		QCOMPARE(pendingAdded.count(), 2);
	}

	void actions_data()
	{
		QTest::addColumn<bool>("signedIn");
		QTest::addColumn<QList<DonationMessage>>("pending");
		QTest::addColumn<QString>("acceptFirst");
		QTest::addColumn<QString>("moderateP2");
		QTest::addColumn<QString>("skip");

		QTest::newRow("signed out") << false << QList<DonationMessage>{} << "not signed in" << "not signed in"
					    << "not signed in";
		QTest::newRow("nothing pending") << true << QList<DonationMessage>{} << "nothing pending"
						 << "no pending message with this messageId" << "";
		QTest::newRow("two pending") << true << QList<DonationMessage>{record("p1"), record("p2")} << ""
					     << "" << "";
	}

	void actions()
	{
		QFETCH(bool, signedIn);
		QFETCH(QList<DonationMessage>, pending);
		QFETCH(QString, acceptFirst);
		QFETCH(QString, moderateP2);
		QFETCH(QString, skip);
		RemoteControl control;
		QSignalSpy moderated(&control, &RemoteControl::moderateRequested);
		QSignalSpy skipped(&control, &RemoteControl::skipRequested);
		control.setSignedIn(signedIn, QStringLiteral("ola"));
		control.showPending(pending);

		QCOMPARE(control.moderateFirst(true), acceptFirst);
		QCOMPARE(control.moderate(QStringLiteral("p2"), false), moderateP2);
		QCOMPARE(control.skipAlert(), skip);
		QCOMPARE(skipped.count(), skip.isEmpty() ? 1 : 0);
		QList<QList<QVariant>> expected;
		if (acceptFirst.isEmpty())
			expected << QList<QVariant>{QStringLiteral("p1"), true};
		if (moderateP2.isEmpty())
			expected << QList<QVariant>{QStringLiteral("p2"), false};
		QCOMPARE(QList<QList<QVariant>>(moderated), expected);
	}

	// A controller's action is queued once: while one of its kind is queued or running, another is
	// answered at once as busy and adds no ActionFinished. Switched off, nothing is answered, and the
	// choice holds for the next start.
	void vendorActions_data()
	{
		QTest::addColumn<WebsocketVendor::Request>("request");
		QTest::addColumn<QByteArray>("data");
		QTest::addColumn<bool>("switchedOn");
		QTest::addColumn<QString>("refusal"); // of the second request
		QTest::newRow("SkipAlert") << WebsocketVendor::Request::SkipAlert << QByteArray("{}") << true
					   << "busy: the previous SkipAlert has not finished yet";
		QTest::newRow("ModerateMessage") << WebsocketVendor::Request::ModerateMessage
						 << QByteArray(R"({"messageId":"p1","accept":true})") << true
						 << "busy: the previous ModerateMessage has not finished yet";
		QTest::newRow("SetModeration")
			<< WebsocketVendor::Request::SetModeration << QByteArray(R"({"enabled":false})") << true
			<< "busy: the previous SetModeration has not finished yet";
		QTest::newRow("switched off") << WebsocketVendor::Request::SkipAlert << QByteArray("{}") << false
					      << "switched off in the Tiplark dock";
	}

	void vendorActions()
	{
		QFETCH(WebsocketVendor::Request, request);
		QFETCH(QByteArray, data);
		QFETCH(bool, switchedOn);
		QFETCH(QString, refusal);
		RemoteControl control;
		control.setSignedIn(true, QStringLiteral("ola"));
		control.showPending({record("p1")});
		int asked = 0;
		connect(&control, &RemoteControl::skipRequested, this, [&] { ++asked; });
		connect(&control, &RemoteControl::moderateRequested, this, [&] { ++asked; });
		connect(&control, &RemoteControl::moderationRequested, this, [&] { ++asked; });
		QSignalSpy finished(&control, &RemoteControl::actionFinished);
		WebsocketVendor vendor(&control);
		vendor.setEnabled(switchedOn);
		auto call = [&] {
			obs_data_t *requestData = obs_data_create_from_json(data.constData());
			obs_data_t *responseData = obs_data_create();
			vendor.handle(request, requestData, responseData);
			const QString answer = obs_data_get_bool(responseData, "ok")
						       ? QStringLiteral("ok")
						       : QString::fromUtf8(obs_data_get_string(responseData, "error"));
			obs_data_release(requestData);
			obs_data_release(responseData);
			return answer;
		};

		QCOMPARE(call(), switchedOn ? QStringLiteral("ok") : refusal);
		QCOMPARE(call(), refusal);
		QCOMPARE(WebsocketVendor(&control).isEnabled(), switchedOn);
		vendor.setEnabled(true);
		QTRY_COMPARE(asked, switchedOn ? 1 : 0);
		QCOMPARE(finished.count(), 0);
		if (!switchedOn)
			return;
		// Its end frees the kind.
		control.finishAction(QString(refusal).section(' ', 3, 3), true, QString());
		QCOMPARE(call(), QStringLiteral("ok"));
		QTRY_COMPARE(asked, 2);
		QCOMPARE(finished.count(), 1);
	}
};

TIPLARK_TEST_MAIN(TestRemoteControl)
#include "test-remote-control.moc"
