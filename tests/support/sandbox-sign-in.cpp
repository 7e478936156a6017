#include "sandbox-sign-in.h"

#include "api-state.h"
#include "auth/token-store.h"
#include "sandbox-server.h"

bool startWithoutNewerVersion(Sandbox::Server &sandbox)
{
	sandbox.addResetHook([](Sandbox::State &state) {
		state.values.insert(Sandbox::ApiState::UPDATE, QVariantMap{{"version", "1.0.0"}});
	});
	return sandbox.start();
}

ServiceAddresses sandboxAddresses(const Sandbox::Server &sandbox)
{
	return {sandbox.baseUrl(), sandbox.baseUrl() + QStringLiteral("/oauth")};
}

Sandbox::OAuth::Tokens saveSandboxSignIn(Sandbox::Server &sandbox, const QDateTime &expiresAt)
{
	const Sandbox::OAuth::Tokens tokens = Sandbox::OAuth::issueTokens(sandbox.state());
	TokenStore store;
	store.setAccessToken(QString::fromUtf8(tokens.accessToken));
	store.setRefreshToken(QString::fromUtf8(tokens.refreshToken));
	store.setTokenExpiresAt(expiresAt);
	store.setOAuthOrigin(sandboxAddresses(sandbox).oauthOrigin());
	store.setApiOrigin(sandboxAddresses(sandbox).apiOrigin());
	store.save();
	return tokens;
}
