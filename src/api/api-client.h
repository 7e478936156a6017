#pragma once

#include "api/donation-model.h"

#include <QList>
#include <QMap>
#include <QObject>
#include <QString>

class AuthManager;
struct HttpResponse;

// The one way the dock talks to the Tiplark REST API. Every operation returns at once; its request runs
// on the thread pool and its outcome arrives as one of the signals, on the GUI thread. The client keeps
// no state between requests.
class ApiClient : public QObject {
	Q_OBJECT

public:
	// authManager is not owned; it supplies the access token and refreshes it after a 401.
	explicit ApiClient(AuthManager *authManager, QObject *parent = nullptr);

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

	static const QString API_BASE_URL;
	static const QString PLATFORM_NAME;
	static const QString PLUGIN_VERSION_STR;

signals:
	void userInfoReceived(const QString &username);
	void moderationStatusReceived(bool enabled);
	void pendingMessagesReceived(const QList<DonationMessage> &messages);
	void donationsReceived(const QList<DonationMessage> &donations);
	void apiError(const QString &error);
	void updateAvailable(const QString &version, const QString &downloadUrl);

private:
	AuthManager *m_authManager;
};
