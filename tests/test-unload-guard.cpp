#include "http/transport.h"
#include "log-capture.h"
#include "sandbox-server.h"
#include "test-main.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QSignalSpy>
#include <QUdpSocket>

// Module unload with requests in flight: OBS unmaps the module's code once obs_module_unload returns,
// so the unload routine must get every worker out of libcurl first, and within a bounded time.
// One executable of its own: after the routine no request runs in this process any more.
class TestUnloadGuard : public QObject {
	Q_OBJECT

	Sandbox::Server m_sandbox;

private slots:
	void initTestCase() { QVERIFY(m_sandbox.start()); }
	void cleanupTestCase() { m_sandbox.stop(); }

	void unloadCutsHeldRequestsShort()
	{
		m_sandbox.setFault("/v1/donations", Sandbox::Fault::respond(200, "[]").delayed(20000));
		const QString url = m_sandbox.baseUrl() + "/v1/donations";
		QObject owner;
		int acted = 0;
		// More requests than the lane has threads: some are still waiting in the queue.
		const int threads = ACTION_LANE_THREADS;
		const int requests = threads + 3;
		for (int i = 0; i < requests; ++i)
			runInBackground(
				&owner, [url] { return CurlHelper::get(url, {}); },
				[&acted](const HttpResponse &) { ++acted; });
		QVERIFY(m_sandbox.waitForRequests(threads));
		// And a name lookup that hangs: the resolver asks here and is never answered.
		QUdpSocket resolver;
		QVERIFY2(resolver.bind(QHostAddress::LocalHost, 53), "run through tests/dns/with-silent-resolver.sh");
		QSignalSpy asked(&resolver, &QUdpSocket::readyRead);
		runInBackground(
			&owner, [] { return CurlHelper::get("http://lookup-hangs.invalid/", {}); },
			[&acted](const HttpResponse &) { ++acted; }, RequestLane::Read);
		QVERIFY(asked.wait(10000));

		LogCapture log;
		QElapsedTimer clock;
		clock.start();
		const bool finished = Transport::current()->shutdown();
		const qint64 elapsed = clock.elapsed();

		QVERIFY(finished);
		// About 2 seconds at most, nowhere near the 20 the server holds the answers.
		QVERIFY2(elapsed < 5000, qPrintable(QString::number(elapsed)));
		QCOMPARE(backgroundRequestsInFlight(), 0);
		// The queued ones never went out; the running ones ended as transport failures.
		QCOMPARE(m_sandbox.requestCount(), threads);
		QCOMPARE(log.count("[tiplark-obs-plugin] Tiplark HTTP: Request failed: Operation was aborted by an "
				   "application callback (code 42)"),
			 threads + 1);
		// Nothing is handed back to an owner any more, not even to one that still exists.
		QCoreApplication::sendPostedEvents();
		QTest::qWait(50);
		QCOMPARE(acted, 0);
	}

	void nothingRunsAfterUnload()
	{
		m_sandbox.reset();
		QObject owner;
		bool workRan = false;
		bool doneRan = false;
		runInBackground(
			&owner,
			[&workRan] {
				workRan = true;
				return HttpResponse();
			},
			[&doneRan](const HttpResponse &) { doneRan = true; });
		QCOMPARE(backgroundRequestsInFlight(), 0);
		QTest::qWait(100);
		QVERIFY(!workRan);
		QVERIFY(!doneRan);
		// A second unload (OBS calls it once, but it must not hang or crash) finds nothing to do.
		QVERIFY(Transport::current()->shutdown());
	}
};

TIPLARK_TEST_MAIN(TestUnloadGuard)
#include "test-unload-guard.moc"
