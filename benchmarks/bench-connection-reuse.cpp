// What keeping connections between requests saves: N GET requests to the sandbox over TLS on loopback,
// one after another and from 4 threads at once, each pattern without a connection cache (every request
// connects and makes a full TLS handshake) and with one (as the module runs). For each it prints the
// connections the sandbox accepted and the TLS handshakes it made, full and resumed, the time per
// request (median and 95th percentile) and the CPU time spent per 100 requests: the requesting threads'
// own, and the whole process's, which includes the sandbox serving on its own threads.
// Rounds are interleaved so that other load on the shared cores skews all alike; the median round is
// shown. Needs a trusted test CA: run under tests/tls/with-test-ca.sh.
//
//   bench-connection-reuse [--count N] [--rounds R]     (N = 100, R = 5 by default)
#include "format-and-drop.h"
#include "http/transport.h"
#include "http/curl-helper.h"
#include "http/host-libcurl.h"
#include "sandbox-server.h"

#include <util/base.h>

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace {
double cpuMs(clockid_t clock)
{
	timespec now{};
	clock_gettime(clock, &now);
	return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

struct Figures {
	Sandbox::Server::Traffic traffic;
	double medianMs = 0;
	double p95Ms = 0;
	double clientCpuMs = 0;  // per 100 requests
	double processCpuMs = 0; // per 100 requests
	bool failed = false;
};

double percentile(std::vector<double> values, double p)
{
	std::sort(values.begin(), values.end());
	return values[std::min(values.size() - 1, size_t(p * double(values.size() - 1) + 0.5))];
}

Figures measure(Sandbox::Server &sandbox, const QString &url, int count, int threads, bool cached)
{
	sandbox.reset();
	// The transport's cache, or none.
	std::optional<Transport> transport;
	if (cached)
		transport.emplace();
	std::atomic<int> next{0};
	std::mutex mutex;
	std::vector<double> times;
	double clientCpu = 0;
	bool failed = false;
	const double processStart = cpuMs(CLOCK_PROCESS_CPUTIME_ID);
	std::vector<std::thread> pool;
	for (int t = 0; t < threads; ++t)
		pool.emplace_back([&] {
			const double threadStart = cpuMs(CLOCK_THREAD_CPUTIME_ID);
			std::vector<double> own;
			bool ownFailed = false;
			while (next.fetch_add(1) < count) {
				QElapsedTimer clock;
				clock.start();
				ownFailed |= CurlHelper::get(url, {}).statusCode != 401;
				own.push_back(double(clock.nsecsElapsed()) / 1e6);
			}
			std::lock_guard<std::mutex> lock(mutex);
			times.insert(times.end(), own.begin(), own.end());
			clientCpu += cpuMs(CLOCK_THREAD_CPUTIME_ID) - threadStart;
			failed |= ownFailed;
		});
	for (auto &thread : pool)
		thread.join();
	Figures figures;
	figures.processCpuMs = (cpuMs(CLOCK_PROCESS_CPUTIME_ID) - processStart) * 100.0 / count;
	figures.clientCpuMs = clientCpu * 100.0 / count;
	figures.traffic = sandbox.traffic();
	figures.medianMs = percentile(times, 0.5);
	figures.p95Ms = percentile(times, 0.95);
	figures.failed = failed;
	return figures;
}

// The round with the median time per request.
Figures medianRound(std::vector<Figures> rounds)
{
	std::sort(rounds.begin(), rounds.end(),
		  [](const Figures &a, const Figures &b) { return a.medianMs < b.medianMs; });
	return rounds[rounds.size() / 2];
}
} // namespace

int main(int argc, char **argv)
{
	QCoreApplication app(argc, argv);
	int count = 100;
	int rounds = 5;
	for (int i = 1; i + 1 < argc; ++i) {
		if (std::strcmp(argv[i], "--count") == 0)
			count = std::max(1, std::atoi(argv[++i]));
		else if (std::strcmp(argv[i], "--rounds") == 0)
			rounds = std::max(1, std::atoi(argv[++i]));
	}
	base_set_log_handler(formatAndDrop, nullptr);
	const HostLibcurl *libcurl = HostLibcurl::host();
	if (!libcurl) {
		std::fprintf(stderr, "no libcurl\n");
		return 1;
	}
	libcurl->global_init(CURL_GLOBAL_DEFAULT);

	const QString tls = qEnvironmentVariable("TIPLARK_TEST_TLS_DIR") + QLatin1Char('/');
	Sandbox::Server sandbox;
	if (!sandbox.startTls(tls + "server.pem", tls + "server.key")) {
		std::fprintf(stderr, "cannot start the sandbox over TLS (run under tests/tls/with-test-ca.sh)\n");
		return 1;
	}
	// The user's details without a token: a short answer, so that the connection's cost shows.
	const QString url = sandbox.baseUrl() + QStringLiteral("/v1/me");

	struct Pass {
		const char *name;
		int threads;
		bool cached;
		std::vector<Figures> rounds;
	};
	Pass passes[] = {{"sequential, no cache", 1, false, {}},
			 {"sequential, cache", 1, true, {}},
			 {"4 threads, no cache", 4, false, {}},
			 {"4 threads, cache", 4, true, {}}};
	measure(sandbox, url, std::min(count, 20), 4, false); // warm up the allocator and the sandbox's threads
	for (int round = 0; round < rounds; ++round)
		for (Pass &pass : passes)
			pass.rounds.push_back(measure(sandbox, url, count, pass.threads, pass.cached));
	sandbox.stop();

	std::printf("%d GET requests to the sandbox over TLS on 127.0.0.1 (TLS 1.3) through %s (%s), median of %d "
		    "rounds\n",
		    count, qPrintable(libcurl->library), qPrintable(libcurl->version), rounds);
	std::printf("%-22s %11s %10s %8s %10s %8s %13s %14s\n", "", "connections", "full TLS", "resumed", "median ms",
		    "p95 ms", "client CPU ms", "process CPU ms");
	std::printf("%-22s %11s %10s %8s %10s %8s %13s %14s\n", "", "", "handshakes", "", "", "", "per 100", "per 100");
	Figures shown[4];
	for (int i = 0; i < 4; ++i) {
		shown[i] = medianRound(passes[i].rounds);
		const Figures &f = shown[i];
		if (f.failed) {
			std::fprintf(stderr, "requests failed\n");
			return 1;
		}
		std::printf("%-22s %11d %10d %8d %10.2f %8.2f %13.1f %14.1f\n", passes[i].name, f.traffic.connections,
			    f.traffic.fullHandshakes, f.traffic.resumedHandshakes, f.medianMs, f.p95Ms, f.clientCpuMs,
			    f.processCpuMs);
	}
	for (int i = 0; i < 4; i += 2)
		std::printf("%s, with the cache / without: median %.4f, p95 %.4f, client CPU %.4f, process CPU %.4f\n",
			    i == 0 ? "sequential" : "4 threads", shown[i + 1].medianMs / shown[i].medianMs,
			    shown[i + 1].p95Ms / shown[i].p95Ms, shown[i + 1].clientCpuMs / shown[i].clientCpuMs,
			    shown[i + 1].processCpuMs / shown[i].processCpuMs);
	return 0;
}
