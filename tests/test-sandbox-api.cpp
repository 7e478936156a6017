#include "api-state.h"
#include "donation-script.h"
#include "http/curl-helper.h"
#include "oauth-endpoints.h"
#include "sandbox-server.h"
#include "test-main.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutexLocker>

// The API tests lean on the sandbox's REST side: it must refuse what the service refuses and keep the
// queue the way the service does, or those tests would pass against a lenient stand-in.
namespace {
using Headers = QMap<QString, QString>;

Headers bearer(const QByteArray &token)
{
	return {{"Authorization", "Bearer " + QString::fromUtf8(token)}};
}
} // namespace

class TestSandboxApi : public QObject {
	Q_OBJECT

	Sandbox::Server m_sandbox;
	QByteArray m_token;

	QString url(const char *path) const { return m_sandbox.baseUrl() + QLatin1String(path); }

	HttpResponse send(const QByteArray &method, const char *path, const Headers &headers,
			  const QByteArray &body = QByteArray())
	{
		if (method == "GET")
			return CurlHelper::get(url(path), headers);
		if (method == "POST")
			return CurlHelper::post(url(path), body, headers);
		return CurlHelper::patch(url(path), body, headers);
	}

	QStringList idsOf(const QString &key)
	{
		QStringList ids;
		for (const QVariant &item : m_sandbox.state().value(key).toList())
			ids.append(item.toMap().value("id").toString());
		return ids;
	}

private slots:
	void initTestCase() { QVERIFY(m_sandbox.start()); }

	void init()
	{
		m_sandbox.reset();
		m_token = Sandbox::OAuth::issueTokens(m_sandbox.state()).accessToken;
	}

	void cleanupTestCase() { m_sandbox.stop(); }

	void bearerTokenRequired_data()
	{
		QTest::addColumn<QByteArray>("method");
		QTest::addColumn<QByteArray>("path");
		QTest::addColumn<QByteArray>("body");

		QTest::newRow("me") << QByteArray("GET") << QByteArray("/v1/me") << QByteArray();
		QTest::newRow("moderation") << QByteArray("GET") << QByteArray("/v1/moderation") << QByteArray();
		QTest::newRow("set moderation")
			<< QByteArray("PATCH") << QByteArray("/v1/moderation") << QByteArray("{\"enabled\": false}");
		QTest::newRow("pending")
			<< QByteArray("GET") << QByteArray("/v1/moderation/moderate/pending-messages") << QByteArray();
		QTest::newRow("donations") << QByteArray("GET") << QByteArray("/v1/donations") << QByteArray();
		QTest::newRow("skip")
			<< QByteArray("POST") << QByteArray("/v1/donations/queue/skip") << QByteArray("{}");
	}

	void bearerTokenRequired()
	{
		QFETCH(QByteArray, method);
		QFETCH(QByteArray, path);
		QFETCH(QByteArray, body);
		const char *p = path.constData();

		QCOMPARE(send(method, p, {}, body).statusCode, 401);
		QCOMPARE(send(method, p, bearer("not-issued"), body).statusCode, 401);
		QCOMPARE(send(method, p, {{"Authorization", "Basic " + QString::fromUtf8(m_token)}}, body).statusCode,
			 401);
		QCOMPARE(send(method, p, bearer(m_token), body).statusCode, 200);
		QCOMPARE(send(method, p, {{"Authorization", "bearer " + QString::fromUtf8(m_token)}}, body).statusCode,
			 200);
		Sandbox::OAuth::expireAccessToken(m_sandbox.state(), m_token);
		QCOMPARE(send(method, p, bearer(m_token), body).statusCode, 401);
	}

	void updateInformationIsPublic()
	{
		const HttpResponse response = CurlHelper::get(url("/extensions/details/obs"), {});
		QCOMPARE(response.statusCode, 200);
		const QJsonObject answer = QJsonDocument::fromJson(response.body).object();
		QCOMPARE(answer.value("version").toString(), QStringLiteral("1.1.0"));
		QCOMPARE(answer.value("download_url_linux").toString(),
			 m_sandbox.baseUrl() + "/downloads/tiplark-obs-plugin-1.1.0-linux.tar.gz");
	}

