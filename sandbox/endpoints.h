#pragma once

namespace Sandbox {
class Server;

// Every file of endpoints has one registration function; registerEndpoints calls them all.
void registerControlEndpoints(Server &server); // /_sandbox/..., for tests in other processes
void registerEndpoints(Server &server);
} // namespace Sandbox
