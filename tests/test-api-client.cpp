#include "api/api-client.h"
#include "api-state.h"
#include "auth/auth-manager.h"
#include "auth/token-store.h"
#include "http/background-request.h"
#include "log-capture.h"
#include "oauth-endpoints.h"
#include "sandbox-server.h"
#include "service-operations.h"
#include "settle.h"
#include "sandbox-sign-in.h"
#include "test-main.h"

#include <curl/curl.h>
#include <util/base.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutexLocker>
#include <QSignalSpy>
#include <QThread>

#include <memory>

using Sandbox::Fault;

namespace {
const QString P = QStringLiteral("[tiplark-obs-plugin] ");

using Op = ServiceOperation;

// The client's own operations (the token refresh is the AuthManager's).
QList<ServiceOperationInfo> clientOperations()
{
	QList<ServiceOperationInfo> result;
	for (const ServiceOperationInfo &info : SERVICE_OPERATIONS)
		if (info.op != Op::RefreshToken)
			result.append(info);
	return result;
}

QJsonObject donation(const QString &id, const QString &nickname)
{
	return QJsonObject{{"id", id}, {"nickname", nickname}, {"message_content", "Hej"}, {"amount", 10}};
}

QStringList ids(const QList<DonationMessage> &records)
{
	QStringList result;
	for (const DonationMessage &record : records)
		result.append(record.id);
	return result;
}

// "LEVEL text" of the client's own log lines (the transport's "Tiplark HTTP: " lines left out).
QStringList clientLines(const LogCapture &log)
{
	QStringList result;
	for (const auto &line : log.lines())
		if (line.text.startsWith(P + QStringLiteral("Tiplark: ")))
			result.append(QString::number(line.level) + QLatin1Char(' ') + line.text.mid(P.size()));
	return result;
}

QString line(int level, const QString &text)
{
	return QString::number(level) + QLatin1Char(' ') + text;
}
} // namespace

Q_DECLARE_METATYPE(Op)
Q_DECLARE_METATYPE(Fault)

class TestApiClient : public QObject {
	Q_OBJECT

	Sandbox::Server m_sandbox;
	std::unique_ptr<AuthManager> m_auth;
	std::unique_ptr<ApiClient> m_client;
	QString m_accessToken;

	// A signed-in streamer: tokens the sandbox issued, in tokens.json before the AuthManager reads it.
	void signIn(bool expired = false)
	{
		const auto tokens = saveSandboxSignIn(m_sandbox, QDateTime::currentDateTime().addSecs(3600));
		if (expired)
			Sandbox::OAuth::expireAccessToken(m_sandbox.state(), tokens.accessToken);
		m_accessToken = QString::fromUtf8(tokens.accessToken);
		makeClient();
	}

	void signOut()
	{
		TokenStore().clear();
		m_accessToken.clear();
		makeClient();
	}

	void makeClient()
	{
		m_client.reset();
		m_auth = std::make_unique<AuthManager>(sandboxAddresses(m_sandbox));
		m_client = std::make_unique<ApiClient>(m_auth.get(), sandboxAddresses(m_sandbox));
	}

	void setList(const QString &key, const QJsonArray &list) { m_sandbox.state().set(key, list.toVariantList()); }

	// The request's header lines without the two that libcurl adds on its own.
	static QStringList ownHeaderLines(const Sandbox::Request &request)
	{
		QStringList lines;
		for (const QByteArray &line : request.headerLines)
			if (!line.startsWith("Host:") && !line.startsWith("Content-Length:"))
				lines.append(QString::fromUtf8(line));
		return lines;
	}

private slots:
	void initTestCase()
	{
		qRegisterMetaType<QList<DonationMessage>>();
		qRegisterMetaType<ApiEnvelope::ListAnswer>();
		QVERIFY(m_sandbox.start());
	}

	void init()
	{
		m_sandbox.reset();
		ObsHostStandIn::setVersionString("29.0.2-test");
		signIn();
	}

	void cleanup()
	{
		QVERIFY(settleBackgroundRequests());
		m_client.reset();
		m_auth.reset();
	}

	void cleanupTestCase() { m_sandbox.stop(); }

	void wire_data()
	{
		QTest::addColumn<Op>("op");
		QTest::addColumn<bool>("signedIn");
		QTest::addColumn<bool>("obsVersionKnown");
		QTest::addColumn<QByteArray>("method");
		QTest::addColumn<QByteArray>("path");
		QTest::addColumn<QByteArray>("body");

		for (const ServiceOperationInfo &e : clientOperations()) {
			QTest::addRow("%s", e.name) << e.op << true << true << e.method << e.path << e.body;
			QTest::addRow("%s, signed out", e.name)
				<< e.op << false << true << e.method << e.path << e.body;
			QTest::addRow("%s, no OBS version", e.name)
				<< e.op << true << false << e.method << e.path << e.body;
		}
	}

