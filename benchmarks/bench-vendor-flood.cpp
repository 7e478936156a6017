// The GUI thread under a controller's flood: 8 threads, standing in for obs-websocket's, send the
// vendor's requests (100,000 SkipAlert and 100,000 GetState by default, shared among them) to a signed-in
// session, whose skips go to a sandbox on 127.0.0.1, while the GUI thread's event loop runs a 1 ms timer.
// A flood of GetState alone comes first: what 8 busy threads cost the GUI thread by themselves on this
// machine's cores. Prints the longest the GUI thread went without serving its timer, the requests refused,
// and how many skips reached the service and how many ActionFinished followed.
//
//   bench-vendor-flood [--count N]     (N requests of each kind)
#include "format-and-drop.h"
#include "gui-stall-watch.h"
#include "http/transport.h"
#include "obs-host-stand-in.h"
#include "remote/session-snapshot.h"
#include "remote/remote-control-setting.h"
#include "remote/websocket-vendor.h"
#include "sandbox-server.h"
#include "sandbox-sign-in.h"
#include "settle.h"
#include "streamer-session.h"

#include <util/base.h>
#include <obs-data.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <vector>

int main(int argc, char **argv)
{
	int count = 100000;
	for (int i = 1; i + 1 < argc; ++i)
		if (!strcmp(argv[i], "--count"))
			count = atoi(argv[++i]);
	const int threads = 8;
	base_set_log_handler(formatAndDrop, nullptr);
	// The sign-in and the settings of the benchmark's own home.
	QTemporaryDir home;
	ObsHostStandIn::useConfigHome(home.path());
	QCoreApplication app(argc, argv);
	Transport transport;
	Sandbox::Server sandbox;
	if (!sandbox.start())
		return 1;
	saveSandboxSignIn(sandbox);
	StreamerSession session(sandboxAddresses(sandbox));
	session.start();
	settleBackgroundRequests();
	if (!session.signedIn()) {
		fprintf(stderr, "the session did not sign in\n");
		return 1;
	}
	SessionSnapshot snapshot(&session);
	RemoteControlSetting remoteControl;
	WebsocketVendor vendor(&session, &snapshot, &remoteControl);
	int finished = 0;
	QObject::connect(&session, &StreamerSession::actionFinished, &session, [&] { ++finished; });

	// One flood; withSkips false sends only GetState, for the stall that 8 busy threads cause by
	// themselves on this machine's cores.
	auto flood = [&](bool withSkips) {
		QElapsedTimer clock;
		GuiStallWatch stalls;
		std::atomic<int> done{0};
		std::atomic<int> refused{0};
		std::vector<QThread *> senders;
		for (int t = 0; t < threads; ++t) {
			senders.push_back(QThread::create([&, t] {
				obs_data_t *empty = obs_data_create();
				for (int i = t; i < count; i += threads) {
					for (const bool skip : {true, false}) {
						if (!withSkips && skip)
							continue;
						const char *request = skip ? "SkipAlert" : "GetState";
						obs_data_t *response = obs_data_create();
						vendor.handle(request, empty, response);
						if (!obs_data_get_bool(response, "ok"))
							++refused;
						obs_data_release(response);
					}
				}
				obs_data_release(empty);
				if (++done == threads)
					QMetaObject::invokeMethod(&app, [&] {
						QTimer::singleShot(200, &app, &QCoreApplication::quit);
					});
			}));
		}
		clock.start();
		stalls.start();
		for (QThread *sender : senders)
			sender->start();
		app.exec();
		const double longest = stalls.stop();
		const double seconds = clock.nsecsElapsed() / 1e9 - 0.2;
		for (QThread *sender : senders) {
			sender->wait();
			delete sender;
		}
		printf("%d SkipAlert and %d GetState from %d threads in %.2f s: longest GUI thread stall %.1f ms, "
		       "%d requests refused\n",
		       withSkips ? count : 0, count, threads, seconds, longest, refused.load());
	};
	flood(false);
	flood(true);
	settleBackgroundRequests();
	const int sent = int(sandbox.requests("/v1/donations/queue/skip").size());
	printf("skips sent to the service: %d, ActionFinished: %d\n", sent, finished);
	session.stop();
	// Every skip that went out ended once, and the flood sent some: otherwise the figures measured nothing.
	return sent > 0 && sent == finished ? 0 : 1;
}
