#include "service-operations.h"

#include "api/api-client.h"
#include "auth/auth-manager.h"

#include <algorithm>

const QList<ServiceOperationInfo> SERVICE_OPERATIONS = {
	{ServiceOperation::FetchUserInfo, "fetchUserInfo", "GET", "/v1/me", ""},
	{ServiceOperation::FetchModerationStatus, "fetchModerationStatus", "GET", "/v1/moderation", ""},
	{ServiceOperation::EnableModeration, "setModerationStatus(true)", "PATCH", "/v1/moderation",
	 "{\n    \"enabled\": true\n}\n"},
	{ServiceOperation::DisableModeration, "setModerationStatus(false)", "PATCH", "/v1/moderation",
	 "{\n    \"enabled\": false\n}\n"},
	{ServiceOperation::FetchPendingMessages, "fetchPendingMessages", "GET",
	 "/v1/moderation/moderate/pending-messages", ""},
	{ServiceOperation::FetchDonations, "fetchDonations", "GET", "/v1/donations", ""},
	{ServiceOperation::SkipCurrentDonation, "skipCurrentDonation", "POST", "/v1/donations/queue/skip", "{}"},
	{ServiceOperation::AcceptMessage, "moderateMessage(accept)", "PATCH", "/v1/moderation/moderate/p-1",
	 "{\n    \"action\": \"accept\"\n}\n"},
	{ServiceOperation::RejectMessage, "moderateMessage(reject)", "PATCH", "/v1/moderation/moderate/p-1",
	 "{\n    \"action\": \"reject\"\n}\n"},
	{ServiceOperation::CheckForUpdates, "checkForUpdates", "GET", "/extensions/details/obs", ""},
	{ServiceOperation::RefreshToken, "token refresh", "POST", "/oauth/token", ""},
};

const ServiceOperationInfo &serviceOperation(ServiceOperation op)
{
	return *std::find_if(SERVICE_OPERATIONS.begin(), SERVICE_OPERATIONS.end(),
			     [op](const ServiceOperationInfo &info) { return info.op == op; });
}

void startServiceOperation(ServiceOperation op, ApiClient &client, AuthManager &auth)
{
	switch (op) {
	case ServiceOperation::FetchUserInfo:
		return client.fetchUserInfo();
	case ServiceOperation::FetchModerationStatus:
		return client.fetchModerationStatus();
	case ServiceOperation::EnableModeration:
		return client.setModerationStatus(true);
	case ServiceOperation::DisableModeration:
		return client.setModerationStatus(false);
	case ServiceOperation::FetchPendingMessages:
		return client.fetchPendingMessages();
	case ServiceOperation::FetchDonations:
		return client.fetchDonations();
	case ServiceOperation::SkipCurrentDonation:
		return client.skipCurrentDonation();
	case ServiceOperation::AcceptMessage:
		return client.moderateMessage(QStringLiteral("p-1"), true);
	case ServiceOperation::RejectMessage:
		return client.moderateMessage(QStringLiteral("p-1"), false);
	case ServiceOperation::CheckForUpdates:
		return client.checkForUpdates();
	case ServiceOperation::RefreshToken:
		return auth.refreshAccessToken();
	}
}