	void wire()
	{
		QFETCH(Op, op);
		QFETCH(bool, signedIn);
		QFETCH(bool, obsVersionKnown);
		QFETCH(QByteArray, method);
		QFETCH(QByteArray, path);
		QFETCH(QByteArray, body);

		if (!signedIn)
			signOut();
		if (!obsVersionKnown)
			ObsHostStandIn::setVersionString(nullptr);
		const QString obsVersion = obsVersionKnown ? QStringLiteral("29.0.2-test") : QString();

		startServiceOperation(op, *m_client, *m_auth);
		QVERIFY(m_sandbox.waitForRequests(1));
		QVERIFY(settleBackgroundRequests());

		const QList<Sandbox::Request> requests = m_sandbox.requests();
		QCOMPARE(requests.first().method, method);
		QCOMPARE(requests.first().target, path);
		QCOMPARE(requests.first().body, body);

		// Sent in the header map's order: by name.
		QStringList expected{QStringLiteral("Accept: application/json")};
		if (signedIn)
			expected << QStringLiteral("Authorization: Bearer ") + m_accessToken;
		expected << QStringLiteral("Content-Type: application/json")
			 << QStringLiteral("User-Agent: OBS/") + obsVersion << QStringLiteral("X-TIPLARK-PLATFORM: OBS")
			 << QStringLiteral("X-TIPLARK-PLATFORM-PLUGIN-VERSION: 1.0.0");
		// Without a version string from OBS the line still goes out, with an empty value.
		if (obsVersionKnown)
			expected << QStringLiteral("X-TIPLARK-PLATFORM-VERSION: ") + obsVersion;
		else
			expected << QStringLiteral("X-TIPLARK-PLATFORM-VERSION:");
		QCOMPARE(ownHeaderLines(requests.first()), expected);
	}

	void listAnswers_data()
	{
		QTest::addColumn<Op>("op");
		QTest::addColumn<QByteArray>("body");
		QTest::addColumn<QStringList>("ids");

		for (Op op : {Op::FetchPendingMessages, Op::FetchDonations}) {
			const char *name = op == Op::FetchDonations ? "donations" : "pending";
			QTest::addRow("%s: data array", name)
				<< op << QByteArray("{\"data\":[{\"id\":\"b\"},{\"id\":\"a\"}]}")
				<< QStringList{"b", "a"};
			QTest::addRow("%s: empty data array", name)
				<< op << QByteArray("{\"data\":[]}") << QStringList();
			QTest::addRow("%s: top-level array", name)
				<< op << QByteArray("[{\"id\":\"b\"},{\"id\":\"a\"}]") << QStringList{"b", "a"};
			QTest::addRow("%s: data object", name)
				<< op << QByteArray("{\"data\":{\"id\":\"a\"}}") << QStringList();
			QTest::addRow("%s: empty body", name) << op << QByteArray() << QStringList();
			QTest::addRow("%s: odd elements kept", name)
				<< op << QByteArray("{\"data\":[{\"id\":\"x\"},7,null,{},{\"id\":\"y\"}]}")
				<< QStringList{"x", "", "", "", "y"};
		}
	}

	void listAnswers()
	{
		QFETCH(Op, op);
		QFETCH(QByteArray, body);
		QFETCH(QStringList, ids);
		const bool donations = op == Op::FetchDonations;
		m_sandbox.setFault(donations ? "/v1/donations" : "/v1/moderation/moderate/pending-messages",
				   Fault::respond(200, body));
		QSignalSpy pendingSpy(m_client.get(), &ApiClient::pendingMessagesReceived);
		QSignalSpy donationsSpy(m_client.get(), &ApiClient::donationsReceived);
		QSignalSpy errors(m_client.get(), &ApiClient::apiError);

		startServiceOperation(op, *m_client, *m_auth);
		QSignalSpy &spy = donations ? donationsSpy : pendingSpy;
		QVERIFY(spy.wait());
		QVERIFY(settleBackgroundRequests());
		QCOMPARE(spy.count(), 1);
		QCOMPARE(::ids(spy.first().first().value<ApiEnvelope::ListAnswer>().shown), ids);
		QCOMPARE((donations ? pendingSpy : donationsSpy).count(), 0);
		QCOMPARE(errors.count(), 0);
	}

