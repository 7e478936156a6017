#pragma once

#include "curl-helper.h"

#include <functional>

class QObject;

// The plug-in's requests run on threads of its own, never on the host's shared pool, in two lanes: the
// polled reads, which a hanging service can hold for the transport's 30 seconds each, and everything a
// streamer starts (a moderation decision, a skip, the moderation switch, the sign-in and the token
// refresh), which therefore always finds a free thread, however many reads hang.
enum class RequestLane { Read, Action };
// Threads of each lane: a read of each polled kind plus the user and update reads; actions in a burst.
constexpr int READ_LANE_THREADS = 5;
constexpr int ACTION_LANE_THREADS = 4;

// Runs work (one blocking CurlHelper call, or other blocking work with no answer) on the lane's threads
// of the module's Transport and returns at once; done then runs on the GUI thread with the response, in
// the order the answers arrive, but only while owner still exists: a request whose owner was destroyed
// meanwhile runs and emits nothing.
// Call on the GUI thread; owner lives there. The worker never touches owner. Returns false (and runs
// nothing, done included) when no transport exists or it has shut down.
using BackgroundWork = std::function<HttpResponse()>;
using BackgroundDone = std::function<void(const HttpResponse &)>;
bool runInBackground(QObject *owner, BackgroundWork work, BackgroundDone done, RequestLane lane = RequestLane::Action);

// Workers started and not yet finished (queued in a lane or running).
int backgroundRequestsInFlight();
