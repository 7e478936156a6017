#include "http/background-request.h"

#include "http/transport.h"

bool runInBackground(QObject *owner, BackgroundWork work, BackgroundDone done, RequestLane lane)
{
	Transport *transport = Transport::current();
	return transport && transport->run(owner, std::move(work), std::move(done), lane);
}

int backgroundRequestsInFlight()
{
	const Transport *transport = Transport::current();
	return transport ? transport->inFlight() : 0;
}
