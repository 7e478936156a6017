#pragma once

#include "api/api-envelope.h"
#include "api/donation-model.h"
#include "service-addresses.h"

#include <QList>
#include <QMap>
#include <QObject>
#include <QSet>
#include <QString>

#include <array>
#include <functional>
#include <memory>

class AuthManager;
struct HttpResponse;

// The one way the dock talks to the Tiplark REST API. Every operation returns at once; its request runs
// on the plug-in's own threads and its outcome arrives as one of the signals, on the GUI thread. Besides how many
// reads of each kind are unanswered and which session and change they belong to, the client keeps no state
// between requests.
class ApiClient : public QObject {
	Q_OBJECT

public:
	// authManager is not owned; it supplies the access token and refreshes it after a 401.
	explicit ApiClient(AuthManager *authManager, const ServiceAddresses &addresses, QObject *parent = nullptr);

	// The reads that are repeated while the dock polls.
	enum class Read { UserInfo, ModerationStatus, PendingMessages, Donations };
	Q_ENUM(Read)
	// Requests of this kind started and not yet answered (an answer counts once its continuation ran,
	// success or failure; a request gives up after the transport's 30 seconds at the latest).
	int inFlight(Read read) const;

	// Ends the session: no answer to a request sent before (a read, a decision, a switch) is acted on any
	// more. Called at sign-in and logout, so nothing of an earlier sign-in reaches the screen.
	void endSession();
	// Of a list answer, the worker hands on the records shown and those of the recent newest it does not
	// know (see ApiEnvelope::ListAnswer); the rest stays on the worker thread.
	void setListLimits(int shown, int recent);
	// The ids of a list that are known already: the next answers' workers read them (a shared copy).
	void setKnownIds(Read read, const QSet<QString> &ids);

	// What the streamer starts, reported back by actionFinished.
	enum class Action { Decision, Skip, ModerationSwitch };
	Q_ENUM(Action)

	// The header set of every request, with the access token as it is at this moment.
	QMap<QString, QString> createHeaders();
	// A 401 asks for a token refresh (unless rejectedToken, the token the request carried, has been
	// replaced since); every failure ends as apiError("HTTP <status>: <error>"). True for a 401 to a token
	// that a refresh has replaced: the request, sent again now, goes out with the new one.
	bool handleNetworkError(const HttpResponse &response, const QString &rejectedToken = QString());

	void fetchUserInfo();
	void fetchModerationStatus();
	void setModerationStatus(bool enabled);
	void fetchPendingMessages();
	void fetchDonations();
	void skipCurrentDonation();
	void moderateMessage(const QString &messageId, bool accept);
	void checkForUpdates();

	static const QString PLATFORM_NAME;
	static const QString PLUGIN_VERSION_STR;

signals:
	void userInfoReceived(const QString &username);
	void moderationStatusReceived(bool enabled);
	// A list answer, read on the worker within the list limits.
	void pendingMessagesReceived(const ApiEnvelope::ListAnswer &messages);
	void donationsReceived(const ApiEnvelope::ListAnswer &donations);
	void apiError(const QString &error);
	void updateAvailable(const QString &version, const QString &downloadUrl);
	// A read was answered as it should be.
	void serviceAnswered(ApiClient::Read read);
	// A read got no usable answer: no connection, a time-out, a server fault (5xx) or an answer that is
	// not JSON. A 401 is neither: the token refresh deals with it.
	void serviceFailing(ApiClient::Read read);
	// A read was refused with this HTTP status (401, 403, 404, 429, ...): the service answers but does not
	// give what was asked.
	void serviceRefused(ApiClient::Read read, int status);
	// A decision (subject: the message's id), a skip or a moderation switch (subject: "on" or "off") got
	// its answer, or failed. Not emitted for an answer of an ended session.
	void actionFinished(ApiClient::Action action, const QString &subject, bool succeeded);

private:
	using Work = std::function<HttpResponse()>;
	using Done = std::function<void(const HttpResponse &)>;
	// Runs work in the background; done runs on the GUI thread, unless the session ended meanwhile or, for
	// a read, the thing it reads was changed by the streamer after it was sent (its answer may predate the
	// change). A read is counted while unanswered. readOnWorker: for a read whose body the worker parsed,
	// whether it was JSON (set before done runs).
	void start(const Read *read, Work work, Done done, std::shared_ptr<const bool> readOnWorker = nullptr);
	// Tells the dock how the service is doing from a read's answer; false when the answer is unusable
	// and must not be acted on.
	bool reportHealth(Read read, const HttpResponse &response, bool readable);
	// done for a successful answer; a failed one takes the common failure path.
	void runOperation(const Read *read, const QMap<QString, QString> &headers, Work work, Done onSuccess,
			  std::shared_ptr<const bool> readOnWorker = nullptr);
	// An action: onSuccess for a successful answer, then actionFinished either way.
	void runAction(Action action, const QString &subject, const QMap<QString, QString> &headers, Work work,
		       Done onSuccess);
	void fetchDonationList(Read read, const QString &path, ApiEnvelope::Keep keep,
			       void (ApiClient::*received)(const ApiEnvelope::ListAnswer &));

	AuthManager *m_authManager;
	const QString m_apiBaseUrl;
	std::array<int, 4> m_inFlight{};
	// Counts sessions; an answer of an earlier one is dropped.
	quint64 m_session = 0;
	// Counts confirmed changes of each read's subject; a read sent before the latest one is dropped.
	std::array<quint64, 4> m_changes{};
	int m_shownLimit = 30;
	int m_recentLimit = 1000;
	std::array<QSet<QString>, 4> m_knownIds;
};