	void listsFromTheService_data()
	{
		QTest::addColumn<bool>("envelope");
		QTest::newRow("wrapped in data") << true;
		QTest::newRow("bare array") << false;
	}

	void listsFromTheService()
	{
		QFETCH(bool, envelope);
		m_sandbox.state().set(Sandbox::ApiState::ENVELOPE, envelope);
		setList(Sandbox::ApiState::DONATIONS, {donation("d-3", "Trzeci"), QJsonObject(),
						       donation("d-1", "Pierwszy"), donation("d-3", "Trzeci")});
		setList(Sandbox::ApiState::PENDING, {donation("p-1", "Ola"), donation("p-2", "Tomek")});
		QSignalSpy pending(m_client.get(), &ApiClient::pendingMessagesReceived);
		QSignalSpy donations(m_client.get(), &ApiClient::donationsReceived);
		LogCapture log;

		m_client->fetchDonations();
		QVERIFY(donations.wait());
		m_client->fetchPendingMessages();
		QVERIFY(pending.wait());

		const auto received = donations.first().first().value<ApiEnvelope::ListAnswer>().shown;
		QCOMPARE(ids(received), QStringList({"d-3", "", "d-1", "d-3"}));
		QCOMPARE(received.value(2).nickname, QStringLiteral("Pierwszy"));
		QCOMPARE(received.value(2).amount, QStringLiteral("10.00"));
		QCOMPARE(ids(pending.first().first().value<ApiEnvelope::ListAnswer>().shown),
			 QStringList({"p-1", "p-2"}));
		// Nothing of the donors (their names and messages are personal data) reaches the log.
		QCOMPARE(clientLines(log), QStringList());
	}

	void userInfo_data()
	{
		QTest::addColumn<QByteArray>("body");
		QTest::addColumn<QString>("name");

		QTest::newRow("data object") << QByteArray("{\"data\":{\"id\":\"u\",\"name\":\"Ola\"}}") << "Ola";
		QTest::newRow("no envelope") << QByteArray("{\"name\":\"Ola\"}") << "Ola";
		QTest::newRow("null name") << QByteArray("{\"data\":{\"name\":null}}") << "";
		QTest::newRow("numeric name") << QByteArray("{\"data\":{\"name\":5}}") << "";
		QTest::newRow("name beside a data array") << QByteArray("{\"data\":[],\"name\":\"Ola\"}") << "";
		QTest::newRow("empty body") << QByteArray() << "";
		QTest::newRow("UTF-8 name")
			<< QString::fromUtf8("{\"name\":\"Zażółć\"}").toUtf8() << QString::fromUtf8("Zażółć");
		QTest::newRow("line break in the name")
			<< QByteArray(R"({"name":"Ola\n[tiplark-obs-plugin] Tiplark: Logged out"})")
			<< "Ola\n[tiplark-obs-plugin] Tiplark: Logged out";
	}

	void userInfo()
	{
		QFETCH(QByteArray, body);
		QFETCH(QString, name);
		m_sandbox.setFault("/v1/me", Fault::respond(200, body));
		QSignalSpy received(m_client.get(), &ApiClient::userInfoReceived);
		LogCapture log;

		m_client->fetchUserInfo();
		QVERIFY(m_sandbox.waitForRequests(1));
		QVERIFY(settleBackgroundRequests());

		QStringList expected{
			line(LOG_INFO, "Tiplark: Fetching user info from " + m_sandbox.baseUrl() + "/v1/me"),
			line(LOG_DEBUG, "Tiplark: User info response: " + QString::fromUtf8(body)),
			line(LOG_INFO, "Tiplark: Parsed username: '" + QString(name).replace('\n', "\\n") + "'")};
		if (name.isEmpty())
			expected << line(LOG_WARNING, "Tiplark: Username is empty in response");
		QCOMPARE(clientLines(log), expected);
		QCOMPARE(received.count(), name.isEmpty() ? 0 : 1);
		if (!name.isEmpty())
			QCOMPARE(received.first().first().toString(), name);
	}

	void userInfoFromTheService()
	{
		m_sandbox.state().set(Sandbox::ApiState::USER_NAME, QStringLiteral("Streamer Testowy"));
		QSignalSpy received(m_client.get(), &ApiClient::userInfoReceived);
		m_client->fetchUserInfo();
		QVERIFY(received.wait());
		QCOMPARE(received.first().first().toString(), QStringLiteral("Streamer Testowy"));
	}

