#include "settle.h"

#include "http/background-request.h"

#include <QCoreApplication>
#include <QTest>

bool settleBackgroundRequests()
{
	// Waits as QTRY_* does, the event loop running: a continuation may start another request (a refresh,
	// a list fetched after a moderation), and one more round lets it finish too.
	for (int round = 0; round < 3; ++round) {
		(void)QTest::qWaitFor([] { return backgroundRequestsInFlight() == 0; }, 10000);
		QCoreApplication::processEvents();
	}
	return backgroundRequestsInFlight() == 0;
}
