#include "settle.h"

#include "http/background-request.h"

#include <QCoreApplication>
#include <QThread>

bool settleBackgroundRequests()
{
	// A continuation may start another request (a refresh, a list fetched after a moderation).
	for (int round = 0; round < 3; ++round) {
		for (int i = 0; i < 5000 && backgroundRequestsInFlight() > 0; ++i)
			QThread::msleep(2);
		QCoreApplication::processEvents();
	}
	return backgroundRequestsInFlight() == 0;
}
