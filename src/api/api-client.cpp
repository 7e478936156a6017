#include "api/api-client.h"

#include "api/api-envelope.h"
#include "api/api-requests.h"
#include "api/update-info.h"
#include "auth/auth-manager.h"
#include "http/background-request.h"
#include "http/curl-helper.h"
#include "log-text.h"
#include "plugin-support.h"

#include <obs.h>

#include <QJsonObject>

#include <algorithm>

const QString ApiClient::PLATFORM_NAME = QStringLiteral("OBS");
const QString ApiClient::PLUGIN_VERSION_STR = QString::fromUtf8(PLUGIN_VERSION);

namespace {
const int LOGGED_BODY_BYTES = 500;
// The user and the moderation state are a few members each: a larger answer is no such answer, and is
// not taken in (the transport's failure line says so).
const qsizetype SMALL_ANSWER_BYTES = 64 * 1024;

bool succeeded(const HttpResponse &response)
{
	return response.statusCode >= 200 && response.statusCode <= 299 && response.error.isEmpty();
}

QString obsVersion()
{
	const char *version = obs_get_version_string();
	return version ? QString::fromUtf8(version) : QString();
}

// The access token a request went out with, empty when it had none.
QString bearerToken(const QMap<QString, QString> &headers)
{
	const QString authorization = headers.value(QStringLiteral("Authorization"));
	return authorization.mid(authorization.indexOf(QLatin1Char(' ')) + 1);
}

} // namespace

ApiClient::ApiClient(AuthManager *authManager, const ServiceAddresses &addresses, QObject *parent)
	: QObject(parent),
	  m_authManager(authManager),
	  m_apiBaseUrl(addresses.apiBaseUrl)
{
}

int ApiClient::inFlight(Read read) const
{
	return m_inFlight[size_t(read)];
}

void ApiClient::endSession()
{
	++m_session;
}

void ApiClient::setListLimits(int shown, int recent)
{
	m_shownLimit = std::max(0, shown);
	m_recentLimit = std::max(0, recent);
}

void ApiClient::setKnownIds(Read read, const QSet<QString> &ids)
{
	m_knownIds[size_t(read)] = ids;
}

void ApiClient::start(const Read *read, Work work, Done done, std::shared_ptr<const bool> readOnWorker)
{
	const quint64 session = m_session;
	if (!read) {
		runInBackground(this, std::move(work), [this, session, done](const HttpResponse &response) {
			if (session == m_session)
				done(response);
		});
		return;
	}
	const Read kind = *read;
	const quint64 change = m_changes[size_t(kind)];
	const bool started = runInBackground(
		this, std::move(work),
		[this, kind, session, change, done, readOnWorker](const HttpResponse &response) {
			--m_inFlight[size_t(kind)];
			if (session != m_session)
				return;
			if (change != m_changes[size_t(kind)]) {
				obs_log(LOG_DEBUG, "Tiplark: Answer sent before the latest change, dropped");
				return;
			}
			const bool readable = readOnWorker ? *readOnWorker : ApiEnvelope::isReadable(response.body);
			if (!reportHealth(kind, response, readable))
				return;
			done(response);
		},
		RequestLane::Read);
	if (started)
		++m_inFlight[size_t(kind)];
}

bool ApiClient::reportHealth(Read read, const HttpResponse &response, bool readable)
{
	if (!succeeded(response)) {
		if (response.statusCode == -1 || response.statusCode >= 500)
			emit serviceFailing(read);
		else if (response.statusCode > 0)
			emit serviceRefused(read, response.statusCode);
		return true;
	}
	// Read as empty, such an answer (a proxy's error page, a cut-off body) would empty a list on screen.
	if (!readable) {
		obs_log(LOG_WARNING, "Tiplark: Answer is not JSON, ignored (HTTP %d)", response.statusCode);
		emit serviceFailing(read);
		return false;
	}
	emit serviceAnswered(read);
	return true;
}

void ApiClient::runOperation(const Read *read, const QMap<QString, QString> &headers, Work work, Done onSuccess,
			     std::shared_ptr<const bool> readOnWorker)
{
	const QString token = bearerToken(headers);
	start(
		read, std::move(work),
		[this, token, onSuccess](const HttpResponse &response) {
			if (succeeded(response))
				onSuccess(response);
			else
				handleNetworkError(response, token);
		},
		std::move(readOnWorker));
}

void ApiClient::runAction(Action action, const QString &subject, const QMap<QString, QString> &headers, Work work,
			  Done onSuccess)
{
	const QString token = bearerToken(headers);
	start(nullptr, std::move(work), [this, action, subject, token, onSuccess](const HttpResponse &response) {
		const bool ok = succeeded(response);
		if (ok)
			onSuccess(response);
		else
			handleNetworkError(response, token);
		emit actionFinished(action, subject, ok);
	});
}

