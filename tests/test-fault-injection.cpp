// Every service operation and the token endpoint against a misbehaving service: what the streamer sees,
// and that nothing kept (tokens.json, the dock's lists) is lost on the way.
#include "api/api-client.h"
#include "api-state.h"
#include "auth/auth-manager.h"
#include "auth/token-store.h"
#include "http/background-request.h"
#include "http/curl-helper.h"
#include "log-capture.h"
#include "oauth-endpoints.h"
#include "sandbox-server.h"
#include "service-operations.h"
#include "settle.h"
#include "sandbox-sign-in.h"
#include "test-main.h"
#include "token-file.h"
#include "api/service-poller.h"
#include "donation-pane.h"
#include "streamer-session.h"
#include "tiplark-dock.h"

#include <curl/curl.h>
#include <util/base.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QListWidget>
#include <QMutexLocker>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalSpy>
#include <QThread>
#include <QTimer>

#include <memory>

using Sandbox::Fault;
const QString NOT_ANSWERING = QStringLiteral("Tiplark nie odpowiada, ponawiam próby. Ostatnia odpowiedź o ");

namespace {
const QString P = QStringLiteral("[tiplark-obs-plugin] ");
const QString TOO_LARGE = QStringLiteral("Response body too large (over 16 MiB)");
const QString SMALL_TOO_LARGE = QStringLiteral("Response body too large (over 64 KiB)");

using Op = ServiceOperation;

// What happens to tokens.json.
enum class Tokens { Kept, Refreshed, Cleared };

QString curlText(CURLcode code)
{
	return QString::fromUtf8(curl_easy_strerror(code));
}

QString warn(const QString &text)
{
	return QStringLiteral("warning: ") + text;
}

QString info(const QString &text)
{
	return QStringLiteral("info: ") + text;
}

// What a healthy service's answer leads to (with the sandbox state that init() sets up).
QStringList healthy(Op op)
{
	switch (op) {
	case Op::FetchUserInfo:
		return {"userInfoReceived(Streamer)"};
	case Op::FetchModerationStatus:
		return {"moderationStatusReceived(true)"};
	case Op::EnableModeration:
		return {"moderationStatusReceived(true)", info("Tiplark: Moderation status set to enabled")};
	case Op::FetchPendingMessages:
		return {"pendingMessagesReceived(p-1)"};
	case Op::FetchDonations:
		return {"donationsReceived(d-1)"};
	case Op::SkipCurrentDonation:
		return {info("Tiplark: Donation skipped")};
	case Op::AcceptMessage:
		// The accepted message has left the pending queue.
		return {info("Tiplark: Message p-1 accepted"), "pendingMessagesReceived()"};
	case Op::CheckForUpdates:
		return {"updateAvailable(9.9.9)"};
	case Op::RefreshToken:
		return {info("Tiplark: Token refreshed")};
	case Op::DisableModeration:
	case Op::RejectMessage:
		break; // left out of the table, see operationUnderFault_data
	}
	return {};
}

// A 2xx answer whose body is no use: not the expected JSON, or no body at all. Not a failure: the
// readers fall back to their empty values.
QStringList useless(Op op)
{
	switch (op) {
	case Op::FetchUserInfo:
		return {warn("Tiplark: Username is empty in response")};
	case Op::FetchModerationStatus:
		return {"moderationStatusReceived(false)"};
	case Op::FetchPendingMessages:
		return {"pendingMessagesReceived()"};
	case Op::FetchDonations:
		return {"donationsReceived()"};
	case Op::AcceptMessage:
		// The decision was not made by the service, so the message is still pending.
		return {info("Tiplark: Message p-1 accepted"), "pendingMessagesReceived(p-1)"};
	case Op::CheckForUpdates:
		return {warn("Tiplark: No version in update response")};
	case Op::RefreshToken:
		// A dead sign-in: kept, it would be refreshed again with every rejected request.
		return {warn("Tiplark: Token refresh failed: Token response without access_token"),
			info("Tiplark: Logged out")};
	default:
		return healthy(op); // the answer is not read
	}
}

// A 2xx answer that is not JSON: a read keeps what the dock shows; an answer nobody reads passes.
QStringList unreadable(Op op)
{
	if (op == Op::FetchUserInfo || op == Op::FetchModerationStatus || op == Op::FetchPendingMessages ||
	    op == Op::FetchDonations)
		return {warn("Tiplark: Answer is not JSON, ignored (HTTP 200)")};
	return useless(op);
}

QStringList failed(Op op, int status, const QString &error)
{
	const QString apiError = QStringLiteral("apiError(HTTP %1: %2)").arg(status).arg(error);
	switch (op) {
	case Op::FetchUserInfo:
		return {warn("Tiplark: fetchUserInfo failed: " + error), apiError};
	case Op::CheckForUpdates:
		return {warn("Tiplark: Update check failed: " + error)};
	case Op::RefreshToken:
		return {warn("Tiplark: Token refresh failed: " + error),
			info(QStringLiteral("Tiplark: Keeping the sign-in (HTTP %1), the refresh is tried again on "
					    "the next rejection")
				     .arg(status))};
	default:
		return {apiError};
	}
}

// How a fault is set up in a row.
enum class Setup {
	Fault,    // the row's fault on the operation's path, once
	Refused,  // the sandbox is not listening
	Released, // held, checked to be in flight, then let go
};

QString ids(const QList<DonationMessage> &records)
{
	QStringList result;
	for (const DonationMessage &record : records)
		result.append(record.id);
	return result.join(QLatin1Char(','));
}

QJsonObject donation(const QString &id, const QString &nickname)
{
	return QJsonObject{{"id", id},     {"nickname", nickname}, {"message_content", "Hej"},
			   {"amount", 10}, {"currency", "PLN"},    {"created_at", "2024-05-01T12:30:00Z"}};
}

// The nicknames each row of a list shows, top to bottom.
QStringList shown(QListWidget *list)
{
	QStringList result;
	for (int row = 0; row < list->count(); ++row) {
		const auto labels = list->itemWidget(list->item(row))->findChildren<QLabel *>();
		result << (labels.isEmpty() ? QString() : labels.first()->text());
	}
	return result;
}

QStringList repeated(int count, const QString &text)
{
	QStringList result;
	for (int i = 0; i < count; ++i)
		result << text;
	return result;
}

StreamerSession *sessionOf(TiplarkDock &dock)
{
	return dock.findChild<StreamerSession *>();
}

void tick(TiplarkDock &dock)
{
	sessionOf(dock)->pollNow();
}
} // namespace

