#pragma once

#include "oauth-endpoints.h"
#include "service-addresses.h"

#include <QDateTime>

namespace Sandbox {
class Server;
}

// Starts a sandbox that publishes no newer version: a dock sends its update check as soon as it exists, and a
// banner would change the layout under test.
bool startWithoutNewerVersion(Sandbox::Server &sandbox);

// A sandbox's addresses: its REST API, and its OAuth server under /oauth.
ServiceAddresses sandboxAddresses(const Sandbox::Server &sandbox);

// A streamer signed in earlier: tokens the sandbox issued, saved in tokens.json as a previous session of OBS
// would have left them, before an AuthManager reads the file. expiresAt is stored as it is (none when null).
Sandbox::OAuth::Tokens saveSandboxSignIn(Sandbox::Server &sandbox, const QDateTime &expiresAt = QDateTime());