// The two lists (pending messages, donations) are read alike and differ only in path and signal. A list
// answer can be large (the service does not page): it is read on the worker thread, and only the records
// the session can use cross to the GUI thread.
void ApiClient::fetchDonationList(Read read, const QString &path, ApiEnvelope::Keep keep,
				  void (ApiClient::*received)(const ApiEnvelope::ListAnswer &))
{
	const auto parsed = std::make_shared<ApiEnvelope::ListAnswer>();
	const std::shared_ptr<const bool> readable(parsed, &parsed->readable);
	const QString url = m_apiBaseUrl + path;
	const QMap<QString, QString> headers = createHeaders();
	const int shown = m_shownLimit;
	const int recent = m_recentLimit;
	const QSet<QString> known = m_knownIds[size_t(read)];
	runOperation(
		&read, headers,
		[url, headers, parsed, shown, keep, recent, known] {
			HttpResponse response = CurlHelper::get(url, headers);
			if (succeeded(response)) {
				*parsed = ApiEnvelope::readList(response.body, shown, keep, recent, known);
				// Read here: the GUI thread needs neither the body nor its memory.
				response.body = QByteArray();
			}
			return response;
		},
		[this, received, parsed](const HttpResponse &) { emit(this->*received)(*parsed); }, readable);
}

QMap<QString, QString> ApiClient::createHeaders()
{
	const QString version = obsVersion();
	QMap<QString, QString> headers;
	headers.insert(QStringLiteral("Content-Type"), QStringLiteral("application/json"));
	headers.insert(QStringLiteral("Accept"), QStringLiteral("application/json"));
	headers.insert(QStringLiteral("X-TIPLARK-PLATFORM"), PLATFORM_NAME);
	headers.insert(QStringLiteral("X-TIPLARK-PLATFORM-VERSION"), version);
	headers.insert(QStringLiteral("X-TIPLARK-PLATFORM-PLUGIN-VERSION"), PLUGIN_VERSION_STR);
	// Replaces the transport's own user agent: a caller's header line wins over libcurl's option.
	headers.insert(QStringLiteral("User-Agent"), QStringLiteral("OBS/%1").arg(version));
	const QString token = m_authManager->accessToken();
	if (!token.isEmpty())
		headers.insert(QStringLiteral("Authorization"), QStringLiteral("Bearer %1").arg(token));
	return headers;
}

bool ApiClient::handleNetworkError(const HttpResponse &response, const QString &rejectedToken)
{
	// The failed request is not repeated here; the next one goes out with the refreshed token. A 401 for
	// a token that a refresh has replaced meanwhile needs no refresh of its own: with rotating refresh
	// tokens it would even spend the new one.
	const QString current = m_authManager->accessToken();
	const bool tokenAlreadyReplaced = !rejectedToken.isEmpty() && rejectedToken != current;
	if (response.statusCode == 401 && !tokenAlreadyReplaced)
		m_authManager->refreshAccessToken();
	emit apiError(QStringLiteral("HTTP %1: %2").arg(QString::number(response.statusCode), response.error));
	return response.statusCode == 401 && tokenAlreadyReplaced && !current.isEmpty();
}

void ApiClient::fetchUserInfo()
{
	struct Parsed {
		bool readable = true;
		QByteArray logged;
		QString name;
	};
	const auto parsed = std::make_shared<Parsed>();
	const QString url = m_apiBaseUrl + QStringLiteral("/v1/me");
	const QMap<QString, QString> headers = createHeaders();
	const QString token = bearerToken(headers);
	obs_log(LOG_INFO, "Tiplark: Fetching user info from %s", url.toUtf8().constData());
	const Read read = Read::UserInfo;
	start(
		&read,
		[url, headers, parsed] {
			HttpResponse response = CurlHelper::get(url, headers, SMALL_ANSWER_BYTES);
			if (succeeded(response)) {
				parsed->logged = response.body.left(LOGGED_BODY_BYTES);
				parsed->name = ApiEnvelope::objectPayload(response.body, &parsed->readable)
						       .value(QLatin1String("name"))
						       .toString();
				response.body = QByteArray();
			}
			return response;
		},
		[this, token, parsed](const HttpResponse &response) {
			if (!succeeded(response)) {
				obs_log(LOG_WARNING, "Tiplark: fetchUserInfo failed: %s",
					response.error.toUtf8().constData());
				// Refused for a token that a refresh replaced while this read was out: the name is
				// asked for again with the new token now, not a tick later.
				if (handleNetworkError(response, token))
					fetchUserInfo();
				return;
			}
			obs_log(LOG_DEBUG, "Tiplark: User info response: %s", logText(parsed->logged).constData());
			obs_log(LOG_INFO, "Tiplark: Parsed username: '%s'", logText(parsed->name).constData());
			if (parsed->name.isEmpty()) {
				obs_log(LOG_WARNING, "Tiplark: Username is empty in response");
				return;
			}
			emit userInfoReceived(parsed->name);
		},
		std::shared_ptr<const bool>(parsed, &parsed->readable));
}

