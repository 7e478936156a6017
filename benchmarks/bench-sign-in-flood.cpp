// A slow browser's redirect while another local process holds connections to the sign-in listener: the
// holder keeps 8 connections open (--held), sending nothing, one byte each (--one-byte) or a byte a second
// on each (--drip), and opens a new one as soon as the listener closes one; meanwhile a browser connects 23
// times, waits before its request line (5, 20 and 100 ms), or sends it in two pieces 20 ms apart, and
// reads the answer. Prints how many of the 23 redirects were answered.
// Run it in a network namespace of its own: the listener takes the sign-in's fixed ports.
//
//   bench-sign-in-flood [--redirects N] [--reopen-ms M] [--held H] [--one-byte] [--drip] [--after-ms A]
//     N = 23 redirects; the holder opens a closed connection again after M ms (0, at once, by default);
//     the browser begins A ms (200) after the holder has its connections
#include "auth/oauth-server.h"
#include "format-and-drop.h"
#include "obs-host-stand-in.h"

#include <util/base.h>

#include <QCoreApplication>
#include <QTemporaryDir>
#include <QThread>
#include <QUrl>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {
const char STATE[] = "benchstate";

int connectTo(int port)
{
	const int fd = socket(AF_INET, SOCK_STREAM, 0);
	sockaddr_in address{};
	address.sin_family = AF_INET;
	address.sin_port = htons(static_cast<uint16_t>(port));
	address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
	if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)) == 0)
		return fd;
	if (fd >= 0)
		close(fd);
	return -1;
}

// Keeps count connections open; each one the listener closes is opened again after reopenMs.
void hold(int port, int count, int reopenMs, bool oneByte, bool drip, const std::atomic<bool> &stop,
	  std::atomic<int> &reopened, std::atomic<int> &open)
{
	std::vector<pollfd> held;
	auto dripped = std::chrono::steady_clock::now();
	while (!stop) {
		if (drip && std::chrono::steady_clock::now() - dripped >= std::chrono::seconds(1)) {
			dripped = std::chrono::steady_clock::now();
			for (const pollfd &p : held)
				send(p.fd, "G", 1, MSG_NOSIGNAL);
		}
		if (int(held.size()) < count)
			std::this_thread::sleep_for(std::chrono::milliseconds(reopenMs));
		while (int(held.size()) < count) {
			const int fd = connectTo(port);
			if (fd < 0)
				break;
			if (oneByte)
				send(fd, "G", 1, MSG_NOSIGNAL);
			held.push_back({fd, POLLIN, 0});
		}
		open = int(held.size());
		if (poll(held.data(), held.size(), 10) <= 0)
			continue;
		for (auto it = held.begin(); it != held.end();) {
			char byte;
			if (it->revents && recv(it->fd, &byte, 1, MSG_DONTWAIT) <= 0) {
				close(it->fd);
				it = held.erase(it);
				++reopened;
			} else {
				++it;
			}
		}
	}
	for (const pollfd &p : held)
		close(p.fd);
}

// One redirect: the request line after delayMs, or in two pieces pieceGapMs apart. True when answered.
bool redirect(int port, int delayMs, int pieceGapMs)
{
	const int fd = connectTo(port);
	if (fd < 0)
		return false;
	const std::string line = std::string("GET /callback?code=abc&state=") + STATE + " HTTP/1.1\r\n\r\n";
	std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
	const size_t split = pieceGapMs > 0 ? 20 : line.size();
	bool sent = send(fd, line.data(), split, MSG_NOSIGNAL) == ssize_t(split);
	if (sent && split < line.size()) {
		std::this_thread::sleep_for(std::chrono::milliseconds(pieceGapMs));
		sent = send(fd, line.data() + split, line.size() - split, MSG_NOSIGNAL) == ssize_t(line.size() - split);
	}
	std::string answer;
	pollfd p{fd, POLLIN, 0};
	char buffer[4096];
	while (sent && poll(&p, 1, 3000) > 0) {
		const ssize_t n = recv(fd, buffer, sizeof(buffer), 0);
		if (n <= 0)
			break;
		answer.append(buffer, size_t(n));
	}
	close(fd);
	return answer.rfind("HTTP/1.1 200 OK", 0) == 0;
}
} // namespace

int main(int argc, char **argv)
{
	int redirects = 23;
	int reopenMs = 0;
	int heldCount = 8;
	int afterMs = 200;
	bool oneByte = false;
	bool drip = false;
	for (int i = 1; i < argc; ++i) {
		if (!strcmp(argv[i], "--one-byte")) {
			oneByte = true;
			continue;
		}
		if (!strcmp(argv[i], "--drip")) {
			drip = true;
			continue;
		}
		if (i + 1 >= argc)
			break;
		if (!strcmp(argv[i], "--held"))
			heldCount = atoi(argv[++i]);
		else if (!strcmp(argv[i], "--after-ms"))
			afterMs = atoi(argv[++i]);
		else if (!strcmp(argv[i], "--redirects"))
			redirects = atoi(argv[++i]);
		else if (!strcmp(argv[i], "--reopen-ms"))
			reopenMs = atoi(argv[++i]);
	}
	base_set_log_handler(formatAndDrop, nullptr);
	QTemporaryDir home;
	ObsHostStandIn::useConfigHome(home.path());
	QCoreApplication app(argc, argv);
	OAuthServer server;
	server.setExpectedState(QString::fromLatin1(STATE));
	if (!server.start()) {
		fprintf(stderr, "the listener could not start\n");
		return 1;
	}
	const int port = QUrl(server.redirectUri()).port();

	struct Case {
		const char *name;
		int delayMs;
		int pieceGapMs;
	};
	const Case cases[] = {{"request line after 5 ms", 5, 0},
			      {"request line after 20 ms", 20, 0},
			      {"request line after 100 ms", 100, 0},
			      {"request line in two pieces 20 ms apart", 0, 20}};
	for (const Case &c : cases) {
		std::atomic<bool> stop{false};
		std::atomic<int> reopened{0};
		std::atomic<int> answered{0};
		std::atomic<int> open{0};
		std::thread holder(hold, port, heldCount, reopenMs, oneByte, drip, std::cref(stop), std::ref(reopened),
				   std::ref(open));
		QThread *browser = QThread::create([&] {
			// Once the holder has its connections (the listen queue holds fewer until the listener
			// takes them in), or after 5 s.
			for (int i = 0; i < 250 && open < heldCount; ++i)
				std::this_thread::sleep_for(std::chrono::milliseconds(20));
			std::this_thread::sleep_for(std::chrono::milliseconds(afterMs));
			for (int i = 0; i < redirects; ++i)
				answered += redirect(port, c.delayMs, c.pieceGapMs) ? 1 : 0;
		});
		const auto started = std::chrono::steady_clock::now();
		QObject::connect(browser, &QThread::finished, &app, &QCoreApplication::quit);
		browser->start();
		app.exec();
		browser->wait();
		delete browser;
		stop = true;
		holder.join();
		const double seconds =
			std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
		printf("%-40s %2d of %d redirects answered; holder reopened %d connections (%.1f/s)\n", c.name,
		       answered.load(), redirects, reopened.load(), reopened / seconds);
	}
	return 0;
}
