#pragma once

#include <QByteArray>
#include <QVariant>

namespace Sandbox {
struct State;

// The authorization server's side of the sign-in, under /oauth:
//   GET  /oauth/authorize  checks the PKCE authorization request and redirects the browser to the
//                          loopback redirect URI with a code and the state (or with an error)
//   POST /oauth/token      the authorization_code grant (S256 verifier, single-use codes) and the
//                          refresh_token grant
// Its tokens are the sandbox's shared state: the API endpoints accept a bearer token exactly when
// isAccessTokenValid says so. The switches below live in the state too, so a test in another process
// can flip them through POST /_sandbox/state with the key names given here.
namespace OAuth {

constexpr const char *CLIENT_ID = "0190c3a1-7d2e-7b44-9f10-2a6e5c8d1b37";
constexpr const char *SCOPES =
	"user:read user:stream_status moderation:manage donates:queue:manage moderation:moderate donates:list";

// bool: every refresh token works once; a refresh answers with a new one (off by default).
constexpr const char *ROTATE_REFRESH_TOKENS = "oauth.rotateRefreshTokens";
// bool: refresh answers leave "refresh_token" out and the refresh token stays valid (off by default).
constexpr const char *OMIT_REFRESH_TOKEN = "oauth.omitRefreshToken";
// text: when not empty, /oauth/authorize redirects with this error instead of a code.
constexpr const char *AUTHORIZE_ERROR = "oauth.authorizeError";
// number: the "expires_in" of token answers (3600 by default).
constexpr const char *EXPIRES_IN = "oauth.expiresIn";
// maps of token to bool (true while usable), and of code to its authorization request.
constexpr const char *ACCESS_TOKENS = "oauth.accessTokens";
constexpr const char *REFRESH_TOKENS = "oauth.refreshTokens";
constexpr const char *CODES = "oauth.codes";

// These lock state.mutex themselves: never call them while holding it.
bool isAccessTokenValid(State &state, const QByteArray &token);
bool isRefreshTokenValid(State &state, const QByteArray &token);
// From now on the API answers 401 to this token (or to every token issued so far).
void expireAccessToken(State &state, const QByteArray &token);
void expireAccessTokens(State &state);
// A signed-in streamer without going through a browser.
struct Tokens {
	QByteArray accessToken;
	QByteArray refreshToken;
};
Tokens issueTokens(State &state);
void setSwitch(State &state, const char *key, const QVariant &value);

} // namespace OAuth

} // namespace Sandbox
