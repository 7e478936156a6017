#pragma once

#include <QString>

#include <optional>

// Where the Tiplark service is reached. The module runs against production unless its environment points
// it at another service (a sandbox for tests and demos); everything that talks to the service is handed
// one of these.
struct ServiceAddresses {
	QString apiBaseUrl;   // origin of the REST API, no trailing slash
	QString oauthBaseUrl; // base of the OAuth server, no trailing slash

	// The addresses compiled in.
	static ServiceAddresses production();

	// Scheme, host and port of the OAuth server (whose tokens a sign-in holds) and of the API (where they
	// are sent), each in normal form.
	QString oauthOrigin() const;
	QString apiOrigin() const;

	// Scheme, host and port of an address, written one way for one place: lower case, the scheme's default
	// port left out and a host's closing dot dropped, so that https://tiplark.pl:443/oauth and
	// https://tiplark.pl./oauth name the origin of https://tiplark.pl/oauth. Used on saved origins too.
	static QString origin(const QString &address);

	// The override for another service: both addresses must be given, each an absolute https:// address
	// or an http:// one to a loopback IP address (so that tokens never cross a network in clear text),
	// without user name, query or fragment. A trailing slash is dropped. Otherwise nothing, with the
	// reason in whyNot.
	static std::optional<ServiceAddresses> fromOverride(const QString &apiBaseUrl, const QString &oauthBaseUrl,
							    QString *whyNot = nullptr);
};

// The environment variables of the override.
#define TIPLARK_API_BASE_URL_VARIABLE "TIPLARK_API_BASE_URL"
#define TIPLARK_OAUTH_BASE_URL_VARIABLE "TIPLARK_OAUTH_BASE_URL"

// The addresses the module runs with: production, or the environment's override when both variables are
// set and acceptable. A used or refused override is logged once, at LOG_WARNING.
ServiceAddresses serviceAddressesFromEnvironment();
