#pragma once

#include "api/donation-model.h"
#include "service-addresses.h"

#include <QList>
#include <QMap>
#include <QObject>
#include <QString>

#include <array>
#include <functional>

class AuthManager;
struct HttpResponse;

// The one way the dock talks to the Tiplark REST API. Every operation returns at once; its request runs
// on the plug-in's own threads and its outcome arrives as one of the signals, on the GUI thread. Besides how many
// reads of each kind are unanswered, the client keeps no state between requests.
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

	// The header set of every request, with the access token as it is at this moment.
	QMap<QString, QString> createHeaders();
	// A 401 asks for a token refresh (unless rejectedToken, the token the request carried, has been
	// replaced since); every failure ends as apiError("HTTP <status>: <error>").
	void handleNetworkError(const HttpResponse &response, const QString &rejectedToken = QString());

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
	void pendingMessagesReceived(const QList<DonationMessage> &messages);
	void donationsReceived(const QList<DonationMessage> &donations);
	void apiError(const QString &error);
	void updateAvailable(const QString &version, const QString &downloadUrl);
	// A read was answered as it should be.
	void serviceAnswered(ApiClient::Read read);
	// A read got no usable answer: no connection, a time-out, a server fault (5xx) or an answer that is
	// not JSON. A 401 is neither: the token refresh deals with it.
	void serviceFailing(ApiClient::Read read);

private:
	using Work = std::function<HttpResponse()>;
	using Done = std::function<void(const HttpResponse &)>;
	// Runs work in the background; done runs on the GUI thread. A read is counted while unanswered.
	void start(const Read *read, Work work, Done done);
	// Tells the dock how the service is doing from a read's answer; false when the answer is unusable
	// and must not be acted on.
	bool reportHealth(Read read, const HttpResponse &response);
	// done for a successful answer; a failed one takes the common failure path.
	void runOperation(const Read *read, const QMap<QString, QString> &headers, Work work, Done onSuccess);
	void fetchDonationList(Read read, const QString &path,
			       void (ApiClient::*received)(const QList<DonationMessage> &));

	AuthManager *m_authManager;
	const QString m_apiBaseUrl;
	std::array<int, 4> m_inFlight{};
};