void ApiClient::fetchModerationStatus()
{
	struct Parsed {
		bool readable = true;
		bool enabled = false;
	};
	const auto parsed = std::make_shared<Parsed>();
	const QString url = m_apiBaseUrl + QStringLiteral("/v1/moderation");
	const QMap<QString, QString> headers = createHeaders();
	const Read read = Read::ModerationStatus;
	runOperation(
		&read, headers,
		[url, headers, parsed] {
			HttpResponse response = CurlHelper::get(url, headers, SMALL_ANSWER_BYTES);
			if (succeeded(response)) {
				parsed->enabled = ApiEnvelope::objectPayload(response.body, &parsed->readable)
							  .value(QLatin1String("enabled"))
							  .toBool(false);
				response.body = QByteArray();
			}
			return response;
		},
		[this, parsed](const HttpResponse &) { emit moderationStatusReceived(parsed->enabled); },
		std::shared_ptr<const bool>(parsed, &parsed->readable));
}

void ApiClient::setModerationStatus(bool enabled)
{
	const QString url = m_apiBaseUrl + QStringLiteral("/v1/moderation");
	const QMap<QString, QString> headers = createHeaders();
	const QByteArray body = ApiRequests::moderationStatusBody(enabled);
	runAction(
		Action::ModerationSwitch, enabled ? QStringLiteral("on") : QStringLiteral("off"), headers,
		[url, headers, body] { return CurlHelper::patch(url, body, headers); },
		[this, enabled](const HttpResponse &) {
			// A status read sent before this answer may tell the state before the switch.
			++m_changes[size_t(Read::ModerationStatus)];
			// The answer is not read: the value sent is the value now in force.
			emit moderationStatusReceived(enabled);
			obs_log(LOG_INFO, "Tiplark: Moderation status set to %s", enabled ? "enabled" : "disabled");
		});
}

void ApiClient::fetchPendingMessages()
{
	// A queue: the messages that have waited longest are the ones shown.
	fetchDonationList(Read::PendingMessages, QStringLiteral("/v1/moderation/moderate/pending-messages"),
			  ApiEnvelope::Keep::Oldest, &ApiClient::pendingMessagesReceived);
}

void ApiClient::fetchDonations()
{
	fetchDonationList(Read::Donations, QStringLiteral("/v1/donations"), ApiEnvelope::Keep::Newest,
			  &ApiClient::donationsReceived);
}

void ApiClient::skipCurrentDonation()
{
	const QString url = m_apiBaseUrl + QStringLiteral("/v1/donations/queue/skip");
	const QMap<QString, QString> headers = createHeaders();
	runAction(
		Action::Skip, QString(), headers,
		[url, headers] {
			// One press skips one alert: a skip sent twice would drop the next donor's as well.
			return CurlHelper::post(url, QByteArrayLiteral("{}"), headers, CurlHelper::Resend::Never);
		},
		[](const HttpResponse &) { obs_log(LOG_INFO, "Tiplark: Donation skipped"); });
}

void ApiClient::moderateMessage(const QString &messageId, bool accept)
{
	const QString url = m_apiBaseUrl + ApiRequests::moderationPath(messageId);
	const QMap<QString, QString> headers = createHeaders();
	const QByteArray body = ApiRequests::moderationDecisionBody(accept);
	runAction(
		Action::Decision, messageId, headers,
		[url, headers, body] { return CurlHelper::patch(url, body, headers); },
		[this, messageId, accept](const HttpResponse &) {
			// A pending list read sent before this answer may still hold the decided message.
			++m_changes[size_t(Read::PendingMessages)];
			obs_log(LOG_INFO, "Tiplark: Message %s %s", logText(messageId).constData(),
				accept ? "accepted" : "rejected");
			// The decided message leaves the dock's list with the next answer.
			fetchPendingMessages();
		});
}

void ApiClient::checkForUpdates()
{
	const QString url = m_apiBaseUrl + QStringLiteral("/extensions/details/obs");
	const QMap<QString, QString> headers = createHeaders();
	obs_log(LOG_INFO, "Tiplark: Checking for updates...");
	const auto parsed = std::make_shared<UpdateInfo>();
	runInBackground(
		this,
		[url, headers, parsed] {
			HttpResponse response = CurlHelper::get(url, headers);
			if (succeeded(response)) {
				*parsed = UpdateInfo::fromJson(response.body);
				response.body = QByteArray();
			}
			return response;
		},
		[this, parsed](const HttpResponse &response) {
			// A failed check is only logged: no apiError, no token refresh.
			if (!succeeded(response)) {
				obs_log(LOG_WARNING, "Tiplark: Update check failed: %s",
					response.error.toUtf8().constData());
				return;
			}
			const UpdateInfo &info = *parsed;
			if (info.version.isEmpty()) {
				obs_log(LOG_WARNING, "Tiplark: No version in update response");
				return;
			}
			obs_log(LOG_INFO, "Tiplark: Current version: %s, Latest: %s",
				PLUGIN_VERSION_STR.toUtf8().constData(), logText(info.version).constData());
			if (!isNewerVersion(info.version, PLUGIN_VERSION_STR))
				return;
			emit updateAvailable(info.version, info.downloadUrlFor(hostUpdatePlatform()));
		},
		RequestLane::Read);
}