Q_DECLARE_METATYPE(Op)
Q_DECLARE_METATYPE(Fault)
Q_DECLARE_METATYPE(Setup)
Q_DECLARE_METATYPE(Tokens)

class TestFaultInjection : public QObject {
	Q_OBJECT

	Sandbox::Server m_sandbox;
	QByteArray m_refreshToken;

	void setList(const QString &key, const QJsonArray &list) { m_sandbox.state().set(key, list.toVariantList()); }

	void signIn()
	{
		m_refreshToken = saveSandboxSignIn(m_sandbox, QDateTime::currentDateTime().addSecs(3600)).refreshToken;
	}

	// The sandbox refuses connections for as long as body runs.
	template<typename Body> void whileRefusing(Body body)
	{
		const quint16 port = m_sandbox.port();
		m_sandbox.stop();
		body();
		QVERIFY(m_sandbox.start(port));
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
		ObsHostStandIn::setVersionString("31.1.1");
		m_sandbox.state().set(Sandbox::ApiState::USER_NAME, "Streamer");
		m_sandbox.state().set(Sandbox::ApiState::MODERATION_ENABLED, true);
		m_sandbox.state().set(Sandbox::ApiState::UPDATE, QVariantMap{{"version", "9.9.9"}});
		setList(Sandbox::ApiState::PENDING, {donation("p-1", "Ola")});
		setList(Sandbox::ApiState::DONATIONS, {donation("d-1", "Tomek")});
		signIn();
	}