	void userInfoBodyLoggedUpTo500Bytes()
	{
		const QByteArray body = "{\"name\":\"Ola\",\"bio\":\"" + QByteArray(600, 'x') + "\"}";
		m_sandbox.setFault("/v1/me", Fault::respond(200, body));
		QSignalSpy received(m_client.get(), &ApiClient::userInfoReceived);
		LogCapture log;
		m_client->fetchUserInfo();
		QVERIFY(received.wait());
		QVERIFY(log.contains(LOG_DEBUG,
				     P + "Tiplark: User info response: " + QString::fromLatin1(body.left(500))));
	}

	void userInfoFailure()
	{
		m_sandbox.setFault("/v1/me", Fault::respond(500, "{\"error\":\"boom\"}"));
		QSignalSpy received(m_client.get(), &ApiClient::userInfoReceived);
		QSignalSpy errors(m_client.get(), &ApiClient::apiError);
		LogCapture log;
		m_client->fetchUserInfo();
		QVERIFY(errors.wait());
		QVERIFY(settleBackgroundRequests());
		QCOMPARE(clientLines(log), QStringList({line(LOG_INFO, "Tiplark: Fetching user info from " +
									       m_sandbox.baseUrl() + "/v1/me"),
							line(LOG_WARNING, "Tiplark: fetchUserInfo failed: ")}));
		QCOMPARE(errors.count(), 1);
		QCOMPARE(errors.first().first().toString(), QStringLiteral("HTTP 500: "));
		QCOMPARE(received.count(), 0);
	}

	void moderationStatus_data()
	{
		QTest::addColumn<QByteArray>("body");
		QTest::addColumn<bool>("enabled");

		QTest::newRow("data true") << QByteArray("{\"data\":{\"enabled\":true}}") << true;
		QTest::newRow("data false") << QByteArray("{\"data\":{\"enabled\":false}}") << false;
		QTest::newRow("string true is false") << QByteArray("{\"data\":{\"enabled\":\"true\"}}") << false;
		QTest::newRow("number 1 is false") << QByteArray("{\"data\":{\"enabled\":1}}") << false;
		QTest::newRow("no envelope") << QByteArray("{\"enabled\":true}") << true;
		QTest::newRow("missing") << QByteArray("{\"data\":{}}") << false;
		QTest::newRow("empty body") << QByteArray() << false;
	}

	void moderationStatus()
	{
		QFETCH(QByteArray, body);
		QFETCH(bool, enabled);
		m_sandbox.setFault("/v1/moderation", Fault::respond(200, body));
		QSignalSpy received(m_client.get(), &ApiClient::moderationStatusReceived);
		LogCapture log;
		m_client->fetchModerationStatus();
		QVERIFY(received.wait());
		QVERIFY(settleBackgroundRequests());
		QCOMPARE(received.count(), 1);
		QCOMPARE(received.first().first().toBool(), enabled);
		QVERIFY(clientLines(log).isEmpty());
	}

	void settingModeration_data()
	{
		QTest::addColumn<bool>("enabled");
		QTest::addColumn<int>("status");
		QTest::newRow("on, 200") << true << 200;
		QTest::newRow("off, 200") << false << 200;
		QTest::newRow("on, 204 without a body") << true << 204;
	}

	void settingModeration()
	{
		QFETCH(bool, enabled);
		QFETCH(int, status);
		m_sandbox.state().set(Sandbox::ApiState::MODERATION_ENABLED, !enabled);
		if (status != 200)
			m_sandbox.setFault("/v1/moderation", Fault::respond(status, QByteArray()));
		LogCapture log;
		QStringList linesAtSignal;
		QList<bool> values;
		connect(m_client.get(), &ApiClient::moderationStatusReceived, this, [&](bool value) {
			values.append(value);
			linesAtSignal = clientLines(log);
		});

		m_client->setModerationStatus(enabled);
		QTRY_COMPARE(values.size(), 1);
		QVERIFY(settleBackgroundRequests());
		QCOMPARE(values.first(), enabled);
		// The signal comes first, then the line.
		QVERIFY(linesAtSignal.isEmpty());
		QCOMPARE(clientLines(log),
			 QStringList(line(LOG_INFO, QStringLiteral("Tiplark: Moderation status set to ") +
							    (enabled ? "enabled" : "disabled"))));
		if (status == 200)
			QCOMPARE(m_sandbox.state().value(Sandbox::ApiState::MODERATION_ENABLED).toBool(), enabled);
	}

