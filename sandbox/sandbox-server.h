#pragma once

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QVariantHash>

#include <functional>
#include <memory>

// A local stand-in for the Tiplark service, for tests and the demo. It listens on 127.0.0.1 only and
// serves every connection on its own threads, so a blocking client call on the caller's thread gets
// its answer. It records each request exactly as received, and answers either from the endpoints
// registered in endpoints.cpp or, where a test set one, from a fault.
namespace Sandbox {

// One request as it arrived on the wire.
struct Request {
	QByteArray method;
	QByteArray target;             // path and query, as on the request line
	QByteArray path;               // target without the query
	QByteArray query;              // after "?", empty when none
	QList<QByteArray> headerLines; // "Name: value", in the order received
	QByteArray body;
	QStringList captures; // groups of the endpoint's path pattern (handlers only)

	// First value of a header, name compared case-insensitively; empty when absent.
	QByteArray header(const QByteArray &name) const;
	// Every header name in the order received.
	QList<QByteArray> headerNames() const;
};

// What an endpoint answers.
struct Reply {
	int status = 200;
	QByteArray body;
	QByteArray contentType = "application/json";
	QList<QPair<QByteArray, QByteArray>> headers;

	static Reply json(int status, const QByteArray &body);
};

// A misbehaviour set by a test for one path; it takes the place of the endpoint's answer.
struct Fault {
	enum class Kind {
		Respond,   // answer with status, body and contentType
		Close,     // close the connection without answering
		Hold,      // accept and never answer (until released, reset or stopped)
		Redirect,  // answer status (302) with a Location header
		Malformed, // 200 with a JSON body cut off in the middle
		Large,     // 200 with a JSON body of size bytes
		Raw,       // write body to the socket as it is (status line included), then close
		Drip,      // status and body (a 200), the body size bytes at a time every intervalMs
	};
	Kind kind = Kind::Respond;
	int status = 200;
	QByteArray body;
	QByteArray contentType = "application/json";
	QByteArray location;
	qint64 size = 0;
	int delayMs = 0;    // wait this long before acting (ends early when the server stops)
	int intervalMs = 0; // Drip: pause between pieces of the body
	int times = -1;     // how many matching requests it applies to; -1 for all
	QByteArray method;  // applies to this method only; empty for any

	static Fault respond(int status, const QByteArray &body, const QByteArray &contentType = "application/json");
	static Fault close();
	static Fault hold();
	static Fault redirect(const QByteArray &location, int status = 302);
	static Fault malformed();
	static Fault large(qint64 size);
	static Fault raw(const QByteArray &bytes);
	static Fault drip(const QByteArray &body, qint64 pieceBytes, int intervalMs);
	Fault &delayed(int ms);
	Fault &once(int count = 1);
	Fault &forMethod(const QByteArray &method);
};

// What the endpoints remember between requests. Shared by the server's threads: hold mutex while
// reading or writing values. reset() empties it and runs the reset hooks again.
struct State {
	QMutex mutex;
	QVariantHash values;

	// One value, under the lock: not while holding mutex.
	void set(const QString &key, const QVariant &value);
	QVariant value(const QString &key);
};

class Server;
using Handler = std::function<Reply(const Request &request, State &state)>;
using ResetHook = std::function<void(State &state)>;

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