	void cleanup()
	{
		m_sandbox.releaseHeld();
		QVERIFY(settleBackgroundRequests());
	}

	void cleanupTestCase() { m_sandbox.stop(); }

	void operationUnderFault_data()
	{
		QTest::addColumn<Op>("op");
		QTest::addColumn<Setup>("setup");
		QTest::addColumn<Fault>("fault");
		QTest::addColumn<QStringList>("seen");
		QTest::addColumn<Tokens>("tokens");

		const int port = m_sandbox.port();
		for (const ServiceOperationInfo &o : SERVICE_OPERATIONS) {
			const Op op = o.op;
			// Their twins take the same path through the same failure handling.
			if (op == Op::DisableModeration || op == Op::RejectMessage)
				continue;
			const bool refresh = op == Op::RefreshToken;
			const Tokens afterSuccess = refresh ? Tokens::Refreshed : Tokens::Kept;
			const Tokens afterUseless = refresh ? Tokens::Cleared : Tokens::Kept;
			auto row = [&](const char *fault) -> QTestData & {
				return QTest::addRow("%s: %s", o.name, fault) << op;
			};
			row("connection refused") << Setup::Refused << Fault()
						  << failed(op, -1, curlText(CURLE_COULDNT_CONNECT)) << Tokens::Kept;
			// Not answered until let go; then the sandbox answers 503.
			row("accepted, not answered")
				<< Setup::Released << Fault::hold() << failed(op, 503, QString()) << Tokens::Kept;
			row("closed without an answer") << Setup::Fault << Fault::close()
							<< failed(op, -1, curlText(CURLE_GOT_NOTHING)) << Tokens::Kept;
			row("closed mid-body")
				<< Setup::Fault
				<< Fault::raw("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: "
					      "400\r\n\r\n{\"data\": [{\"id\": \"x\", \"nickname\": \"Ha")
				<< failed(op, -1, curlText(CURLE_PARTIAL_FILE)) << Tokens::Kept;
			for (int status : {429, 500, 502, 503})
				row(qPrintable(QStringLiteral("status %1").arg(status)))
					<< Setup::Fault << Fault::respond(status, "{\"error\":\"busy\"}")
					<< failed(op, status, QString()) << Tokens::Kept;
			row("200 with HTML")
				<< Setup::Fault
				<< Fault::respond(200, "<html><body>Maintenance</body></html>", "text/html")
				<< unreadable(op) << afterUseless;
			row("200 with an empty body")
				<< Setup::Fault << Fault::respond(200, "") << useless(op) << afterUseless;
			row("200 with truncated JSON")
				<< Setup::Fault << Fault::malformed() << unreadable(op) << afterUseless;
			row("200 with wrong member types")
				<< Setup::Fault
				<< Fault::respond(200, R"({"data":{"name":7,"enabled":"true","id":[]},"version":9,)"
						       R"("access_token":7,"refresh_token":[]})")
				<< useless(op) << afterUseless;
			// The user and the moderation state are small by nature, with a bound of their own.
			const bool small = op == Op::FetchUserInfo || op == Op::FetchModerationStatus;
			row("200 with 20 MiB") << Setup::Fault << Fault::large(20 * 1024 * 1024)
					       << failed(op, -1, small ? SMALL_TOO_LARGE : TOO_LARGE) << Tokens::Kept;
			// The answer dripped in, a few bytes every 40 ms: slow, but whole.
			row("slow drip") << Setup::Released << Fault() << healthy(op) << afterSuccess;
			// 307 keeps method and body; the second request finds the fault spent. The token endpoint's
			// form is never sent on.
			row("redirect to a loopback path") << Setup::Fault << Fault::redirect(o.path + "?moved=1", 307)
							   << (refresh ? failed(op, 307, QString()) : healthy(op))
							   << (refresh ? Tokens::Kept : afterSuccess);
			row("redirect to ftp")
				<< Setup::Fault
				<< Fault::redirect("ftp://127.0.0.1:" + QByteArray::number(port) + o.path)
				<< (refresh ? failed(op, 302, QString())
					    : failed(op, -1, curlText(CURLE_UNSUPPORTED_PROTOCOL)))
				<< Tokens::Kept;
		}
	}

