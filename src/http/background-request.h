#pragma once

#include "curl-helper.h"

#include <functional>

class QObject;

// Runs work (one blocking CurlHelper call) on Qt's global thread pool and returns at once; done then
// runs on the GUI thread with the response, in the order the answers arrive, but only while owner
// still exists: a request whose owner was destroyed meanwhile runs and emits nothing.
// Call on the GUI thread; owner lives there. The worker never touches owner. Returns false (and runs
// nothing, done included) once the module is unloading.
using BackgroundWork = std::function<HttpResponse()>;
using BackgroundDone = std::function<void(const HttpResponse &)>;
bool runInBackground(QObject *owner, BackgroundWork work, BackgroundDone done);

// For module unload, on the GUI thread: cuts every transfer in flight short, waits up to timeoutMs for
// the workers, and drops every continuation still queued. No request runs afterwards. Returns true
// when no worker of ours is left (only then may libcurl be cleaned up).
bool shutdownBackgroundRequests(int timeoutMs = 2000);

// Workers started and not yet finished (queued in the pool or running).
int backgroundRequestsInFlight();