	void envelopeSwitch()
	{
		const QByteArray wrapped = send("GET", "/v1/donations", bearer(m_token)).body;
		QVERIFY(QJsonDocument::fromJson(wrapped).object().value("data").isArray());
		m_sandbox.state().set(Sandbox::ApiState::ENVELOPE, false);
		const QJsonDocument bare = QJsonDocument::fromJson(send("GET", "/v1/donations", bearer(m_token)).body);
		QVERIFY(bare.isArray());
		QCOMPARE(bare.array(), QJsonDocument::fromJson(wrapped).object().value("data").toArray());
		const QJsonDocument me = QJsonDocument::fromJson(send("GET", "/v1/me", bearer(m_token)).body);
		QCOMPARE(me.object().value("name").toString(), QStringLiteral("Streamer Testowy"));
	}

	void moderationQueue()
	{
		QCOMPARE(idsOf(Sandbox::ApiState::PENDING).size(), 2);
		const QString first = idsOf(Sandbox::ApiState::PENDING).first();
		const QString second = idsOf(Sandbox::ApiState::PENDING).last();
		const QByteArray accept = "{\"action\": \"accept\"}";
		const QByteArray path = "/v1/moderation/moderate/" + first.toUtf8();

		QCOMPARE(send("PATCH", path.constData(), bearer(m_token), "{\"action\": \"later\"}").statusCode, 422);
		QCOMPARE(send("PATCH", path.constData(), bearer(m_token), accept).statusCode, 200);
		QCOMPARE(idsOf(Sandbox::ApiState::PENDING), QStringList{second});
		QCOMPARE(idsOf(Sandbox::ApiState::DONATIONS).first(), first);
		// Decided once: a second decision finds nothing.
		QCOMPARE(send("PATCH", path.constData(), bearer(m_token), accept).statusCode, 404);

		const QByteArray reject = "/v1/moderation/moderate/" + second.toUtf8();
		QCOMPARE(send("PATCH", reject.constData(), bearer(m_token), "{\"action\": \"reject\"}").statusCode,
			 200);
		QVERIFY(idsOf(Sandbox::ApiState::PENDING).isEmpty());
		QVERIFY(!idsOf(Sandbox::ApiState::DONATIONS).contains(second));
	}

	void moderationSwitchDecidesWhereDonationsGo()
	{
		QCOMPARE(send("PATCH", "/v1/moderation", bearer(m_token), "{\"enabled\": \"no\"}").statusCode, 422);
		QCOMPARE(send("PATCH", "/v1/moderation", bearer(m_token), "{\"enabled\": false}").statusCode, 200);
		const QJsonObject off = Sandbox::ApiState::receiveDonation(m_sandbox.state());
		QCOMPARE(idsOf(Sandbox::ApiState::DONATIONS).first(), off.value("id").toString());

		QCOMPARE(send("PATCH", "/v1/moderation", bearer(m_token), "{\"enabled\": true}").statusCode, 200);
		const HttpResponse posted = CurlHelper::post(url("/_sandbox/donations"), "{\"id\":\"from-test\"}", {});
		QCOMPARE(posted.statusCode, 200);
		QCOMPARE(idsOf(Sandbox::ApiState::PENDING).last(), QStringLiteral("from-test"));
	}

	void donationScript()
	{
		const int pendingBefore = idsOf(Sandbox::ApiState::PENDING).size();
		const int shownBefore = idsOf(Sandbox::ApiState::DONATIONS).size();
		{
			Sandbox::DonationScript script(m_sandbox, 20);
			QTRY_VERIFY(idsOf(Sandbox::ApiState::PENDING).size() >= pendingBefore + 2);
			m_sandbox.state().set(Sandbox::ApiState::MODERATION_ENABLED, false);
			QTRY_VERIFY(idsOf(Sandbox::ApiState::DONATIONS).size() >= shownBefore + 2);
		}
		// Stopped with the script: nothing arrives any more.
		const int total = idsOf(Sandbox::ApiState::DONATIONS).size();
		QTest::qWait(100);
		QCOMPARE(idsOf(Sandbox::ApiState::DONATIONS).size(), total);
		// Every made-up donation has an id of its own.
		QStringList all = idsOf(Sandbox::ApiState::DONATIONS) + idsOf(Sandbox::ApiState::PENDING);
		all.removeDuplicates();
		QCOMPARE(all.size(),
			 idsOf(Sandbox::ApiState::DONATIONS).size() + idsOf(Sandbox::ApiState::PENDING).size());
	}
};

TIPLARK_TEST_MAIN(TestSandboxApi)
#include "test-sandbox-api.moc"
