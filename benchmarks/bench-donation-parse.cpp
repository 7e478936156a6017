// How long reading the donation lists takes, against the floor of merely parsing the same bytes as JSON.
//
// Every record writes one debug line. The log handler used here does what OBS's own handler does with a
// debug line when OBS is not in verbose mode: format it, then drop it. A second pass uses a handler that
// drops lines without formatting them, to show what the line itself costs.
#include "api/api-envelope.h"
#include "format-and-drop.h"

#include <util/base.h>

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <functional>

namespace {
void dropUnformatted(int, const char *, va_list, void *) {}

QJsonObject donation(int i)
{
	QJsonObject goal;
	goal.insert(QStringLiteral("id"), 3);
	goal.insert(QStringLiteral("name"), QStringLiteral("Nowy mikrofon"));
	QJsonObject obj;
	obj.insert(QStringLiteral("id"), QStringLiteral("0190c3b2-11aa-7c01-8d3e-%1").arg(i, 12, 10, QLatin1Char('0')));
	obj.insert(QStringLiteral("nickname"), QStringLiteral("Widz_%1").arg(i));
	obj.insert(QStringLiteral("message_content"),
		   QStringLiteral("Dzięki za świetny stream, pozdrawiam cały czat! Wiadomość numer %1").arg(i));
	obj.insert(QStringLiteral("amount"), 5 + (i % 50) * 0.5);
	obj.insert(QStringLiteral("currency"), QStringLiteral("PLN"));
	obj.insert(QStringLiteral("payment_method"), QStringLiteral("blik"));
	obj.insert(QStringLiteral("goal"), goal);
	obj.insert(QStringLiteral("created_at"), QStringLiteral("2024-05-01T12:30:00Z"));
	return obj;
}

QByteArray listAnswer(int count)
{
	QJsonArray list;
	for (int i = 0; i < count; ++i)
		list.append(donation(i));
	QJsonObject envelope;
	envelope.insert(QStringLiteral("data"), list);
	return QJsonDocument(envelope).toJson(QJsonDocument::Compact);
}

volatile qsizetype g_sink;

// Nanoseconds per call: the best of five batches, each long enough (>= 50 ms) to time reliably.
double nanosecondsPerCall(const std::function<void()> &call)
{
	qint64 batch = 1;
	for (;;) {
		QElapsedTimer timer;
		timer.start();
		for (qint64 i = 0; i < batch; ++i)
			call();
		if (timer.nsecsElapsed() >= 50'000'000)
			break;
		batch *= 2;
	}
	double best = 0;
	for (int round = 0; round < 5; ++round) {
		QElapsedTimer timer;
		timer.start();
		for (qint64 i = 0; i < batch; ++i)
			call();
		const double perCall = double(timer.nsecsElapsed()) / double(batch);
		best = round == 0 ? perCall : std::min(best, perCall);
	}
	return best;
}

QString duration(double ns)
{
	if (ns >= 1e6)
		return QStringLiteral("%1 ms").arg(ns / 1e6, 0, 'f', 2);
	if (ns >= 1e3)
		return QStringLiteral("%1 us").arg(ns / 1e3, 0, 'f', 2);
	return QStringLiteral("%1 ns").arg(ns, 0, 'f', 0);
}

void run(const char *title)
{
	printf("%s\n", title);
	const QJsonObject one = donation(1);
	const double record = nanosecondsPerCall([&] { g_sink = DonationMessage::fromJson(one).amount.size(); });
	printf("  DonationMessage::fromJson, one record object: %s\n", qPrintable(duration(record)));

	printf("  %8s %10s | %14s %14s %7s | %12s %12s\n", "records", "bytes", "JSON floor", "list answer", "ratio",
	       "floor/rec", "answer/rec");
	for (int count : {1, 100, 10000}) {
		const QByteArray body = listAnswer(count);
		const double floor =
			nanosecondsPerCall([&] { g_sink = QJsonDocument::fromJson(body).object().size(); });
		// Every record made, as for the first answer of a sign-in.
		const double answer = nanosecondsPerCall([&] {
			g_sink = ApiEnvelope::readList(body, count, ApiEnvelope::Keep::Newest, count, {}).shown.size();
		});
		printf("  %8d %10lld | %14s %14s %6.2fx | %12s %12s\n", count, static_cast<long long>(body.size()),
		       qPrintable(duration(floor)), qPrintable(duration(answer)), answer / floor,
		       qPrintable(duration(floor / count)), qPrintable(duration(answer / count)));
	}
}
} // namespace

int main()
{
	base_set_log_handler(formatAndDrop, nullptr);
	run("Log handler: formats every line, then drops it (what OBS does with debug lines when not verbose)");
	base_set_log_handler(dropUnformatted, nullptr);
	run("Log handler: drops every line unformatted (the debug line's own cost removed)");
	base_set_log_handler(nullptr, nullptr);
	return 0;
}