	void operationUnderFault()
	{
		QFETCH(Op, op);
		QFETCH(Setup, setup);
		QFETCH(Fault, fault);
		QFETCH(QStringList, seen);
		QFETCH(Tokens, tokens);

		const ServiceOperationInfo &operation = serviceOperation(op);
		const QByteArray tokensBefore = readFile(tokenPath());
		AuthManager auth(sandboxAddresses(m_sandbox));
		ApiClient client(&auth, sandboxAddresses(m_sandbox));

		QStringList events;
		connect(&client, &ApiClient::userInfoReceived, this,
			[&](const QString &name) { events << "userInfoReceived(" + name + ")"; });
		connect(&client, &ApiClient::moderationStatusReceived, this, [&](bool enabled) {
			events << QStringLiteral("moderationStatusReceived(%1)").arg(enabled ? "true" : "false");
		});
		connect(&client, &ApiClient::pendingMessagesReceived, this, [&](const ApiEnvelope::ListAnswer &m) {
			events << "pendingMessagesReceived(" + ids(m.shown) + ")";
		});
		connect(&client, &ApiClient::donationsReceived, this,
			[&](const ApiEnvelope::ListAnswer &d) { events << "donationsReceived(" + ids(d.shown) + ")"; });
		connect(&client, &ApiClient::apiError, this,
			[&](const QString &e) { events << "apiError(" + e + ")"; });
		connect(&client, &ApiClient::updateAvailable, this,
			[&](const QString &version, const QString &) { events << "updateAvailable(" + version + ")"; });

		auto start = [&] {
			startServiceOperation(op, client, auth);
		};

		LogCapture log;
		if (setup == Setup::Refused) {
			whileRefusing([&] {
				start();
				QVERIFY(settleBackgroundRequests());
			});
		} else if (setup == Setup::Released && fault.kind == Fault::Kind::Hold) {
			m_sandbox.setFault(operation.path, fault.once());
			start();
			QVERIFY(m_sandbox.waitForRequests(1));
			QThread::msleep(100);
			QCoreApplication::processEvents();
			// Nothing yet: no answer, no signal, the request still counted.
			QCOMPARE(events, QStringList());
			QCOMPARE(backgroundRequestsInFlight(), 1);
			m_sandbox.releaseHeld();
			QVERIFY(settleBackgroundRequests());
		} else if (setup == Setup::Released) {
			// The drip: what the endpoint would answer, written a few bytes at a time.
			const QByteArray path = operation.path;
			const HttpResponse model =
				op == Op::RefreshToken
					? CurlHelper::post(
						  m_sandbox.baseUrl() + "/oauth/token",
						  "grant_type=refresh_token&client_id=" +
							  QByteArray(Sandbox::OAuth::CLIENT_ID) +
							  "&refresh_token=" + m_refreshToken.toPercentEncoding(),
						  {{"Content-Type", "application/x-www-form-urlencoded"}})
					: HttpResponse();
			QByteArray body;
			switch (op) {
			case Op::FetchUserInfo:
				body = R"({"data":{"id":"u-0001","name":"Streamer"}})";
				break;
			case Op::FetchModerationStatus:
			case Op::EnableModeration:
				body = R"({"data":{"enabled":true}})";
				break;
			case Op::FetchPendingMessages:
				body = R"({"data":[{"id":"p-1","nickname":"Ola"}]})";
				break;
			case Op::FetchDonations:
				body = R"({"data":[{"id":"d-1","nickname":"Tomek"}]})";
				break;
			case Op::AcceptMessage:
				body = R"({"data":{"id":"p-1","action":"accept"}})";
				// The service's own effect of the decision, which the dripped answer stands in for.
				setList(Sandbox::ApiState::PENDING, {});
				break;
			case Op::CheckForUpdates:
				body = R"({"version":"9.9.9"})";
				break;
			case Op::RefreshToken:
				// A refresh the sandbox made (its refresh token stays valid, no rotation).
				QCOMPARE(model.statusCode, 200);
				body = model.body;
				break;
			default:
				body = R"({"data":{}})";
			}
			m_sandbox.clearRequests();
			m_sandbox.setFault(path, Fault::drip(body, 7, 40).forMethod(operation.method).once());
			start();
			QVERIFY(settleBackgroundRequests());
		} else {
			m_sandbox.setFault(operation.path, fault.forMethod(operation.method).once());
			start();
			QVERIFY(settleBackgroundRequests());
		}

		// What the streamer sees: the signals, and the plug-in's own warnings and outcome lines.
		for (const auto &line : log.lines()) {
			const QString text = line.text.mid(P.size());
			if (text.startsWith("Tiplark HTTP: ") || !text.startsWith("Tiplark: "))
				continue;
			if (line.level == LOG_WARNING)
				events << warn(text);
			else if (line.level == LOG_INFO &&
				 (text.startsWith("Tiplark: Moderation status set") ||
				  text == "Tiplark: Donation skipped" || text.startsWith("Tiplark: Message ") ||
				  text == "Tiplark: Token refreshed" ||
				  text.startsWith("Tiplark: Keeping the sign-in") || text == "Tiplark: Logged out"))
				events << info(text);
		}
		// Signals and lines come from different places; compare each in its own order.
		QStringList expectedSignals, expectedLines, actualSignals, actualLines;
		for (const QString &e : seen)
			(e.startsWith("warning: ") || e.startsWith("info: ") ? expectedLines : expectedSignals) << e;
		for (const QString &e : events)
			(e.startsWith("warning: ") || e.startsWith("info: ") ? actualLines : actualSignals) << e;
		QCOMPARE(actualSignals, expectedSignals);
		QCOMPARE(actualLines, expectedLines);

		// What is kept: still signed in, and tokens.json as it was unless a refresh replaced it or an
		// answer without an access token ended the sign-in.
		QCOMPARE(auth.isAuthenticated(), tokens != Tokens::Cleared);
		const QByteArray tokensAfter = readFile(tokenPath());
		if (tokens == Tokens::Cleared) {
			QVERIFY(!QFile::exists(tokenPath()));
		} else if (tokens == Tokens::Kept) {
			QCOMPARE(tokensAfter, tokensBefore);
		} else {
			const QJsonObject saved = QJsonDocument::fromJson(tokensAfter).object();
			QCOMPARE(saved["access_token"].toString(), auth.accessToken());
			QVERIFY(Sandbox::OAuth::isAccessTokenValid(m_sandbox.state(), auth.accessToken().toUtf8()));
		}
		QCOMPARE(backgroundRequestsInFlight(), 0);
		for (auto read : {ApiClient::Read::UserInfo, ApiClient::Read::ModerationStatus,
				  ApiClient::Read::PendingMessages, ApiClient::Read::Donations})
			QCOMPARE(client.inFlight(read), 0);

		// And the service, healthy again, is answered as ever.
		m_sandbox.clearFaults();
		init();
		events.clear();
		log.clear();
		AuthManager freshAuth(sandboxAddresses(m_sandbox));
		ApiClient freshClient(&freshAuth, sandboxAddresses(m_sandbox));
		QSignalSpy donations(&freshClient, &ApiClient::donationsReceived);
		freshClient.fetchDonations();
		QVERIFY(settleBackgroundRequests());
		QCOMPARE(donations.size(), 1);
		QCOMPARE(ids(donations.first().first().value<ApiEnvelope::ListAnswer>().shown), QStringLiteral("d-1"));
	}

private:
	// A dock signed in, with moderation on, both lists filled by a first healthy tick.
	std::unique_ptr<TiplarkDock> filledDock()
	{
		auto *session = new StreamerSession(sandboxAddresses(m_sandbox));
		auto dock = std::make_unique<TiplarkDock>(session);
		// The session goes with the dock.
		session->setParent(dock.get());
		session->start();
		if (!settleBackgroundRequests())
			return nullptr;
		tick(*dock);
		if (!settleBackgroundRequests())
			return nullptr;
		return dock;
	}

