// GUI-thread time of the session and the dock's donation list taking one answer of 10, 100 and 1,000
// records: the answer as the worker hands it on (the newest shown records, the newest remembered ones),
// the arrivals told from it and the shown records handed to the pane, timed to the return, then the event
// processing that
// follows (rows deleted, the list laid out, the rows a later turn draws); and the longest the GUI thread
// was held at once in a run (the median of the runs, for the slowest of the three answers). Three answers:
// - rebuild: every record new (ids the list does not show), so every row goes and comes again;
// - identical: the records the list shows, as a new answer (equal values, not shared ones);
// - one new: a new record on top and the oldest gone, as a tick brings them while donations come in.
// Against them, the floor: the same number of bare QListWidgetItems put into a cleared QListWidget.
// Medians of many runs; the dock is shown on Qt's offscreen platform.
// Then one large answer through the whole path, as the service could send it: --big records (95,000 by
// default, just under the 16 MiB the transport takes) read by the API client from the sandbox and shown by the dock's pane. Printed: the
// longest time the GUI thread was held at once while it came in (a 1 ms timer's longest gap), the time to
// the rows, and the resident size before and after. Then a 16 MiB /v1/moderation answer, likewise. Last,
// answers of 1,000 donations each in a currency not seen before, to a signed-in session with the dock and
// a label of each kind: the longest time the GUI thread was held at once by the first such answer and by
// the one after 10,000 currencies, and the length of the dock's totals line at 20,000.
//
//   bench-dock-rebuild [--runs N] [--rows R] [--big B] [--currencies C]
//     (N = 31 by default; R: one row count instead of the three; B = 0: no large answer; C = 20,000 by
//     default, 0: no currencies)
#include "api/api-client.h"
#include "api/donation-model.h"
#include "auth/auth-manager.h"
#include "dock-soak.h"
#include "donation-pane.h"
#include "record-arrivals.h"
#include "streamer-session.h"
#include "format-and-drop.h"
#include "gui-stall-watch.h"
#include "http/transport.h"
#include "labels/label-feed.h"
#include "labels/label-sources.h"
#include "obs-host-stand-in.h"
#include "sandbox-server.h"
#include "sandbox-sign-in.h"
#include "settle.h"
#include "tiplark-dock.h"

#include <obs.h>
#include <util/base.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QListWidget>
#include <QTemporaryDir>
#include <QTimer>

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

// The answer as the API client's worker hands it on: all records here share one time, so the newest
// are the first, in the service's order.
ApiEnvelope::ListAnswer listAnswer(const QList<DonationMessage> &list)
{
	ApiEnvelope::ListAnswer answer;
	answer.shown = list.mid(0, StreamerSession::MAX_SHOWN);
	for (int i = std::min(int(list.size()), RecordArrivals::REMEMBERED) - 1; i >= 0; --i)
		answer.arrived.append(list.at(i));
	answer.total = int(list.size());
	return answer;
}

// What the session and the dock do with an answer on the GUI thread.
RecordArrivals arrivals;
void showDonations(TiplarkDock &dock, const ApiEnvelope::ListAnswer &answer)
{
	arrivals.take(answer.arrived);
	dock.donationsPane()->setRecords(answer.shown, answer.total);
}

// The service's answer of count donations, as JSON.
QByteArray donationsAnswer(int count)
{
	QJsonArray list;
	for (int i = count - 1; i >= 0; --i)
		list.append(QJsonObject{
			{"id", QStringLiteral("0190c3b2-11aa-7c01-8d3e-%1").arg(i, 12, 10, QLatin1Char('0'))},
			{"nickname", QStringLiteral("Widz_%1").arg(i)},
			{"message_content", QStringLiteral("Hej %1").arg(i)},
			{"amount", 5 + i * 0.5},
			{"currency", "PLN"},
			{"created_at", "2024-05-01T12:30:00Z"},
		});
	return QJsonDocument(QJsonObject{{"data", list}}).toJson(QJsonDocument::Compact);
}

// One answer of count records from the sandbox to the rows of the dock's pane.
void bigAnswer(Sandbox::Server &sandbox, TiplarkDock &dock, int count)
{
	QByteArray body = donationsAnswer(count);
	const double mib = body.size() / 1048576.0;
	sandbox.setFault("/v1/donations", Sandbox::Fault::respond(200, body));
	body.clear();
	body.squeeze();
	saveSandboxSignIn(sandbox);
	AuthManager auth(sandboxAddresses(sandbox));
	ApiClient client(&auth, sandboxAddresses(sandbox));
	client.setListLimits(StreamerSession::MAX_SHOWN, RecordArrivals::REMEMBERED);
	bool shown = false;
	QObject::connect(&client, &ApiClient::donationsReceived, &dock, [&](const ApiEnvelope::ListAnswer &answer) {
		showDonations(dock, answer);
		shown = true;
	});
	QElapsedTimer clock;
	GuiStallWatch stalls;
	const long residentBefore = residentKiB();
	long residentPeak = residentBefore;
	clock.start();
	stalls.start();
	client.fetchDonations();
	while (!shown && client.inFlight(ApiClient::Read::Donations) > 0) {
		QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
		residentPeak = std::max(residentPeak, residentKiB());
	}
	while (dock.donationsPane()->isFilling())
		QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
	processDueEvents();
	const double longest = stalls.stop();
	printf("\nanswer of %d records (%.1f MiB): %s in %.0f ms; GUI thread held at most %.1f ms at once; "
	       "resident %ld KiB before, %ld KiB at most while it came in (+%ld KiB), %d rows shown\n",
	       count, mib, shown ? "shown" : "NOT shown", clock.nsecsElapsed() / 1e6, longest, residentBefore,
	       residentPeak, residentPeak - residentBefore, dock.donationsPane()->list()->count());
	sandbox.clearFaults();
}

