#include "http/background-request.h"
#include "sandbox-server.h"
#include "test-main.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QSemaphore>
#include <QSignalSpy>
#include <QThread>
#include <QThreadPool>

#include <atomic>

namespace {
// Stands in for ApiClient and AuthManager: starts requests and emits what came back.
class Owner : public QObject {
	Q_OBJECT
public:
	void fetch(const QString &url, std::atomic<int> *acted = nullptr)
	{
		runInBackground(
			this, [url] { return CurlHelper::get(url, {}); },
			[this, acted](const HttpResponse &response) {
				if (acted)
					++*acted;
				emit answered(response.statusCode, response.body);
			});
	}

signals:
	void answered(int status, const QByteArray &body);
};

// Waits, without running the event loop, until every worker has handed its result back.
bool waitForWorkers(int timeoutMs = 10000)
{
	QElapsedTimer clock;
	clock.start();
	while (backgroundRequestsInFlight() > 0) {
		if (clock.hasExpired(timeoutMs))
			return false;
		QThread::msleep(2);
	}
	return true;
}
} // namespace

class TestBackgroundRequest : public QObject {
	Q_OBJECT

	Sandbox::Server m_sandbox;

	QString url(const QByteArray &path) const { return m_sandbox.baseUrl() + QString::fromUtf8(path); }

private slots:
	void initTestCase() { QVERIFY(m_sandbox.start()); }
	void init() { m_sandbox.reset(); }
	void cleanup() { QVERIFY(waitForWorkers()); }
	void cleanupTestCase() { m_sandbox.stop(); }

	void returnsBeforeTheRequestIsSent()
	{
		m_sandbox.setFault("/v1/me", Sandbox::Fault::respond(200, "{}"));
		Owner owner;
		QSemaphore gate;
		QThread *workThread = nullptr;
		QThread *doneThread = nullptr;
		int calls = 0;
		// The work waits for the test: run on the calling thread, it would time out instead.
		runInBackground(
			&owner,
			[&] {
				workThread = QThread::currentThread();
				if (!gate.tryAcquire(1, 5000))
					return HttpResponse();
				return CurlHelper::get(url("/v1/me"), {});
			},
			[&](const HttpResponse &response) {
				doneThread = QThread::currentThread();
				++calls;
				QCOMPARE(response.statusCode, 200);
			});
		QCOMPARE(m_sandbox.requestCount(), 0);
		QCOMPARE(calls, 0);
		gate.release();

		QTRY_COMPARE_WITH_TIMEOUT(calls, 1, 10000);
		QCOMPARE(m_sandbox.requestCount(), 1);
		QVERIFY(workThread && workThread != QThread::currentThread());
		QCOMPARE(doneThread, QThread::currentThread());
	}

	void continuationsRunInArrivalOrderOnTheGuiThread()
	{
		m_sandbox.setFault("/slow", Sandbox::Fault::respond(200, "slow").delayed(700));
		m_sandbox.setFault("/fast", Sandbox::Fault::respond(200, "fast"));
		Owner owner;
		QList<QByteArray> order;
		QList<QThread *> threads;
		connect(&owner, &Owner::answered, this, [&](int, const QByteArray &body) {
			order.append(body);
			threads.append(QThread::currentThread());
		});
		owner.fetch(url("/slow"));
		QVERIFY(m_sandbox.waitForRequests(1)); // the slow one is on the wire first
		owner.fetch(url("/fast"));

		QTRY_COMPARE_WITH_TIMEOUT(order.size(), 2, 10000);
		QCOMPARE(order, QList<QByteArray>({"fast", "slow"}));
		QCOMPARE(threads, QList<QThread *>({QThread::currentThread(), QThread::currentThread()}));
	}

	void sameOperationTwiceActsTwice()
	{
		m_sandbox.setFault("/v1/moderation", Sandbox::Fault::respond(200, "{\"enabled\":true}"));
		Owner owner;
		QSignalSpy answered(&owner, &Owner::answered);
		owner.fetch(url("/v1/moderation"));
		owner.fetch(url("/v1/moderation"));

		QTRY_COMPARE_WITH_TIMEOUT(answered.size(), 2, 10000);
		QCOMPARE(m_sandbox.requests("/v1/moderation").size(), 2);
		QTest::qWait(50);
		QCOMPARE(answered.size(), 2);
	}

	// The owner goes away while its worker is blocked in the request, or after the worker queued the
	// result: nothing runs and nothing is emitted. A second owner, left alive, shows that answers
	// were being delivered all along. Under the sanitizers a run on a dead owner would be reported.
	void destroyedOwner_data()
	{
		QTest::addColumn<bool>("whileBlocked");
		QTest::newRow("while the worker is blocked") << true;
		QTest::newRow("while the continuation is queued") << false;
	}

	void destroyedOwner()
	{
		QFETCH(bool, whileBlocked);
		m_sandbox.setFault("/v1/donations", Sandbox::Fault::respond(200, "[]").delayed(whileBlocked ? 40 : 0));
		constexpr int kRounds = 30;
		std::atomic<int> actedOnDestroyed{0};
		std::atomic<int> actedOnLiving{0};
		Owner living;
		for (int round = 0; round < kRounds; ++round) {
			m_sandbox.clearRequests();
			auto *doomed = new Owner;
			doomed->fetch(url("/v1/donations"), &actedOnDestroyed);
			living.fetch(url("/v1/donations"), &actedOnLiving);
			if (whileBlocked)
				QVERIFY(m_sandbox.waitForRequests(2));
			else
				QVERIFY(waitForWorkers());
			delete doomed;
			QVERIFY(waitForWorkers());
			QCoreApplication::sendPostedEvents();
			QCOMPARE(actedOnDestroyed.load(), 0);
			QCOMPARE(actedOnLiving.load(), round + 1);
		}
	}
};

TIPLARK_TEST_MAIN(TestBackgroundRequest)
#include "test-background-request.moc"