	static QStringList pendingShown(TiplarkDock *dock) { return shown(dock->pendingPane()->list()); }

	static QStringList donationsShown(TiplarkDock *dock) { return shown(dock->donationsPane()->list()); }

	// The dock's line about the service's state; empty while hidden.
	static QString connectionLine(QWidget *dock)
	{
		// The dock's lines sit on its scrolled content, beside the panes.
		const QWidget *content = dock->findChild<QScrollArea *>()->widget();
		for (auto *label : content->findChildren<QLabel *>(QString(), Qt::FindDirectChildrenOnly))
			if (label->text().startsWith("Tiplark ") && !label->isHidden())
				return label->text();
		return QString();
	}

	static QStringList apiErrors(const LogCapture &log)
	{
		QStringList result;
		for (const QString &text : log.texts(LOG_WARNING))
			if (text.startsWith(P + "Tiplark API error: "))
				result << text.mid(P.size());
		return result;
	}

private slots:
	// A service that accepts connections and never answers: ticks go on, but each kind of read has at
	// most one request out; the pool does not fill up, and nothing bursts out when the service is back.
	void hangingServiceGetsOneRequestOfEachKind()
	{
		auto dock = filledDock();
		QVERIFY(dock);
		QCOMPARE(pendingShown(dock.get()), QStringList{"Ola"});
		QCOMPARE(donationsShown(dock.get()), QStringList{"Tomek"});
		const QByteArray tokensBefore = readFile(tokenPath());
		auto *client = dock->findChild<ApiClient *>();

		const QList<QByteArray> polled = {"/v1/moderation", "/v1/moderation/moderate/pending-messages",
						  "/v1/donations"};
		for (const QByteArray &path : polled)
			m_sandbox.setFault(path, Fault::hold());
		m_sandbox.clearRequests();
		LogCapture log;
		const int ticks = 6;
		for (int i = 0; i < ticks; ++i) {
			tick(*dock);
			QCoreApplication::processEvents();
		}
		QVERIFY(m_sandbox.waitForRequests(3));
		QThread::msleep(200);
		QCOMPARE(m_sandbox.requestCount(), 3);
		for (const QByteArray &path : polled)
			QCOMPARE(m_sandbox.requests(path).size(), 1);
		QCOMPARE(backgroundRequestsInFlight(), 3);
		QCOMPARE(client->inFlight(ApiClient::Read::ModerationStatus), 1);
		QCOMPARE(client->inFlight(ApiClient::Read::PendingMessages), 1);
		QCOMPARE(client->inFlight(ApiClient::Read::Donations), 1);
		QVERIFY(connectionLine(dock.get()).startsWith(NOT_ANSWERING));
		// Each later tick passed over each kind once, quietly.
		for (const char *what : {"moderation status", "pending messages", "donations"})
			QCOMPARE(log.count(P +
					   QStringLiteral("Tiplark: Previous %1 request still unanswered, not asking "
							  "again this tick")
						   .arg(what)),
				 ticks - 1);
		QCOMPARE(log.texts(LOG_INFO).filter("Tiplark: Previous").size(), 0);
		QCOMPARE(pendingShown(dock.get()), QStringList{"Ola"});
		QCOMPARE(donationsShown(dock.get()), QStringList{"Tomek"});

		// The held requests are let go (503): one error each, the lists stay.
		m_sandbox.clearFaults();
		m_sandbox.releaseHeld();
		QVERIFY(settleBackgroundRequests());
		QCOMPARE(apiErrors(log), repeated(3, "Tiplark API error: HTTP 503: "));
		QCOMPARE(pendingShown(dock.get()), QStringList{"Ola"});
		QCOMPARE(donationsShown(dock.get()), QStringList{"Tomek"});
		QCOMPARE(m_sandbox.requestCount(), 3);

		// The service is back: the next tick asks for everything again and shows the news.
		Sandbox::ApiState::receiveDonation(m_sandbox.state(), donation("p-2", "Ala"));
		m_sandbox.clearRequests();
		tick(*dock);
		QVERIFY(settleBackgroundRequests());
		QCOMPARE(m_sandbox.requestCount(), 3);
		QCOMPARE(pendingShown(dock.get()), (QStringList{"Ola", "Ala"}));
		QCOMPARE(connectionLine(dock.get()), QString());
		QCOMPARE(readFile(tokenPath()), tokensBefore);
	}

