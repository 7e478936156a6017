// GUI-thread time of one rebuild of the dock's donation list, for 10, 100 and 1,000 rows: the list
// handed to the dock's slot as the API client hands it, timed to the slot's return (the rows built),
// then the event processing that follows (the old rows deleted, the new ones laid out). Against it,
// the floor: the same number of bare QListWidgetItems put into a cleared QListWidget.
// Medians of many runs; the dock is shown on Qt's offscreen platform.
//
//   bench-dock-rebuild [--runs N] [--rows R]     (N = 31 by default; R: one row count instead of the three)
#include "api/donation-model.h"
#include "dock-soak.h"
#include "obs-host-stand-in.h"
#include "sandbox-server.h"
#include "sandbox-sign-in.h"
#include "settle.h"
#include "tiplark-dock.h"

#include <util/base.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QJsonObject>
#include <QListWidget>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {
void formatAndDrop(int, const char *format, va_list args, void *)
{
	char buffer[4096];
	vsnprintf(buffer, sizeof(buffer), format, args);
}

QList<DonationMessage> donations(int count)
{
	QList<DonationMessage> list;
	for (int i = 0; i < count; ++i)
		list.append(DonationMessage::fromJson(QJsonObject{
			{"id", QStringLiteral("0190c3b2-11aa-7c01-8d3e-%1").arg(i, 12, 10, QLatin1Char('0'))},
			{"nickname", QStringLiteral("Widz_%1").arg(i)},
			{"message_content", QStringLiteral("Dzięki za świetny stream! Wiadomość numer %1").arg(i)},
			{"amount", 5 + i * 0.5},
			{"currency", "PLN"},
			{"payment_method", "blik"},
			{"goal", QJsonObject{{"name", "Nowa kamera"}}},
			{"created_at", "2024-05-01T12:30:00Z"},
		}));
	return list;
}

double medianMs(std::vector<qint64> ns)
{
	std::sort(ns.begin(), ns.end());
	return ns[ns.size() / 2] / 1e6;
}
} // namespace

int main(int argc, char **argv)
{
	int runs = 31;
	std::vector<int> rowCounts{10, 100, 1000};
	for (int i = 1; i + 1 < argc; ++i) {
		if (std::strcmp(argv[i], "--runs") == 0)
			runs = std::max(1, atoi(argv[i + 1]));
		if (std::strcmp(argv[i], "--rows") == 0)
			rowCounts = {std::max(1, atoi(argv[i + 1]))};
	}

	qputenv("QT_QPA_PLATFORM", "offscreen");
	QTemporaryDir home;
	ObsHostStandIn::useConfigHome(home.path());
	base_set_log_handler(formatAndDrop, nullptr);
	QApplication app(argc, argv);
	qRegisterMetaType<QList<DonationMessage>>();

	// Signed out: the dock sends only its update check, which the sandbox answers.
	Sandbox::Server sandbox;
	if (!sandbox.start())
		fprintf(stderr, "sandbox not started; the dock's update check fails, which changes nothing here\n");
	TiplarkDock dock(sandboxAddresses(sandbox));
	dock.resize(420, 900);
	dock.show();
	settleBackgroundRequests();
	processDueEvents();

	QListWidget floorList;
	floorList.resize(420, 900);
	floorList.show();

	printf("%-6s %14s %14s %14s %14s %18s\n", "rows", "rebuild ms", "+ events ms", "bare items ms", "+ events ms",
	       "heap KiB after");
	for (int rows : rowCounts) {
		const QList<DonationMessage> list = donations(rows);
		std::vector<qint64> rebuild, rebuildEvents, bare, bareEvents;
		QElapsedTimer timer;
		for (int run = 0; run < runs; ++run) {
			timer.start();
			QMetaObject::invokeMethod(&dock, "onDonationsReceived", Qt::DirectConnection,
						  Q_ARG(QList<DonationMessage>, list));
			rebuild.push_back(timer.nsecsElapsed());
			timer.start();
			processDueEvents();
			rebuildEvents.push_back(timer.nsecsElapsed());

			timer.start();
			floorList.clear();
			for (int i = 0; i < rows; ++i)
				new QListWidgetItem(list.at(i).nickname, &floorList);
			bare.push_back(timer.nsecsElapsed());
			timer.start();
			processDueEvents();
			bareEvents.push_back(timer.nsecsElapsed());
		}
		printf("%-6d %14.3f %14.3f %14.3f %14.3f %18ld\n", rows, medianMs(rebuild), medianMs(rebuildEvents),
		       medianMs(bare), medianMs(bareEvents), heapInUseKiB());
	}
	printf("(medians of %d runs each)\n", runs);
	dock.shutdown();
	settleBackgroundRequests();
	sandbox.stop();
	return 0;
}