	void skip()
	{
		LogCapture log;
		QSignalSpy errors(m_client.get(), &ApiClient::apiError);
		m_client->skipCurrentDonation();
		QTRY_COMPARE(m_sandbox.state().value(Sandbox::ApiState::SKIPS).toInt(), 1);
		QVERIFY(settleBackgroundRequests());
		QCOMPARE(clientLines(log), QStringList(line(LOG_INFO, "Tiplark: Donation skipped")));
		QCOMPARE(errors.count(), 0);
		// Skipping refreshes nothing by itself.
		QCOMPARE(m_sandbox.requestCount(), 1);
	}

	void moderation_data()
	{
		QTest::addColumn<bool>("accept");
		QTest::newRow("accept") << true;
		QTest::newRow("reject") << false;
	}

	void moderation()
	{
		QFETCH(bool, accept);
		setList(Sandbox::ApiState::PENDING, {donation("m-1", "Ola"), donation("m-2", "Tomek")});
		setList(Sandbox::ApiState::DONATIONS, {donation("d-1", "Kasia")});
		QSignalSpy pending(m_client.get(), &ApiClient::pendingMessagesReceived);
		LogCapture log;

		m_client->moderateMessage(QStringLiteral("m-1"), accept);
		QVERIFY(pending.wait());
		QVERIFY(settleBackgroundRequests());

		QCOMPARE(ids(pending.first().first().value<ApiEnvelope::ListAnswer>().shown), QStringList{"m-2"});
		QCOMPARE(clientLines(log).first(),
			 line(LOG_INFO, QStringLiteral("Tiplark: Message m-1 ") + (accept ? "accepted" : "rejected")));
		const QList<Sandbox::Request> requests = m_sandbox.requests();
		QCOMPARE(requests.size(), 2);
		QCOMPARE(requests.at(1).method, QByteArray("GET"));
		QCOMPARE(requests.at(1).path, QByteArray("/v1/moderation/moderate/pending-messages"));
		QStringList shown;
		for (const QVariant &item : m_sandbox.state().value(Sandbox::ApiState::DONATIONS).toList())
			shown.append(item.toMap().value("id").toString());
		QCOMPARE(shown, accept ? QStringList({"m-1", "d-1"}) : QStringList({"d-1"}));
	}

	void listReadBeforeADecisionIsDropped()
	{
		setList(Sandbox::ApiState::PENDING, {donation("m-1", "Ola"), donation("m-2", "Tomek")});
		// The read sent before the decision answers after it, still holding the decided message.
		m_sandbox.setFault("/v1/moderation/moderate/pending-messages",
				   Fault::respond(200, "[{\"id\":\"m-1\"},{\"id\":\"m-2\"}]").delayed(800).once());
		QSignalSpy pending(m_client.get(), &ApiClient::pendingMessagesReceived);
		m_client->fetchPendingMessages();
		QTRY_COMPARE(m_sandbox.requestCount(), 1);
		m_client->moderateMessage(QStringLiteral("m-1"), true);
		QVERIFY(pending.wait());
		QVERIFY(settleBackgroundRequests());
		QCOMPARE(pending.count(), 1);
		QCOMPARE(ids(pending.first().first().value<ApiEnvelope::ListAnswer>().shown), QStringList{"m-2"});
	}

	void failedModerationKeepsTheList()
	{
		setList(Sandbox::ApiState::PENDING, {donation("m-1", "Ola")});
		QSignalSpy pending(m_client.get(), &ApiClient::pendingMessagesReceived);
		QSignalSpy errors(m_client.get(), &ApiClient::apiError);
		LogCapture log;
		m_client->moderateMessage(QStringLiteral("nie-ma"), true);
		QVERIFY(errors.wait());
		QVERIFY(settleBackgroundRequests());
		QCOMPARE(errors.first().first().toString(), QStringLiteral("HTTP 404: "));
		QCOMPARE(pending.count(), 0);
		QCOMPARE(m_sandbox.requestCount(), 1);
		QVERIFY(clientLines(log).isEmpty());
	}

	void emptyMessageId()
	{
		m_sandbox.setFault("/v1/moderation/moderate/", Fault::respond(200, "{}"));
		QSignalSpy pending(m_client.get(), &ApiClient::pendingMessagesReceived);
		LogCapture log;
		m_client->moderateMessage(QString(), false);
		QVERIFY(pending.wait());
		QCOMPARE(m_sandbox.requests().first().target, QByteArray("/v1/moderation/moderate/"));
		QCOMPARE(clientLines(log).first(), line(LOG_INFO, "Tiplark: Message  rejected"));
	}