	void dockKeepsItsLists_data()
	{
		QTest::addColumn<Fault>("fault");
		QTest::addColumn<bool>("refused");
		QTest::addColumn<QString>("error");
		QTest::addColumn<QString>("line"); // how the dock's line begins; empty: no line

		QTest::newRow("connection refused")
			<< Fault() << true << "HTTP -1: " + curlText(CURLE_COULDNT_CONNECT) << NOT_ANSWERING;
		QTest::newRow("closed without an answer")
			<< Fault::close() << false << "HTTP -1: " + curlText(CURLE_GOT_NOTHING) << NOT_ANSWERING;
		QTest::newRow("closed mid-body")
			<< Fault::raw("HTTP/1.1 200 OK\r\nContent-Length: 300\r\n\r\n{\"data\": [") << false
			<< "HTTP -1: " + curlText(CURLE_PARTIAL_FILE) << NOT_ANSWERING;
		// Refused reads freeze the lists as well: the line says why, in plain words.
		const QMap<int, QString> refusals{{401, "Tiplark nie przyjmuje logowania"},
						  {403, "Tiplark odmawia dostępu"},
						  {404, "Tiplark nie zna tego zapytania"},
						  {429, "Tiplark prosi o wolniejsze zapytania"}};
		for (int status : {401, 403, 404, 429, 500, 502, 503})
			QTest::addRow("status %d", status)
				<< Fault::respond(status, "{}") << false << QStringLiteral("HTTP %1: ").arg(status)
				<< refusals.value(status, NOT_ANSWERING);
		QTest::newRow("20 MiB")
			<< Fault::large(20 * 1024 * 1024) << false << "HTTP -1: " + TOO_LARGE << NOT_ANSWERING;
		QTest::newRow("redirect to ftp") << Fault::redirect("ftp://127.0.0.1/v1/donations") << false
						 << "HTTP -1: " + curlText(CURLE_UNSUPPORTED_PROTOCOL) << NOT_ANSWERING;
	}

