#pragma once

namespace Sandbox {
class Server;

// Every file of endpoints has one registration function; registerEndpoints calls them all.
void registerControlEndpoints(Server &server); // /_sandbox/..., for tests in other processes
void registerOAuthEndpoints(Server &server);   // /oauth/authorize, /oauth/token (oauth-endpoints.cpp)
void registerApiEndpoints(Server &server);     // /v1/..., /extensions/... (api-endpoints.cpp)
void registerEndpoints(Server &server);
} // namespace Sandbox
