#include "quit-signal-relay.h"
#include "test-main.h"

#include <QThread>

#include <atomic>
#include <csignal>
#include <thread>

namespace {
// Stands for the handler OBS had before the relay took SIGINT over.
std::atomic<int> g_previousHandlerCalls{0};

void previousHandler(int)
{
	++g_previousHandlerCalls;
}
} // namespace

// SIGINT must never run the quit inside the code it interrupted: OBS 29's own handler closes the main
// window right there, and the close runs queued answers and the exit event nested in a half-done list
// rebuild, which crashes OBS now and then.
class TestQuitSignalRelay : public QObject {
	Q_OBJECT

	struct sigaction m_original = {};

private slots:
	void initTestCase()
	{
		struct sigaction action = {};
		action.sa_handler = previousHandler;
		sigemptyset(&action.sa_mask);
		QCOMPARE(sigaction(SIGINT, &action, &m_original), 0);
	}

	void cleanupTestCase() { sigaction(SIGINT, &m_original, nullptr); }

	void init() { g_previousHandlerCalls = 0; }

	void quitRunsLaterOnTheGuiThread_data()
	{
		QTest::addColumn<bool>("onWorkerThread");
		QTest::newRow("signal lands on the GUI thread in the middle of its work") << false;
		QTest::newRow("signal lands on a worker thread") << true;
	}

	void quitRunsLaterOnTheGuiThread()
	{
		QFETCH(bool, onWorkerThread);
		bool busy = false;
		int quits = 0;
		bool quitWhileBusy = false;
		bool quitOnGuiThread = false;
		QuitSignalRelay relay([&] {
			++quits;
			quitWhileBusy = busy;
			quitOnGuiThread = QThread::currentThread() == qApp->thread();
		});
		QVERIFY(relay.isInstalled());

		busy = true;
		if (onWorkerThread)
			std::thread([] { raise(SIGINT); }).join();
		else
			raise(SIGINT); // the handler has run when raise returns
		QCOMPARE(quits, 0);
		busy = false;

		QTRY_COMPARE(quits, 1);
		QVERIFY(!quitWhileBusy);
		QVERIFY(quitOnGuiThread);
		QCOMPARE(g_previousHandlerCalls.load(), 0);
		// One wake-up, one quit: nothing is left over for later.
		QTest::qWait(50);
		QCOMPARE(quits, 1);
	}

	void everySignalQuitsAgain()
	{
		int quits = 0;
		QuitSignalRelay relay([&] { ++quits; });
		raise(SIGINT);
		QTRY_COMPARE(quits, 1);
		raise(SIGINT);
		QTRY_COMPARE(quits, 2);
	}

	void givesTheSignalBackWhenDestroyed()
	{
		int quits = 0;
		{
			QuitSignalRelay relay([&] { ++quits; });
			QVERIFY(relay.isInstalled());
		}
		raise(SIGINT);
		QCOMPARE(g_previousHandlerCalls.load(), 1);
		QTest::qWait(50);
		QCOMPARE(quits, 0);
	}

	void oneRelayAtATime()
	{
		int firstQuits = 0;
		int secondQuits = 0;
		QuitSignalRelay first([&] { ++firstQuits; });
		{
			QuitSignalRelay second([&] { ++secondQuits; });
			QVERIFY(!second.isInstalled());
		}
		// The second one's end left the first one's handler in place.
		raise(SIGINT);
		QTRY_COMPARE(firstQuits, 1);
		QCOMPARE(secondQuits, 0);
		QCOMPARE(g_previousHandlerCalls.load(), 0);
	}
};

TIPLARK_TEST_MAIN(TestQuitSignalRelay)
#include "test-quit-signal-relay.moc"