	void hostileMessageIdStaysOneSegment_data()
	{
		QTest::addColumn<QString>("id");
		QTest::addColumn<QByteArray>("target");

		QTest::newRow("climbing to skip")
			<< "../../donations/queue/skip"
			<< QByteArray("/v1/moderation/moderate/..%2F..%2Fdonations%2Fqueue%2Fskip");
		QTest::newRow("dot-dot") << ".." << QByteArray("/v1/moderation/moderate/%2E%2E");
		QTest::newRow("dot") << "." << QByteArray("/v1/moderation/moderate/%2E");
		QTest::newRow("query")
			<< "m-1?action=reject" << QByteArray("/v1/moderation/moderate/m-1%3Faction%3Dreject");
		QTest::newRow("fragment") << "m-1#top" << QByteArray("/v1/moderation/moderate/m-1%23top");
		QTest::newRow("percent") << "m%2F1" << QByteArray("/v1/moderation/moderate/m%252F1");
		QTest::newRow("blank") << "m 1" << QByteArray("/v1/moderation/moderate/m%201");
	}

	void hostileMessageIdStaysOneSegment()
	{
		QFETCH(QString, id);
		QFETCH(QByteArray, target);
		setList(Sandbox::ApiState::PENDING, {donation(id, "Ola"), donation("m-1", "Tomek")});
		QSignalSpy pending(m_client.get(), &ApiClient::pendingMessagesReceived);
		QSignalSpy errors(m_client.get(), &ApiClient::apiError);
		LogCapture log;

		m_client->moderateMessage(id, true);
		QVERIFY(pending.wait());
		QVERIFY(settleBackgroundRequests());

		const Sandbox::Request first = m_sandbox.requests().first();
		QCOMPARE(first.method, QByteArray("PATCH"));
		QCOMPARE(first.target, target);
		QCOMPARE(m_sandbox.requests("/v1/donations/queue/skip").size(), 0);
		QCOMPARE(m_sandbox.state().value(Sandbox::ApiState::SKIPS).toInt(), 0);
		QCOMPARE(errors.count(), 0);
		// The service found the message by its id: only the other one is left.
		QCOMPARE(ids(pending.first().first().value<ApiEnvelope::ListAnswer>().shown), QStringList{"m-1"});
		QCOMPARE(clientLines(log).first(), line(LOG_INFO, "Tiplark: Message " + id + " accepted"));
	}

	void failures_data()
	{
		QTest::addColumn<Fault>("fault");
		QTest::addColumn<QString>("error");

		QTest::newRow("404") << Fault::respond(404, "{\"error\":\"not_found\"}") << "HTTP 404: ";
		QTest::newRow("500") << Fault::respond(500, QByteArray()) << "HTTP 500: ";
		QTest::newRow("final 302") << Fault::respond(302, QByteArray()) << "HTTP 302: ";
		QTest::newRow("300") << Fault::respond(300, QByteArray()) << "HTTP 300: ";
		QTest::newRow("connection closed")
			<< Fault::close()
			<< QStringLiteral("HTTP -1: ") + QString::fromUtf8(curl_easy_strerror(CURLE_GOT_NOTHING));
	}

	void failures()
	{
		QFETCH(Fault, fault);
		QFETCH(QString, error);
		m_sandbox.setFault("/v1/donations", fault);
		QSignalSpy donations(m_client.get(), &ApiClient::donationsReceived);
		QSignalSpy errors(m_client.get(), &ApiClient::apiError);
		LogCapture log;
		m_client->fetchDonations();
		QVERIFY(errors.wait());
		QVERIFY(settleBackgroundRequests());
		QCOMPARE(errors.count(), 1);
		QCOMPARE(errors.first().first().toString(), error);
		QCOMPARE(donations.count(), 0);
		QVERIFY(clientLines(log).isEmpty());
		// Only a 401 asks for a new token.
		QCOMPARE(m_sandbox.requestCount(), 1);
	}

	void status204IsSuccess()
	{
		m_sandbox.setFault("/v1/donations", Fault::respond(204, QByteArray()));
		QSignalSpy donations(m_client.get(), &ApiClient::donationsReceived);
		QSignalSpy errors(m_client.get(), &ApiClient::apiError);
		m_client->fetchDonations();
		QVERIFY(donations.wait());
		QVERIFY(donations.first().first().value<ApiEnvelope::ListAnswer>().shown.isEmpty());
		QCOMPARE(errors.count(), 0);
	}

	void rejectedTokenAsksForOneRefresh_data()
	{
		QTest::addColumn<Op>("op");
		for (const ServiceOperationInfo &e : clientOperations())
			if (e.op != Op::CheckForUpdates)
				QTest::addRow("%s", e.name) << e.op;
	}

