#pragma once

#include <QByteArray>
#include <QList>

class ApiClient;
class AuthManager;

// Everything the plug-in asks of the service, with what each puts on the wire, for the tables of tests.
enum class ServiceOperation {
	FetchUserInfo,
	FetchModerationStatus,
	EnableModeration,
	DisableModeration,
	FetchPendingMessages,
	FetchDonations,
	SkipCurrentDonation,
	AcceptMessage,
	RejectMessage,
	CheckForUpdates,
	RefreshToken,
};

struct ServiceOperationInfo {
	ServiceOperation op;
	const char *name;
	QByteArray method;
	QByteArray path;
	QByteArray body; // as sent; empty for none, and for the refresh, whose form carries the tokens
};

// Each operation once. The pending message that the moderation decisions name is "p-1".
extern const QList<ServiceOperationInfo> SERVICE_OPERATIONS;
const ServiceOperationInfo &serviceOperation(ServiceOperation op);
// Starts op: the token refresh through auth, everything else through client.
void startServiceOperation(ServiceOperation op, ApiClient &client, AuthManager &auth);
