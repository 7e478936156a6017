// The dock polling the sandbox for a long time: no leak, no growth of memory or objects.
//
//   test-soak [--ticks N] [--style-sheet FILE] [Qt Test options]     (N = 2000 by default)
//
// Prints resident size, heap in use and live QObjects after the warm-up and at the end, and fails on
// growth well beyond what a busy machine's noise explains. Two things of the platform, not of the
// plug-in, would read as growth, so the run keeps them out:
// - OBS always styles its widgets with a theme style sheet (--style-sheet, the build passes OBS's default
//   theme). Without one, Qt's own style paints the rows' buttons through the process-wide pixmap cache,
//   under a fresh key for every new button: up to 10 MiB of cached pixels and about 2 KiB of keys per
//   rebuilt pending list, which Qt never gives back.
// - glibc keeps freed small blocks in a cache per thread and counts them as in use; with thirty-odd
//   threads those caches fill over thousands of ticks. The program runs itself again with them off
//   (GLIBC_TUNABLES), unless the caller's GLIBC_TUNABLES already says how to treat them.
// Under AddressSanitizer (the sanitizer build) LeakSanitizer also looks for unreachable memory right
// after the run, while the dock still exists, besides its check at exit; resident size is then only
// printed: the sanitizer's allocator and its record of every allocation's stack grow on their own.
#include "dock-soak.h"
#include "sandbox-server.h"
#include "test-main.h"
#include "donation-pane.h"
#include "tiplark-dock.h"

#include <util/base.h>

#include <QByteArray>
#include <QVector>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <unistd.h>

#ifdef __SANITIZE_ADDRESS__
#include <sanitizer/lsan_interface.h>
#endif

#ifdef __SANITIZE_ADDRESS__
// AddressSanitizer holds freed memory back (256 MiB by default) to catch late uses: its filling would
// read as growth. A small hold still catches a row used right after its deletion.
extern "C" __attribute__((used)) const char *__asan_default_options()
{
	return "quarantine_size_mb=16";
}
#endif

namespace {
int g_ticks = 2000;
QString g_styleSheetPath;

// Counts what the run logs instead of keeping it: kept lines would grow like a leak.
int g_lines;
int g_warnings;
char g_firstWarning[512];

void countLine(int level, const char *format, va_list args, void *)
{
	++g_lines;
	if (level <= LOG_WARNING && g_warnings++ == 0)
		vsnprintf(g_firstWarning, sizeof(g_firstWarning), format, args);
}
} // namespace

class TestSoak : public QObject {
	Q_OBJECT

	Sandbox::Server m_sandbox;

private slots:
	void initTestCase()
	{
		qRegisterMetaType<QList<DonationMessage>>();
		QObjectCounter::install();
		QVERIFY(m_sandbox.start());
	}

	void cleanupTestCase() { m_sandbox.stop(); }

