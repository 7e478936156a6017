#pragma once

#include "endpoint-table.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <memory>

// A local stand-in for the Tiplark service, for tests and the demo. It listens on 127.0.0.1 only and
// serves every connection on its own threads, so a blocking client call on the caller's thread gets
// its answer. It records each request exactly as received, and answers either from its table of
// endpoints (the groups declared in endpoints.h, then any a test adds) or, where a test set one, from a
// fault.
namespace Sandbox {

class Server final : public Control {
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

	// A row of the table after the service's own, for a test's endpoints (see Endpoint). Add before
	// start().
	void addEndpoint(const QByteArray &method, const QString &pathPattern, Handler handler);
	// Runs now and after every reset(), to put the endpoints' initial values into the state.
	void addResetHook(ResetHook hook);
	State &state();

	// Requests received (the control endpoints under /_sandbox/ excepted), oldest first.
	QList<Request> requests() const override;
	QList<Request> requests(const QByteArray &path) const;
	int requestCount() const;
	// Blocks until at least count requests were recorded; false after timeoutMs.
	bool waitForRequests(int count, int timeoutMs = 5000) const;
	void clearRequests() override;

	// Connections and TLS handshakes since the server was made or last reset.
	Traffic traffic() const override;

	void setFault(const QByteArray &path, const Fault &fault) override;
	void clearFault(const QByteArray &path);
	void clearFaults() override;
	// Lets held requests go (they are then answered 503).
	void releaseHeld() override;

	// Forgets records and faults, releases held requests and starts the state afresh.
	void reset() override;

	struct Private;

private:
	std::unique_ptr<Private> d;
};

} // namespace Sandbox
