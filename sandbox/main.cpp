#include "donation-script.h"
#include "sandbox-server.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <pthread.h>

// The sandbox as a program of its own, for the demo and the end-to-end tests:
//   tiplark-sandbox [--port N] [--tls CERT KEY] [--donation-script [MS]]
// --port: 0, the default, picks a free port. --tls: serve HTTPS with the PEM certificate chain CERT and
// private key KEY. --donation-script: a new donation arrives every MS milliseconds (4000 by default),
// into the pending queue while moderation is on.
// Prints the address it listens on and serves until SIGINT or SIGTERM.
int main(int argc, char **argv)
{
	long port = 0;
	long donationIntervalMs = 0;
	const char *certificateChain = nullptr;
	const char *privateKey = nullptr;
	for (int i = 1; i < argc; ++i) {
		if (std::strcmp(argv[i], "--port") == 0 && i + 1 < argc) {
			char *end = nullptr;
			port = std::strtol(argv[++i], &end, 10);
			if (!end || *end || port < 0 || port > 65535) {
				std::fprintf(stderr, "tiplark-sandbox: invalid port: %s\n", argv[i]);
				return 2;
			}
		} else if (std::strcmp(argv[i], "--tls") == 0 && i + 2 < argc) {
			certificateChain = argv[++i];
			privateKey = argv[++i];
		} else if (std::strcmp(argv[i], "--donation-script") == 0) {
			donationIntervalMs = 4000;
			if (i + 1 < argc && argv[i + 1][0] != '-') {
				char *end = nullptr;
				donationIntervalMs = std::strtol(argv[++i], &end, 10);
				if (!end || *end || donationIntervalMs < 100 || donationIntervalMs > 3600000) {
					std::fprintf(stderr, "tiplark-sandbox: invalid donation interval: %s\n",
						     argv[i]);
					return 2;
				}
			}
		} else {
			std::fprintf(stderr,
				     "usage: tiplark-sandbox [--port N] [--tls CERT KEY] [--donation-script [MS]]\n");
			return 2;
		}
	}

	// Blocked before the server's threads start, so that they inherit the mask and only sigwait sees them.
	sigset_t stopSignals;
	sigemptyset(&stopSignals);
	sigaddset(&stopSignals, SIGINT);
	sigaddset(&stopSignals, SIGTERM);
	pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

	Sandbox::Server server;
	const bool started = certificateChain ? server.startTls(QString::fromLocal8Bit(certificateChain),
								QString::fromLocal8Bit(privateKey), quint16(port))
					      : server.start(quint16(port));
	if (!started) {
		std::fprintf(stderr, "tiplark-sandbox: cannot listen on 127.0.0.1:%ld\n", port);
		return 1;
	}
	std::printf("Tiplark sandbox listening on %s\n", server.baseUrl().toUtf8().constData());
	std::fflush(stdout);
	std::unique_ptr<Sandbox::DonationScript> script;
	if (donationIntervalMs > 0)
		script = std::make_unique<Sandbox::DonationScript>(server, int(donationIntervalMs));

	int received = 0;
	sigwait(&stopSignals, &received);
	script.reset();
	server.stop();
	return 0;
}
