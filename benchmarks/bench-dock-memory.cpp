// Memory of the signed-in dock polling a 100-row donation list (and a 20-row pending list, with
// moderation switched and rows moderated along the way), against the in-process sandbox: resident size,
// glibc's count of heap in use and live QObjects after 10 ticks and after N ticks. Each tick is one poll,
// settled. With --style-sheet FILE the application runs under that style sheet, as OBS runs under its
// theme; without, Qt's own style paints through its pixmap cache. GLIBC_TUNABLES=glibc.malloc.tcache_count=0
// takes glibc's per-thread caches of freed blocks out of the heap figure.
//
//   bench-dock-memory [--ticks N] [--style-sheet FILE]     (N = 2000 by default)
#include "http/transport.h"
#include "dock-soak.h"
#include "format-and-drop.h"
#include "obs-host-stand-in.h"
#include "sandbox-server.h"

#include <util/base.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace {
void report(const char *when, const DockSoak &soak)
{
	printf("%-16s %8d %12ld %12ld %12ld %14d %6d\n", when, soak.ticks(), residentKiB(), heapInUseKiB(),
	       QObjectCounter::live(), soak.dockDescendants(), soak.donationRows());
	fflush(stdout);
}
} // namespace

int main(int argc, char **argv)
{
	int ticks = 2000;
	const char *styleSheet = nullptr;
	for (int i = 1; i + 1 < argc; ++i) {
		if (std::strcmp(argv[i], "--ticks") == 0)
			ticks = std::max(11, atoi(argv[i + 1]));
		else if (std::strcmp(argv[i], "--style-sheet") == 0)
			styleSheet = argv[i + 1];
	}

	QObjectCounter::install();
	qputenv("QT_QPA_PLATFORM", "offscreen");
	QTemporaryDir home;
	ObsHostStandIn::useConfigHome(home.path());
	base_set_log_handler(formatAndDrop, nullptr);
	QApplication app(argc, argv);
	Transport transport;
	if (styleSheet && !applyStyleSheet(QString::fromLocal8Bit(styleSheet))) {
		fprintf(stderr, "cannot read the style sheet %s\n", styleSheet);
		return 1;
	}
	printf("style sheet: %s; GLIBC_TUNABLES=%s\n", styleSheet ? styleSheet : "none (Qt's own style)",
	       qgetenv("GLIBC_TUNABLES").constData());

	Sandbox::Server sandbox;
	if (!sandbox.start()) {
		fprintf(stderr, "the sandbox cannot listen on 127.0.0.1\n");
		return 1;
	}
	int unsettled = 0;
	QElapsedTimer clock;
	clock.start();
	{
		DockSoak soak(sandbox);
		printf("%-16s %8s %12s %12s %12s %14s %6s\n", "", "ticks", "RSS KiB", "heap KiB", "QObjects",
		       "under the dock", "rows");
		report("start", soak);
		while (soak.ticks() < 10)
			unsettled += soak.tick() ? 0 : 1;
		report("after 10 ticks", soak);
		while (soak.ticks() < ticks) {
			unsettled += soak.tick() ? 0 : 1;
			if (soak.ticks() % 500 == 0 && soak.ticks() < ticks)
				report("", soak);
		}
		report("at end", soak);
	}
	printf("%d ticks in %.1f s (%.2f ms a tick), %d did not settle\n", ticks, clock.elapsed() / 1000.0,
	       double(clock.elapsed()) / ticks, unsettled);
	sandbox.stop();
	return unsettled ? 1 : 0;
}
