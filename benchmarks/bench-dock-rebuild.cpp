// GUI-thread time of the dock's donation list taking one answer, for 10, 100 and 1,000 rows: the list
// handed to the dock's slot as the API client hands it, timed to the slot's return, then the event
// processing that follows (rows deleted, the list laid out). Three answers:
// - rebuild: every record new (ids the list does not show), so every row goes and comes again;
// - identical: the records the list shows, as a new answer (equal values, not shared ones);
// - one new: a new record on top and the oldest gone, as a tick brings them while donations come in.
// Against them, the floor: the same number of bare QListWidgetItems put into a cleared QListWidget.
// Medians of many runs; the dock is shown on Qt's offscreen platform.
//
//   bench-dock-rebuild [--runs N] [--rows R]     (N = 31 by default; R: one row count instead of the three)
#include "http/transport.h"
#include "api/donation-model.h"
#include "dock-soak.h"
#include "format-and-drop.h"
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
// count records, newest first, numbered from first up: the service's latest count donations.
QList<DonationMessage> donations(int count, int first = 0, const QString &series = QStringLiteral("8d3e"))
{
	QList<DonationMessage> list;
	for (int i = first + count - 1; i >= first; --i)
		list.append(DonationMessage::fromJson(QJsonObject{
			{"id", QStringLiteral("0190c3b2-11aa-7c01-%1-%2").arg(series).arg(i, 12, 10, QLatin1Char('0'))},
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

void showDonations(TiplarkDock &dock, const QList<DonationMessage> &list)
{
	QMetaObject::invokeMethod(&dock, "onDonationsReceived", Qt::DirectConnection,
				  Q_ARG(QList<DonationMessage>, list));
}

// The step, then the events it left behind, each timed.
struct Timings {
	std::vector<qint64> step, afterwards;

	template<typename Step> void time(Step run)
	{
		QElapsedTimer timer;
		timer.start();
		run();
		step.push_back(timer.nsecsElapsed());
		timer.start();
		processDueEvents();
		afterwards.push_back(timer.nsecsElapsed());
	}

	double slot() const { return medianMs(step); }
	double events() const { return medianMs(afterwards); }
};
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
	Transport transport;
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

	printf("%-6s %12s %10s %12s %10s %12s %10s %12s %10s %16s\n", "rows", "rebuild ms", "+ events", "identical ms",
	       "+ events", "one new ms", "+ events", "bare items ms", "+ events", "heap KiB after");
	for (int rows : rowCounts) {
		Timings rebuild, identical, oneNew, bare;
		// Two lists without a record in common: each answer replaces every row.
		const QList<DonationMessage> sets[2] = {donations(rows, 0, "8d3e"), donations(rows, 0, "9f4a")};
		for (int run = 0; run < runs; ++run)
			rebuild.time([&] { showDonations(dock, sets[run % 2]); });
		// Answers are made before the clock starts, as the API client makes them before the dock sees them.
		showDonations(dock, sets[1]);
		processDueEvents();
		for (int run = 0; run < runs; ++run) {
			const QList<DonationMessage> answer = donations(rows, 0, "9f4a");
			identical.time([&] { showDonations(dock, answer); });
		}
		for (int run = 0; run < runs; ++run) {
			const QList<DonationMessage> answer = donations(rows, run + 1, "9f4a");
			oneNew.time([&] { showDonations(dock, answer); });
		}
		const QList<DonationMessage> &list = sets[0];
		for (int run = 0; run < runs; ++run)
			bare.time([&] {
				floorList.clear();
				for (int i = 0; i < rows; ++i)
					new QListWidgetItem(list.at(i).nickname, &floorList);
			});
		printf("%-6d %12.3f %10.3f %12.3f %10.3f %12.3f %10.3f %12.3f %10.3f %16ld\n", rows, rebuild.slot(),
		       rebuild.events(), identical.slot(), identical.events(), oneNew.slot(), oneNew.events(),
		       bare.slot(), bare.events(), heapInUseKiB());
		showDonations(dock, {});
	}
	printf("(medians of %d runs each)\n", runs);
	dock.shutdown();
	settleBackgroundRequests();
	sandbox.stop();
	return 0;
}