// One /v1/moderation answer of about mib MiB (a long member beside "enabled"), read by the API client:
// the longest time the GUI thread was held at once while it came in.
void bigModeration(Sandbox::Server &sandbox, int mib)
{
	QByteArray body = QByteArrayLiteral("{\"data\":{\"enabled\":true,\"note\":\"") +
			  QByteArray(mib * 1048576 - 64, 'x') + QByteArrayLiteral("\"}}");
	sandbox.setFault("/v1/moderation", Sandbox::Fault::respond(200, body));
	const double size = body.size() / 1048576.0;
	body.clear();
	body.squeeze();
	saveSandboxSignIn(sandbox);
	AuthManager auth(sandboxAddresses(sandbox));
	ApiClient client(&auth, sandboxAddresses(sandbox));
	bool received = false;
	QObject::connect(&client, &ApiClient::moderationStatusReceived, [&](bool) { received = true; });
	QElapsedTimer clock;
	GuiStallWatch stalls;
	clock.start();
	stalls.start();
	client.fetchModerationStatus();
	while (!received && client.inFlight(ApiClient::Read::ModerationStatus) > 0)
		QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
	processDueEvents();
	const double longest = stalls.stop();
	printf("/v1/moderation answer (%.1f MiB): %s in %.0f ms; GUI thread held at most %.1f ms at once\n", size,
	       received ? "read" : "NOT read", clock.nsecsElapsed() / 1e6, longest);
	sandbox.clearFaults();
}

// The service's answer of count donations numbered from first, newest first, each in a currency of its own.
QByteArray currenciesAnswer(int first, int count)
{
	const QDateTime start = QDateTime::fromString(QStringLiteral("2024-05-01T12:00:00Z"), Qt::ISODate);
	QJsonArray list;
	for (int i = first + count - 1; i >= first; --i)
		list.append(QJsonObject{
			{"id", QStringLiteral("c-%1").arg(i)},
			{"nickname", QStringLiteral("Widz_%1").arg(i)},
			{"message_content", QStringLiteral("Hej %1").arg(i)},
			{"amount", 5},
			{"currency", QStringLiteral("W%1").arg(i)},
			{"created_at", start.addSecs(i).toString(Qt::ISODate)},
		});
	return QJsonDocument(QJsonObject{{"data", list}}).toJson(QJsonDocument::Compact);
}

// Answers of 1,000 donations, each in a new currency, to a signed-in session shown by a dock and, where
// libobs runs (it needs an X display), by a label of each kind (drawn by no text source: libobs runs
// without its modules here).
void manyCurrencies(Sandbox::Server &sandbox, int currencies)
{
	const bool obs = obs_startup("en-US", nullptr, nullptr);
	const int perAnswer = 1000;
	saveSandboxSignIn(sandbox);
	sandbox.setFault("/v1/donations", Sandbox::Fault::respond(200, currenciesAnswer(0, 0)));
	StreamerSession session(sandboxAddresses(sandbox));
	TiplarkDock dock(&session);
	dock.resize(420, 900);
	dock.show();
	LabelSources sources;
	sources.registerType();
	std::vector<obs_source_t *> labels;
	for (const char *show : {"last", "largest", "total", "count"}) {
		if (!obs)
			break;
		obs_data_t *settings = obs_data_create();
		obs_data_set_string(settings, "show", show);
		labels.push_back(obs_source_create("tiplark_label", show, settings, nullptr));
		obs_data_release(settings);
	}
	auto feed = std::make_unique<LabelFeed>(&session, &sources);
	session.start();
	settleBackgroundRequests();
	session.pollNow();
	settleBackgroundRequests();
	processDueEvents();
	printf("\n%d labels in libobs%s; answers of %d donations, each in a new currency:\n", int(labels.size()),
	       obs ? "" : " (no X display)", perAnswer);
	for (int known = 0; known < currencies; known += perAnswer) {
		sandbox.setFault("/v1/donations", Sandbox::Fault::respond(200, currenciesAnswer(known, perAnswer)));
		GuiStallWatch stalls;
		stalls.start();
		session.pollNow();
		settleBackgroundRequests();
		processDueEvents();
		const double longest = stalls.stop();
		if (known == 0 || known == 10000 || known + perAnswer >= currencies)
			printf("  with %d currencies known: GUI thread held at most %.1f ms at once\n", known, longest);
	}
	qsizetype line = 0;
	for (const QLabel *label : dock.findChildren<QLabel *>())
		if (label->text().startsWith(QStringLiteral("Ta sesja")))
			line = label->text().size();
	printf("  the dock's totals line at %d currencies: %lld characters\n", currencies,
	       static_cast<long long>(line));
	feed.reset();
	for (obs_source_t *label : labels)
		obs_source_release(label);
	dock.shutdown();
	session.stop();
	settleBackgroundRequests();
	sandbox.clearFaults();
	if (obs)
		obs_shutdown();
}