	// Failed reads change nothing on screen: the last good lists stay until a good answer replaces them.
	void dockKeepsItsLists()
	{
		QFETCH(Fault, fault);
		QFETCH(bool, refused);
		QFETCH(QString, error);
		QFETCH(QString, line);

		auto dock = filledDock();
		QVERIFY(dock);
		const QByteArray tokensBefore = readFile(tokenPath());
		LogCapture log;
		int ticks = 1;
		if (refused) {
			whileRefusing([&] {
				tick(*dock);
				QVERIFY(settleBackgroundRequests());
			});
		} else {
			for (const char *path :
			     {"/v1/moderation", "/v1/moderation/moderate/pending-messages", "/v1/donations"})
				m_sandbox.setFault(path, fault);
			// A 401 asks for a new token; with the token endpoint in trouble the sign-in is kept. The first
			// 401 of a list only does that, the line comes with the second.
			m_sandbox.setFault("/oauth/token", Fault::respond(503, "{}"));
			ticks = fault.status == 401 ? 2 : 1;
			for (int i = 0; i < ticks; ++i) {
				tick(*dock);
				QVERIFY(settleBackgroundRequests());
			}
		}
		QStringList expected = repeated(3 * ticks, "Tiplark API error: " + error);
		// The moderation state's answer has a smaller bound than the lists'.
		if (fault.kind == Fault::Kind::Large)
			expected.replace(0, "Tiplark API error: HTTP -1: " + SMALL_TOO_LARGE);
		QStringList errors = apiErrors(log);
		errors.sort();
		expected.sort();
		QCOMPARE(errors, expected);
		QCOMPARE(pendingShown(dock.get()), QStringList{"Ola"});
		QCOMPARE(donationsShown(dock.get()), QStringList{"Tomek"});
		QVERIFY2(connectionLine(dock.get()).startsWith(line), qPrintable(connectionLine(dock.get())));
		QVERIFY(sessionOf(*dock)->polling());
		QCOMPARE(readFile(tokenPath()), tokensBefore);

		m_sandbox.clearFaults();
		Sandbox::ApiState::receiveDonation(m_sandbox.state(), donation("p-2", "Ala"));
		tick(*dock);
		QVERIFY(settleBackgroundRequests());
		QCOMPARE(pendingShown(dock.get()), (QStringList{"Ola", "Ala"}));
		QCOMPARE(donationsShown(dock.get()), QStringList{"Tomek"});
		QCOMPARE(connectionLine(dock.get()), QString());
	}