	void rejectedTokenAsksForOneRefresh()
	{
		QFETCH(Op, op);
		signIn(true);
		QSignalSpy errors(m_client.get(), &ApiClient::apiError);
		startServiceOperation(op, *m_client, *m_auth);
		QVERIFY(errors.wait());
		QVERIFY(m_sandbox.waitForRequests(2));
		QVERIFY(settleBackgroundRequests());
		QCOMPARE(errors.count(), 1);
		QCOMPARE(errors.first().first().toString(), QStringLiteral("HTTP 401: "));
		QCOMPARE(m_sandbox.requests("/oauth/token").size(), 1);
		// The rejected request is not repeated.
		QCOMPARE(m_sandbox.requestCount(), 2);
	}

	// A poll's requests go out together with the same token; an answer that arrives after the refresh
	// has replaced that token must not start a second refresh.
	void lateRejectionOfAReplacedTokenRefreshesNothing()
	{
		signIn(true);
		m_sandbox.setFault("/v1/donations", Fault::respond(401, QByteArray()).delayed(1500));
		QSignalSpy errors(m_client.get(), &ApiClient::apiError);
		m_client->fetchModerationStatus();
		m_client->fetchDonations();
		QTRY_COMPARE_WITH_TIMEOUT(errors.count(), 2, 10000);
		QVERIFY(settleBackgroundRequests());
		QCOMPARE(m_sandbox.requests("/oauth/token").size(), 1);
		QCOMPARE(errors.last().first().toString(), QStringLiteral("HTTP 401: "));
		QVERIFY(m_auth->isAuthenticated());
		QVERIFY(m_auth->accessToken() != m_accessToken);
	}

	void rejectedWithoutRefreshToken()
	{
		signOut();
		LogCapture log;
		QStringList linesAtError;
		QStringList errors;
		connect(m_client.get(), &ApiClient::apiError, this, [&](const QString &error) {
			errors.append(error);
			linesAtError = log.texts(LOG_WARNING);
		});
		m_client->fetchDonations();
		QTRY_COMPARE(errors.size(), 1);
		QVERIFY(settleBackgroundRequests());
		QCOMPARE(errors.first(), QStringLiteral("HTTP 401: "));
		// The refresh was asked for (and refused for want of a token) before the error went out.
		QVERIFY(linesAtError.contains(P + "Tiplark: No refresh token available"));
		QCOMPARE(m_sandbox.requestCount(), 1);
	}

	void twoCallsTwoAnswers()
	{
		QSignalSpy received(m_client.get(), &ApiClient::moderationStatusReceived);
		m_client->fetchModerationStatus();
		m_client->fetchModerationStatus();
		QTRY_COMPARE(received.count(), 2);
		QCOMPARE(m_sandbox.requestCount(), 2);
	}

	void updateCheck_data()
	{
		QTest::addColumn<QVariant>("version");
		QTest::addColumn<QVariantMap>("urls");
		QTest::addColumn<bool>("emitted");
		QTest::addColumn<QString>("url");

		const QVariantMap all{{"download_url", "https://d/any"},
				      {"download_url_windows", "https://d/win"},
				      {"download_url_macos", "https://d/mac"},
				      {"download_url_linux", "https://d/linux"}};
		const QVariantMap generic{{"download_url", "https://d/any"},
					  {"download_url_macos", "https://d/mac"},
					  {"download_url_linux", ""}};

		QTest::newRow("same version") << QVariant("1.0.0") << all << false << "";
		QTest::newRow("patch newer") << QVariant("1.0.1") << all << true << "https://d/linux";
		QTest::newRow("own URL empty") << QVariant("1.0.1") << generic << true << "https://d/any";
		QTest::newRow("no URL") << QVariant("1.0.1") << QVariantMap() << true << "";
		QTest::newRow("1.0 is older") << QVariant("1.0") << all << false << "";
		QTest::newRow("1.0.0.0 is newer") << QVariant("1.0.0.0") << all << true << "https://d/linux";
		QTest::newRow("suffix kept") << QVariant("1.2.0-beta") << all << true << "https://d/linux";
		QTest::newRow("leading letter") << QVariant("v2.0") << all << false << "";
		QTest::newRow("older") << QVariant("0.9") << all << false << "";
	}

