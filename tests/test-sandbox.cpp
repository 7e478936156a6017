#include "http/curl-helper.h"
#include "sandbox-server.h"
#include "test-main.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>
#include <QUrl>

// The sandbox's own machinery, which the service's endpoints and the tests build on. It is driven
// with the plug-in's transport, as the tests that use it do.
class TestSandbox : public QObject {
	Q_OBJECT

private slots:
	void endpointsGetCapturesAndSharedState()
	{
		Sandbox::Server sandbox;
		sandbox.addResetHook([](Sandbox::State &state) { state.values.insert("moderated", 0); });
		sandbox.addEndpoint("PATCH", "/test/items/([^/]+)",
				    [](const Sandbox::Request &request, Sandbox::State &state) {
					    QMutexLocker lock(&state.mutex);
					    const int count = state.values.value("moderated").toInt() + 1;
					    state.values.insert("moderated", count);
					    const QByteArray body = "{\"id\":\"" + request.captures.value(0).toUtf8() +
								    "\",\"n\":" + QByteArray::number(count) + "}";
					    return Sandbox::Reply::json(200, body);
				    });
		QVERIFY(sandbox.start());
		const QString base = sandbox.baseUrl();

		QCOMPARE(CurlHelper::patch(base + "/test/items/m-1", "{}", {}).body,
			 QByteArray("{\"id\":\"m-1\",\"n\":1}"));
		QCOMPARE(CurlHelper::patch(base + "/test/items/m-2?x=1", "{}", {}).body,
			 QByteArray("{\"id\":\"m-2\",\"n\":2}"));
		// The pattern covers the whole path.
		QCOMPARE(CurlHelper::patch(base + "/test/items/m-3/more", "{}", {}).statusCode, 404);
		QCOMPARE(sandbox.requests().size(), 3);
		QCOMPARE(sandbox.requests()[1].query, QByteArray("x=1"));

		sandbox.reset();
		QCOMPARE(sandbox.requestCount(), 0);
		QCOMPARE(CurlHelper::patch(base + "/test/items/m-4", "{}", {}).body,
			 QByteArray("{\"id\":\"m-4\",\"n\":1}"));
	}

	void unknownPathOrMethod_data()
	{
		QTest::addColumn<QString>("method");
		QTest::addColumn<QString>("path");
		QTest::addColumn<int>("status");
		QTest::newRow("unknown path") << "GET"
					      << "/test/nothing" << 404;
		QTest::newRow("known path, other method") << "GET"
							  << "/test/skip" << 405;
		QTest::newRow("known path and method") << "POST"
						       << "/test/skip" << 204;
	}

	void unknownPathOrMethod()
	{
		QFETCH(QString, method);
		QFETCH(QString, path);
		QFETCH(int, status);
		Sandbox::Server sandbox;
		sandbox.addEndpoint("POST", "/test/skip", [](const Sandbox::Request &, Sandbox::State &) {
			return Sandbox::Reply::json(204, {});
		});
		QVERIFY(sandbox.start());
		const QString url = sandbox.baseUrl() + path;
		const HttpResponse response = method == "GET" ? CurlHelper::get(url, {})
							      : CurlHelper::post(url, {}, {});
		QCOMPARE(response.statusCode, status);
	}

	void faultsApplyToTheirPathMethodAndCount()
	{
		Sandbox::Server sandbox;
		QVERIFY(sandbox.start());
		const QString url = sandbox.baseUrl() + "/test/me";
		sandbox.setFault("/test/me", Sandbox::Fault::respond(500, "boom").forMethod("POST").once(2));

		QCOMPARE(CurlHelper::get(url, {}).statusCode, 404); // not the fault's method
		QCOMPARE(CurlHelper::post(url, {}, {}).statusCode, 500);
		QCOMPARE(CurlHelper::get(url + "?a=b", {}).statusCode, 404);
		QCOMPARE(CurlHelper::post(url + "?a=b", {}, {}).statusCode, 500); // the path, whatever the query
		QCOMPARE(CurlHelper::post(url, {}, {}).statusCode, 404);          // used up

		sandbox.setFault("/test/me", Sandbox::Fault::respond(401, "{}"));
		sandbox.clearFault("/test/me");
		QCOMPARE(CurlHelper::get(url, {}).statusCode, 404);
	}

	void largeAndMalformedBodies()
	{
		Sandbox::Server sandbox;
		QVERIFY(sandbox.start());
		const qint64 size = 8 * 1024 * 1024 + 3;
		sandbox.setFault("/large", Sandbox::Fault::large(size));
		sandbox.setFault("/malformed", Sandbox::Fault::malformed());

		const HttpResponse large = CurlHelper::get(sandbox.baseUrl() + "/large", {});
		QCOMPARE(large.statusCode, 200);
		QCOMPARE(large.body.size(), size);
		QVERIFY(QJsonDocument::fromJson(large.body).isObject());

		const HttpResponse malformed = CurlHelper::get(sandbox.baseUrl() + "/malformed", {});
		QCOMPARE(malformed.statusCode, 200);
		QJsonParseError error;
		QJsonDocument::fromJson(malformed.body, &error);
		QVERIFY(error.error != QJsonParseError::NoError);
	}

	void heldRequestsAreReleasedOrEndedByStop_data()
	{
		QTest::addColumn<bool>("release");
		QTest::newRow("released") << true;
		QTest::newRow("server stopped") << false;
	}

	void heldRequestsAreReleasedOrEndedByStop()
	{
		QFETCH(bool, release);
		Sandbox::Server sandbox;
		QVERIFY(sandbox.start());
		sandbox.setFault("/test/me", Sandbox::Fault::hold());
		HttpResponse response;
		const QString url = sandbox.baseUrl() + "/test/me";
		QThread *client = QThread::create([&] { response = CurlHelper::get(url, {}); });
		client->start();
		QVERIFY(sandbox.waitForRequests(1));
		QThread::msleep(100);
		QVERIFY(client->isRunning());
		if (release)
			sandbox.releaseHeld();
		else
			sandbox.stop();
		QVERIFY(client->wait(10000));
		delete client;
		if (release) {
			QCOMPARE(response.statusCode, 503);
		} else {
			QCOMPARE(response.statusCode, -1);
			QCOMPARE(response.error, QStringLiteral("Server returned nothing (no headers, no data)"));
		}
	}

	// A second sandbox cannot take a port that one listens on.
	void aTakenPortIsRefused()
	{
		Sandbox::Server first;
		QVERIFY(first.start());
		Sandbox::Server second;
		QVERIFY(!second.start(first.port()));
		QCOMPARE(CurlHelper::get(first.baseUrl() + "/x", {}).statusCode, 404);
		QCOMPARE(first.requestCount(), 1);
	}
};

TIPLARK_TEST_MAIN(TestSandbox)
#include "test-sandbox.moc"