	// A 200 whose body is not JSON (a maintenance page) says nothing about the list: it stays as shown.
	void unreadableAnswerKeepsTheList()
	{
		auto dock = filledDock();
		QVERIFY(dock);
		m_sandbox.setFault("/v1/donations",
				   Fault::respond(200, "<html>Maintenance</html>", "text/html").once());
		tick(*dock);
		QVERIFY(settleBackgroundRequests());
		QCOMPARE(donationsShown(dock.get()), QStringList{"Tomek"});
		QCOMPARE(pendingShown(dock.get()), QStringList{"Ola"});
		QVERIFY(connectionLine(dock.get()).startsWith(NOT_ANSWERING));
		tick(*dock);
		QVERIFY(settleBackgroundRequests());
		QCOMPARE(donationsShown(dock.get()), QStringList{"Tomek"});
		QCOMPARE(connectionLine(dock.get()), QString());
	}

	// Every token expires at once and the service rotates refresh tokens: the poll's three 401s lead to
	// one refresh, the new tokens are saved, and the next tick is answered.
	void unauthorizedStormDuringAPoll()
	{
		Sandbox::OAuth::setSwitch(m_sandbox.state(), Sandbox::OAuth::ROTATE_REFRESH_TOKENS, true);
		auto dock = filledDock();
		QVERIFY(dock);
		Sandbox::OAuth::expireAccessTokens(m_sandbox.state());
		m_sandbox.clearRequests();
		LogCapture log;
		tick(*dock);
		QVERIFY(settleBackgroundRequests());

		QCOMPARE(apiErrors(log), repeated(3, "Tiplark API error: HTTP 401: "));
		QCOMPARE(m_sandbox.requests("/oauth/token").size(), 1);
		QVERIFY(log.contains(LOG_INFO, P + "Tiplark: Token refreshed"));
		const QJsonObject saved = QJsonDocument::fromJson(readFile(tokenPath())).object();
		QVERIFY(Sandbox::OAuth::isAccessTokenValid(m_sandbox.state(),
							   saved["access_token"].toString().toUtf8()));
		QVERIFY(Sandbox::OAuth::isRefreshTokenValid(m_sandbox.state(),
							    saved["refresh_token"].toString().toUtf8()));
		QCOMPARE(pendingShown(dock.get()), QStringList{"Ola"});
		QCOMPARE(donationsShown(dock.get()), QStringList{"Tomek"});
		QCOMPARE(connectionLine(dock.get()), QString()); // mended by the refresh: no trouble to report

		Sandbox::ApiState::receiveDonation(m_sandbox.state(), donation("p-2", "Ala"));
		log.clear();
		tick(*dock);
		QVERIFY(settleBackgroundRequests());
		QCOMPARE(apiErrors(log), QStringList());
		QCOMPARE(pendingShown(dock.get()), (QStringList{"Ola", "Ala"}));
	}
};

TIPLARK_TEST_MAIN(TestFaultInjection)
#include "test-fault-injection.moc"
