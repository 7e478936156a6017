#include "endpoints.h"

// Each group of the service's endpoints lives in its own file (oauth-endpoints.cpp, api-endpoints.cpp)
// with a registration function declared in endpoints.h and called here.
void Sandbox::registerEndpoints(Server &server)
{
	registerControlEndpoints(server);
	registerOAuthEndpoints(server);
	registerApiEndpoints(server);
}