// The step, then the events it left behind (until the pane has drawn every row), each timed.
struct Timings {
	std::vector<qint64> step, afterwards, longest;

	template<typename Step> void time(const DonationPane *pane, Step run)
	{
		QElapsedTimer timer;
		timer.start();
		run();
		step.push_back(timer.nsecsElapsed());
		qint64 rest = 0, held = step.back();
		do {
			QElapsedTimer turn;
			turn.start();
			processDueEvents();
			held = std::max(held, turn.nsecsElapsed());
			rest += turn.nsecsElapsed();
		} while (pane && pane->isFilling());
		afterwards.push_back(rest);
		longest.push_back(held);
	}

	double slot() const { return medianMs(step); }
	double events() const { return medianMs(afterwards); }
	double held() const { return medianMs(longest); }
};
} // namespace

int main(int argc, char **argv)
{
	int runs = 31;
	int big = 95000;
	int currencies = 20000;
	std::vector<int> rowCounts{10, 100, 1000};
	for (int i = 1; i + 1 < argc; ++i) {
		if (std::strcmp(argv[i], "--runs") == 0)
			runs = std::max(1, atoi(argv[i + 1]));
		if (std::strcmp(argv[i], "--rows") == 0)
			rowCounts = {std::max(1, atoi(argv[i + 1]))};
		if (std::strcmp(argv[i], "--big") == 0)
			big = std::max(0, atoi(argv[i + 1]));
		if (std::strcmp(argv[i], "--currencies") == 0)
			currencies = std::max(0, atoi(argv[i + 1]));
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
	StreamerSession session(sandboxAddresses(sandbox));
	session.start();
	TiplarkDock dock(&session);
	dock.resize(420, 900);
	dock.show();
	settleBackgroundRequests();
	processDueEvents();

	QListWidget floorList;
	floorList.resize(420, 900);
	floorList.show();

	printf("%-6s %12s %10s %12s %10s %12s %10s %12s %10s %16s %14s\n", "rows", "rebuild ms", "+ events",
	       "identical ms", "+ events", "one new ms", "+ events", "bare items ms", "+ events", "heap KiB after",
	       "held at once");
	for (int rows : rowCounts) {
		Timings rebuild, identical, oneNew, bare;
		// Two lists without a record in common: each answer replaces every row.
		const ApiEnvelope::ListAnswer sets[2] = {listAnswer(donations(rows, 0, "8d3e")),
							 listAnswer(donations(rows, 0, "9f4a"))};
		for (int run = 0; run < runs; ++run)
			rebuild.time(dock.donationsPane(), [&] { showDonations(dock, sets[run % 2]); });
		// Answers are made before the clock starts, as the API client makes them before the dock sees them.
		showDonations(dock, sets[1]);
		while (dock.donationsPane()->isFilling())
			processDueEvents();
		for (int run = 0; run < runs; ++run) {
			const ApiEnvelope::ListAnswer answer = listAnswer(donations(rows, 0, "9f4a"));
			identical.time(dock.donationsPane(), [&] { showDonations(dock, answer); });
		}
		for (int run = 0; run < runs; ++run) {
			const ApiEnvelope::ListAnswer answer = listAnswer(donations(rows, run + 1, "9f4a"));
			oneNew.time(dock.donationsPane(), [&] { showDonations(dock, answer); });
		}
		const QList<DonationMessage> list = donations(rows, 0, "8d3e");
		for (int run = 0; run < runs; ++run)
			bare.time(nullptr, [&] {
				floorList.clear();
				for (int i = 0; i < rows; ++i)
					new QListWidgetItem(list.at(i).nickname, &floorList);
			});
		printf("%-6d %12.3f %10.3f %12.3f %10.3f %12.3f %10.3f %12.3f %10.3f %16ld %14.3f\n", rows,
		       rebuild.slot(), rebuild.events(), identical.slot(), identical.events(), oneNew.slot(),
		       oneNew.events(), bare.slot(), bare.events(), heapInUseKiB(),
		       std::max({rebuild.held(), identical.held(), oneNew.held()}));
		showDonations(dock, {});
	}
	printf("(medians of %d runs each; at most %d rows are shown)\n", runs, int(StreamerSession::MAX_SHOWN));
	if (big > 0)
		bigAnswer(sandbox, dock, big);
	bigModeration(sandbox, 16);
	if (currencies > 0)
		manyCurrencies(sandbox, currencies);
	dock.shutdown();
	settleBackgroundRequests();
	sandbox.stop();
	return 0;
}
