#include "sandbox-server.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <pthread.h>

// The sandbox as a program of its own, for the demo and the end-to-end tests:
//   tiplark-sandbox [--port N]     (0, the default, picks a free port)
// Prints the address it listens on and serves until SIGINT or SIGTERM.
int main(int argc, char **argv)
{
	long port = 0;
	for (int i = 1; i < argc; ++i) {
		if (std::strcmp(argv[i], "--port") == 0 && i + 1 < argc) {
			char *end = nullptr;
			port = std::strtol(argv[++i], &end, 10);
			if (!end || *end || port < 0 || port > 65535) {
				std::fprintf(stderr, "tiplark-sandbox: invalid port: %s\n", argv[i]);
				return 2;
			}
		} else {
			std::fprintf(stderr, "usage: tiplark-sandbox [--port N]\n");
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
	if (!server.start(quint16(port))) {
		std::fprintf(stderr, "tiplark-sandbox: cannot listen on 127.0.0.1:%ld\n", port);
		return 1;
	}
	std::printf("Tiplark sandbox listening on %s\n", server.baseUrl().toUtf8().constData());
	std::fflush(stdout);

	int received = 0;
	sigwait(&stopSignals, &received);
	server.stop();
	return 0;
}
