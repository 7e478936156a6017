#pragma once

#include "endpoint-table.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <memory>

// A local stand-in for the Tiplark service, for tests and the demo. It listens on 127.0.0.1 only and
// serves every connection on its own threads, so a blocking client call on the caller's thread gets
// its answer. It records each request exactly as received, and answers either from the endpoints
// registered in endpoints.cpp or, where a test set one, from a fault.
namespace Sandbox {

class Server {
public:
	Server();
	~Server();
	Server(const Server &) = delete;
	Server &operator=(const Server &) = delete;

	// Listens on 127.0.0.1:port (0 picks a free port). False when the port cannot be had.
	bool start(quint16 port = 0);
	// Serves HTTPS with the given PEM files (certificate chain, private key) instead of plain HTTP, and,
	// as the service does, keeps each connection open for further requests. False when the port or the
	// certificate cannot be had.
	bool startTls(const QString &certificateChain, const QString &privateKey, quint16 port = 0);
	// Ends held and delayed answers, then stops listening and waits for the server's threads.
	void stop();
	quint16 port() const;
	QString baseUrl() const; // http://127.0.0.1:PORT, or https:// when serving TLS

	// Endpoints: method ("GET", "POST", ...) and a regular expression for the whole path; groups go to
	// Request::captures. Register before start().
	void addEndpoint(const QByteArray &method, const QString &pathPattern, Handler handler);
	// Runs now and after every reset(), to put the endpoints' initial values into the state.
	void addResetHook(ResetHook hook);
	State &state();

	// Requests received (the control endpoints under /_sandbox/ excepted), oldest first.
	QList<Request> requests() const;
	QList<Request> requests(const QByteArray &path) const;
	int requestCount() const;
	// Blocks until at least count requests were recorded; false after timeoutMs.
	bool waitForRequests(int count, int timeoutMs = 5000) const;
	void clearRequests();

	// Connections accepted and TLS handshakes made, full or resumed, since the server was made or last
	// reset.
	struct Traffic {
		int connections = 0;
		int fullHandshakes = 0;
		int resumedHandshakes = 0;
	};
	Traffic traffic() const;

	void setFault(const QByteArray &path, const Fault &fault);
	void clearFault(const QByteArray &path);
	void clearFaults();
	// Lets held requests go (they are then answered 503).
	void releaseHeld();

	// Forgets records and faults, releases held requests and starts the state afresh.
	void reset();

	struct Private;

private:
	std::unique_ptr<Private> d;
};

} // namespace Sandbox
