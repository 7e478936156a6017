// What the background request pattern costs: N exchanges with the sandbox through runInBackground on
// the plug-in's own threads (continuations on the GUI thread, each reading the answer as JSON), against
// the same N exchanges made by plain libcurl easy calls on as many plain threads, without the pattern.
// A third pass makes CurlHelper calls on those plain threads, to tell the transport's share from the
// pattern's. The sandbox serves on the same machine, so all passes share the cores with it.
//
//   bench-background-requests [--count N]     (N = 1000 by default)
#include "http/transport.h"
#include "format-and-drop.h"
#include "http/background-request.h"
#include "sandbox-server.h"

#include <curl/curl.h>
#include <util/base.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

namespace {
// An answer of the size the dock polls for: twenty donations.
QByteArray donationList()
{
	QJsonArray list;
	for (int i = 0; i < 20; ++i) {
		list.append(QJsonObject{
			{"id", QStringLiteral("0190c3b2-11aa-7c01-8d3e-%1").arg(i, 12, 10, QLatin1Char('0'))},
			{"nickname", QStringLiteral("Widz_%1").arg(i)},
			{"message_content", QStringLiteral("Dzięki za świetny stream! Wiadomość numer %1").arg(i)},
			{"amount", 5 + i * 0.5},
			{"currency", "PLN"},
			{"created_at", "2024-05-01T12:30:00Z"},
		});
	}
	return QJsonDocument(QJsonObject{{"data", list}}).toJson(QJsonDocument::Compact);
}

size_t appendTo(void *data, size_t size, size_t count, void *buffer)
{
	static_cast<QByteArray *>(buffer)->append(static_cast<const char *>(data), int(size * count));
	return size * count;
}

bool plainCurlGet(const QByteArray &url)
{
	CURL *curl = curl_easy_init();
	if (!curl)
		return false;
	QByteArray received;
	curl_easy_setopt(curl, CURLOPT_URL, url.constData());
	curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, appendTo);
	curl_easy_setopt(curl, CURLOPT_WRITEDATA, &received);
	curl_easy_setopt(curl, CURLOPT_TIMEOUT, 30L);
	curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
	curl_easy_setopt(curl, CURLOPT_USERAGENT, "OBS-Tiplark/1.0.0");
	curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
	long status = 0;
	const bool ok = curl_easy_perform(curl) == CURLE_OK &&
			curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status) == CURLE_OK && status == 200;
	curl_easy_cleanup(curl);
	return ok;
}

// Runs count calls spread over threads plain threads; returns requests per second, or -1 on a failure.
double onPlainThreads(int count, int threads, const std::function<bool()> &call)
{
	std::atomic<int> next{0};
	std::atomic<int> failed{0};
	QElapsedTimer clock;
	clock.start();
	std::vector<std::thread> pool;
	for (int t = 0; t < threads; ++t)
		pool.emplace_back([&] {
			while (next.fetch_add(1) < count)
				if (!call())
					++failed;
		});
	for (auto &thread : pool)
		thread.join();
	const double seconds = double(clock.nsecsElapsed()) / 1e9;
	return failed ? -1 : count / seconds;
}

double median(std::vector<double> values)
{
	std::sort(values.begin(), values.end());
	return *std::min_element(values.begin(), values.end()) < 0 ? -1 : values[values.size() / 2];
}

double percentile(std::vector<qint64> values, double p)
{
	std::sort(values.begin(), values.end());
	const size_t index = std::min(values.size() - 1, size_t(p * double(values.size() - 1) + 0.5));
	return double(values[index]);
}
} // namespace

int main(int argc, char **argv)
{
	QCoreApplication app(argc, argv);
	int count = 1000;
	for (int i = 1; i < argc; ++i)
		if (std::strcmp(argv[i], "--count") == 0 && i + 1 < argc)
			count = std::max(1, std::atoi(argv[++i]));
	base_set_log_handler(formatAndDrop, nullptr);
	Transport transport;

	Sandbox::Server sandbox;
	sandbox.setFault("/v1/donations", Sandbox::Fault::respond(200, donationList()));
	if (!sandbox.start()) {
		std::fprintf(stderr, "cannot start the sandbox\n");
		return 1;
	}
	const QString url = sandbox.baseUrl() + QStringLiteral("/v1/donations");
	const QByteArray urlBytes = url.toUtf8();
	const int threads = ACTION_LANE_THREADS;

	// Warm up connections, the pool and the allocator.
	onPlainThreads(std::min(count, 50), threads, [&] { return plainCurlGet(urlBytes); });

	// Three rounds, the passes interleaved, so that a burst of other load on the shared cores skews
	// all passes alike; the median round of each is reported.
	constexpr int kRounds = 3;
	std::vector<double> plainRates, helperRates, patternRates;
	std::vector<qint64> continuationNs;
	continuationNs.reserve(size_t(count) * kRounds);
	int failed = 0;
	QObject owner;
	for (int round = 0; round < kRounds; ++round) {
		plainRates.push_back(onPlainThreads(count, threads, [&] { return plainCurlGet(urlBytes); }));
		helperRates.push_back(
			onPlainThreads(count, threads, [&] { return CurlHelper::get(url, {}).statusCode == 200; }));

		int answered = 0;
		QElapsedTimer clock;
		clock.start();
		for (int i = 0; i < count; ++i)
			runInBackground(
				&owner, [url] { return CurlHelper::get(url, {}); },
				[&](const HttpResponse &response) {
					QElapsedTimer spent;
					spent.start();
					// What a continuation does: test the answer and read it.
					if (response.statusCode != 200 || !response.error.isEmpty())
						++failed;
					const QJsonArray list =
						QJsonDocument::fromJson(response.body).object().value("data").toArray();
					if (list.size() != 20)
						++failed;
					continuationNs.push_back(spent.nsecsElapsed());
					if (++answered == count)
						app.quit();
				});
		app.exec();
		patternRates.push_back(count / (double(clock.nsecsElapsed()) / 1e9));
	}
	transport.shutdown();
	sandbox.stop();
	const double plain = median(plainRates);
	const double helper = median(helperRates);
	const double pattern = median(patternRates);

	if (plain < 0 || helper < 0 || failed) {
		std::fprintf(stderr, "requests failed\n");
		return 1;
	}
	std::printf("%d exchanges of %d bytes with the sandbox on 127.0.0.1, %d threads (median of %d rounds)\n", count,
		    int(donationList().size()), threads, kRounds);
	std::printf("plain libcurl easy calls, plain threads:   %8.0f requests/s\n", plain);
	std::printf("CurlHelper::get, plain threads:            %8.0f requests/s\n", helper);
	std::printf("runInBackground (own threads + GUI thread): %8.0f requests/s\n", pattern);
	std::printf("throughput with the pattern / plain libcurl: %.3f\n", pattern / plain);
	std::printf("GUI-thread time per continuation (JSON read included): median %.1f us, 99th percentile %.1f us\n",
		    percentile(continuationNs, 0.5) / 1000.0, percentile(continuationNs, 0.99) / 1000.0);
	return 0;
}
