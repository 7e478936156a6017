#include "api/api-client.h"
#include "api/service-poller.h"
#include "auth/auth-manager.h"
#include "sandbox-server.h"
#include "sandbox-sign-in.h"
#include "settle.h"
#include "test-main.h"

namespace {
const QMap<QString, ApiClient::Read> READS{{"user", ApiClient::Read::UserInfo},
					   {"status", ApiClient::Read::ModerationStatus},
					   {"pending", ApiClient::Read::PendingMessages},
					   {"donations", ApiClient::Read::Donations}};
const QMap<QString, QByteArray> PATHS{{"user", "/v1/me"},
				      {"status", "/v1/moderation"},
				      {"pending", "/v1/moderation/moderate/pending-messages"},
				      {"donations", "/v1/donations"}};
} // namespace

// What the poller asks for, at its start and at a tick, from what is wanted and what is still unanswered.
class TestServicePoller : public QObject {
	Q_OBJECT

	Sandbox::Server m_sandbox;

	QStringList asked()
	{
		QStringList result;
		for (const auto &request : m_sandbox.requests())
			result << PATHS.key(request.path);
		result.sort();
		return result;
	}

private slots:
	void initTestCase() { QVERIFY(m_sandbox.start()); }
	void cleanup()
	{
		m_sandbox.releaseHeld();
		m_sandbox.clearFaults();
		QVERIFY(settleBackgroundRequests());
	}

	void whatIsDue_data()
	{
		QTest::addColumn<QStringList>("wanted");
		QTest::addColumn<QString>("held"); // a read the service never answers
		QTest::addColumn<int>("ticks");
		QTest::addColumn<QStringList>("atStart");
		QTest::addColumn<QStringList>("atLastTick");
		QTest::addColumn<int>("health");
		const int answering = int(ServicePoller::Health::Answering);
		const int failing = int(ServicePoller::Health::Failing);
		QTest::newRow("nothing") << QStringList{} << "" << 1 << QStringList{} << QStringList{} << answering;
		QTest::newRow("status and donations")
			<< QStringList{"status", "donations"} << "" << 1 << QStringList{"status"}
			<< QStringList{"donations", "status"} << answering;
		QTest::newRow("everything") << QStringList{"user", "status", "pending", "donations"} << "" << 2
					    << QStringList{"status", "user"}
					    << QStringList{"donations", "pending", "status", "user"} << answering;
		QTest::newRow("a read that hangs is not asked again")
			<< QStringList{"status", "donations"} << "donations" << 2 << QStringList{"status"}
			<< QStringList{"status"} << answering;
		QTest::newRow("a read that hangs two ticks counts as failing")
			<< QStringList{"status", "donations"} << "donations" << 3 << QStringList{"status"}
			<< QStringList{"status"} << failing;
		QTest::newRow("the only read hangs")
			<< QStringList{"status"} << "status" << 3 << QStringList{"status"} << QStringList{} << failing;
	}

	void whatIsDue()
	{
		QFETCH(QStringList, wanted);
		QFETCH(QString, held);
		QFETCH(int, ticks);
		QFETCH(QStringList, atStart);
		QFETCH(QStringList, atLastTick);
		QFETCH(int, health);
		m_sandbox.reset();
		m_sandbox.clearRequests();
		saveSandboxSignIn(m_sandbox);
		if (!held.isEmpty())
			m_sandbox.setFault(PATHS.value(held), Sandbox::Fault::hold());
		AuthManager auth(sandboxAddresses(m_sandbox));
		ApiClient client(&auth, sandboxAddresses(m_sandbox));
		ServicePoller poller(&client);
		for (auto it = READS.cbegin(); it != READS.cend(); ++it)
			poller.setWanted(it.value(), wanted.contains(it.key()));
		auto answered = [&] {
			for (auto it = READS.cbegin(); it != READS.cend(); ++it)
				if (it.key() != held && client.inFlight(it.value()) > 0)
					return false;
			return true;
		};

		poller.start();
		QTRY_VERIFY(answered());
		QTRY_COMPARE(asked(), atStart);
		// A held read that went out must have reached the service before the requests are counted anew.
		bool heldSeen = held.isEmpty() || !m_sandbox.requests(PATHS.value(held)).isEmpty();
		for (int tick = 1; tick <= ticks; ++tick) {
			m_sandbox.clearRequests();
			poller.tick();
			QTRY_VERIFY(answered());
			if (!heldSeen && tick < ticks) {
				QTRY_VERIFY(!m_sandbox.requests(PATHS.value(held)).isEmpty());
				heldSeen = true;
			}
		}
		QTRY_COMPARE(asked(), atLastTick);
		QCOMPARE(int(poller.health()), health);
		poller.stop();
	}
};

TIPLARK_TEST_MAIN(TestServicePoller)
#include "test-service-poller.moc"
