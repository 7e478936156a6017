// Time from a press of ✓ in the dock to its request reaching the service while every read hangs: the
// dock signed in against the in-process sandbox, which holds every GET open; the dock's reads fill
// their threads and more wait behind them; then ✓ is pressed on a pending row, again and again. Prints
// the median and the slowest press.
//
//   bench-dock-press [--runs N]     (N = 20 by default)
#include "http/transport.h"
#include "api/api-client.h"
#include "dock-soak.h"
#include "format-and-drop.h"
#include "http/background-request.h"
#include "obs-host-stand-in.h"
#include "sandbox-server.h"
#include "api/service-poller.h"
#include "donation-pane.h"
#include "streamer-session.h"
#include "tiplark-dock.h"

#include <util/base.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {
QPushButton *acceptButton(TiplarkDock *dock, int row)
{
	QListWidget *list = dock->pendingPane()->list();
	for (auto *button : list->itemWidget(list->item(row % list->count()))->findChildren<QPushButton *>())
		if (button->text() == QStringLiteral("✓"))
			return button;
	return nullptr;
}
} // namespace

int main(int argc, char **argv)
{
	int runs = 20;
	for (int i = 1; i + 1 < argc; ++i)
		if (std::strcmp(argv[i], "--runs") == 0)
			runs = std::max(1, atoi(argv[i + 1]));
	// A pressed row waits for its answer; each press goes to another row.
	runs = std::min(runs, int(DockSoak::PENDING_ROWS));

	qputenv("QT_QPA_PLATFORM", "offscreen");
	QTemporaryDir home;
	ObsHostStandIn::useConfigHome(home.path());
	base_set_log_handler(formatAndDrop, nullptr);
	QApplication app(argc, argv);
	Transport transport;
	qRegisterMetaType<QList<DonationMessage>>();

	Sandbox::Server sandbox;
	if (!sandbox.start()) {
		fprintf(stderr, "cannot start the sandbox\n");
		return 1;
	}
	int slowestMs = 0;
	std::vector<qint64> ns;
	{
		DockSoak soak(sandbox);
		soak.tick();
		TiplarkDock *dock = soak.dock();
		for (const char *path : {"/v1/moderation", "/v1/moderation/moderate/pending-messages", "/v1/donations",
					 "/v1/me", "/extensions/details/obs"})
			sandbox.setFault(path, Sandbox::Fault::hold().forMethod("GET"));
		sandbox.clearRequests();
		// Twice as many reads as their threads: the rest wait in the queue.
		auto *client = soak.session()->findChild<ApiClient *>();
		soak.session()->pollNow();
		for (int i = 0; i < 2 * READ_LANE_THREADS; ++i)
			client->fetchDonations();
		if (!sandbox.waitForRequests(READ_LANE_THREADS, 10000)) {
			fprintf(stderr, "the reads did not reach the sandbox\n");
			return 1;
		}
		QElapsedTimer timer;
		for (int run = 0; run < runs; ++run) {
			const int before = sandbox.requestCount();
			QPushButton *button = acceptButton(dock, run);
			timer.start();
			button->click();
			const bool arrived = sandbox.waitForRequests(before + 1, 35000);
			ns.push_back(timer.nsecsElapsed());
			if (!arrived)
				fprintf(stderr, "press %d did not arrive within 35 s\n", run);
			// Lets the answer's continuation run (it asks for the pending list, which waits too).
			QCoreApplication::processEvents();
		}
		printf("reads held by the service: %d on the wire, %d threads for reads, %d for actions\n",
		       int(sandbox.requests().size()) - runs, READ_LANE_THREADS, ACTION_LANE_THREADS);
		sandbox.releaseHeld();
		sandbox.clearFaults();
	}
	std::sort(ns.begin(), ns.end());
	slowestMs = int(ns.back() / 1000000);
	printf("press of ✓ to its request at the service, %d presses: median %.2f ms, slowest %d ms\n", runs,
	       ns[ns.size() / 2] / 1e6, slowestMs);
	sandbox.stop();
	return 0;
}