	void pollingStaysFlat()
	{
		if (!g_styleSheetPath.isEmpty())
			QVERIFY2(applyStyleSheet(g_styleSheetPath), qPrintable(g_styleSheetPath));
		printf("soak: style sheet %s; GLIBC_TUNABLES=%s\n",
		       g_styleSheetPath.isEmpty() ? "none (Qt's own style)" : qPrintable(g_styleSheetPath),
		       qgetenv("GLIBC_TUNABLES").constData());

		base_set_log_handler(countLine, nullptr);
		DockSoak soak(m_sandbox);
		const int warmUp = qMax(10, g_ticks / 10);
		long rssAfterWarmUp = 0;
		long heapAfterWarmUp = 0;
		long objectsAfterWarmUp = 0;
		int descendantsAfterWarmUp = 0;
		int unsettled = 0;
		for (int i = 0; i < g_ticks; ++i) {
			if (!soak.tick()) {
				++unsettled;
				printf("soak: tick %d did not settle\n", soak.ticks());
			}
			if (soak.ticks() == warmUp) {
				rssAfterWarmUp = residentKiB();
				heapAfterWarmUp = heapInUseKiB();
				objectsAfterWarmUp = QObjectCounter::live();
				descendantsAfterWarmUp = soak.dockDescendants();
			}
			if (soak.ticks() % 250 == 0)
				printf("soak: tick %d: RSS %ld KiB, heap in use %ld KiB, live QObjects %ld, under the "
				       "dock %d\n",
				       soak.ticks(), residentKiB(), heapInUseKiB(), QObjectCounter::live(),
				       soak.dockDescendants());
		}
		const long rssAtEnd = residentKiB();
		const long heapAtEnd = heapInUseKiB();
		const long objectsAtEnd = QObjectCounter::live();
		const int descendantsAtEnd = soak.dockDescendants();
		printf("soak: %d ticks (warm-up %d), %d donation rows, %d pending rows\n", soak.ticks(), warmUp,
		       soak.donationRows(), soak.pendingRows());
		printf("soak: RSS after warm-up %ld KiB, at end %ld KiB (%+ld KiB)\n", rssAfterWarmUp, rssAtEnd,
		       rssAtEnd - rssAfterWarmUp);
		printf("soak: heap in use after warm-up %ld KiB, at end %ld KiB (%+ld KiB)\n", heapAfterWarmUp,
		       heapAtEnd, heapAtEnd - heapAfterWarmUp);
		printf("soak: live QObjects after warm-up %ld, at end %ld; under the dock %d, at end %d\n",
		       objectsAfterWarmUp, objectsAtEnd, descendantsAfterWarmUp, descendantsAtEnd);
		fflush(stdout);

		printf("soak: %d log lines, %d warnings or errors%s%s\n", g_lines, g_warnings,
		       g_warnings ? ", the first: " : "", g_firstWarning);
		fflush(stdout);
		base_set_log_handler(nullptr, nullptr);

		QCOMPARE(unsettled, 0);
		QCOMPARE(g_warnings, 0);
		QCOMPARE(soak.donationRows(), std::min(int(DockSoak::DONATION_ROWS), int(DonationPane::MAX_ROWS)));
		// Each row is a dozen objects or so: a leaked row per tick would be thousands.
		QVERIFY2(objectsAtEnd - objectsAfterWarmUp < 200, "live QObjects grew");
		QVERIFY2(descendantsAtEnd - descendantsAfterWarmUp < 200, "objects under the dock grew");
#ifndef __SANITIZE_ADDRESS__
		// A leaked row a tick would be many MiB; a leaked request a few hundred KiB.
		QVERIFY2(heapAtEnd - heapAfterWarmUp < 1024, "heap in use grew");
		QVERIFY2(rssAtEnd - rssAfterWarmUp < 4 * 1024, "resident size grew");
#else
		QVERIFY2(__lsan_do_recoverable_leak_check() == 0, "LeakSanitizer found unreachable memory");
#endif
	}
};

int main(int argc, char **argv)
{
#ifndef __SANITIZE_ADDRESS__
	// glibc reads its tunables at start-up only.
	if (!qgetenv("GLIBC_TUNABLES").contains("tcache_count")) {
		QByteArray tunables = qgetenv("GLIBC_TUNABLES");
		tunables += QByteArray(tunables.isEmpty() ? "" : ":") + "glibc.malloc.tcache_count=0";
		qputenv("GLIBC_TUNABLES", tunables);
		execv("/proc/self/exe", argv);
		perror("test-soak: running again without glibc's thread caches");
		return 1;
	}
#endif
	// A long run by hand outlasts Qt Test's five minutes a test function; ctest keeps its own limit.
	if (!qEnvironmentVariableIsSet("QTEST_FUNCTION_TIMEOUT"))
		qputenv("QTEST_FUNCTION_TIMEOUT", "86400000");

	// --ticks N and --style-sheet FILE are ours; everything else goes to Qt Test.
	QVector<char *> rest;
	for (int i = 0; i < argc; ++i) {
		if (i + 1 < argc && std::strcmp(argv[i], "--ticks") == 0)
			g_ticks = qMax(1, QByteArray(argv[++i]).toInt());
		else if (i + 1 < argc && std::strcmp(argv[i], "--style-sheet") == 0)
			g_styleSheetPath = QString::fromLocal8Bit(argv[++i]);
		else
			rest.append(argv[i]);
	}
	int restCount = rest.size();
	rest.append(nullptr);
	char **restArgs = rest.data();
	QTemporaryDir home;
	ObsHostStandIn::useConfigHome(home.path());
	QApplication app(restCount, restArgs);
	TestSoak test;
	return QTest::qExec(&test, restCount, restArgs);
}

#include "test-soak.moc"
