#pragma once

#include "endpoint-table.h"

namespace Sandbox {

// Every file of endpoints returns its group; the server's table holds them in the order its constructor
// lists them.
EndpointGroup controlEndpoints(Control &control); // /_sandbox/..., for tests in other processes
EndpointGroup oauthEndpoints();                   // /oauth/authorize, /oauth/token (oauth-endpoints.cpp)
EndpointGroup apiEndpoints();                     // /v1/..., /extensions/... (api-endpoints.cpp)
} // namespace Sandbox