	void updateCheck()
	{
		QFETCH(QVariant, version);
		QFETCH(QVariantMap, urls);
		QFETCH(bool, emitted);
		QFETCH(QString, url);
		QVariantMap answer = urls;
		answer.insert("version", version);
		m_sandbox.state().set(Sandbox::ApiState::UPDATE, answer);
		QSignalSpy available(m_client.get(), &ApiClient::updateAvailable);
		LogCapture log;

		m_client->checkForUpdates();
		QVERIFY(m_sandbox.waitForRequests(1));
		QVERIFY(settleBackgroundRequests());

		QCOMPARE(clientLines(log), QStringList({line(LOG_INFO, "Tiplark: Checking for updates..."),
							line(LOG_INFO, "Tiplark: Current version: 1.0.0, Latest: " +
									       version.toString())}));
		QCOMPARE(available.count(), emitted ? 1 : 0);
		if (emitted) {
			QCOMPARE(available.first().at(0).toString(), version.toString());
			QCOMPARE(available.first().at(1).toString(), url);
		}
	}

	void updateAnswerWithoutVersion_data()
	{
		QTest::addColumn<QByteArray>("body");
		QTest::newRow("numeric version") << QByteArray("{\"version\":2,\"download_url\":\"https://d/any\"}");
		QTest::newRow("empty version") << QByteArray("{\"version\":\"\"}");
		QTest::newRow("wrapped in data") << QByteArray("{\"data\":{\"version\":\"2.0.0\"}}");
		QTest::newRow("empty body") << QByteArray();
	}

	void updateAnswerWithoutVersion()
	{
		QFETCH(QByteArray, body);
		m_sandbox.setFault("/extensions/details/obs", Fault::respond(200, body));
		QSignalSpy available(m_client.get(), &ApiClient::updateAvailable);
		LogCapture log;
		m_client->checkForUpdates();
		QVERIFY(m_sandbox.waitForRequests(1));
		QVERIFY(settleBackgroundRequests());
		QCOMPARE(clientLines(log), QStringList({line(LOG_INFO, "Tiplark: Checking for updates..."),
							line(LOG_WARNING, "Tiplark: No version in update response")}));
		QCOMPARE(available.count(), 0);
	}

	void failedUpdateCheckEmitsNothing_data()
	{
		QTest::addColumn<Fault>("fault");
		QTest::addColumn<QString>("text");
		QTest::newRow("404") << Fault::respond(404, "{\"version\":\"9.0.0\"}") << "";
		QTest::newRow("500") << Fault::respond(500, QByteArray()) << "";
		QTest::newRow("401 asks for no token") << Fault::respond(401, QByteArray()) << "";
		QTest::newRow("connection closed")
			<< Fault::close() << QString::fromUtf8(curl_easy_strerror(CURLE_GOT_NOTHING));
	}

	void failedUpdateCheckEmitsNothing()
	{
		QFETCH(Fault, fault);
		QFETCH(QString, text);
		m_sandbox.setFault("/extensions/details/obs", fault);
		QSignalSpy available(m_client.get(), &ApiClient::updateAvailable);
		QSignalSpy errors(m_client.get(), &ApiClient::apiError);
		LogCapture log;
		m_client->checkForUpdates();
		QVERIFY(m_sandbox.waitForRequests(1));
		QVERIFY(settleBackgroundRequests());
		QCOMPARE(clientLines(log), QStringList({line(LOG_INFO, "Tiplark: Checking for updates..."),
							line(LOG_WARNING, "Tiplark: Update check failed: " + text)}));
		QCOMPARE(available.count(), 0);
		QCOMPARE(errors.count(), 0);
		QCOMPARE(m_sandbox.requestCount(), 1);
	}

	void updateFromTheService()
	{
		// The sandbox's own answer, its addresses made absolute.
		signOut();
		QSignalSpy available(m_client.get(), &ApiClient::updateAvailable);
		m_client->checkForUpdates();
		QVERIFY(available.wait());
		QCOMPARE(available.first().at(0).toString(), QStringLiteral("1.1.0"));
		QCOMPARE(available.first().at(1).toString(),
			 m_sandbox.baseUrl() + "/downloads/tiplark-obs-plugin-1.1.0-linux.tar.gz");
	}

	void headerSetAsBuilt()
	{
		ObsHostStandIn::setVersionString(nullptr);
		const QMap<QString, QString> headers = m_client->createHeaders();
		QCOMPARE(headers.value("X-TIPLARK-PLATFORM-VERSION"), QString());
		QVERIFY(headers.contains("X-TIPLARK-PLATFORM-VERSION"));
		QCOMPARE(headers.value("User-Agent"), QStringLiteral("OBS/"));
		QCOMPARE(headers.value("Authorization"), QStringLiteral("Bearer ") + m_accessToken);
		signOut();
		QVERIFY(!m_client->createHeaders().contains("Authorization"));
	}
};

TIPLARK_TEST_MAIN(TestApiClient)
#include "test-api-client.moc"
