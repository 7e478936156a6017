#pragma once

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QVariantHash>

#include <functional>

// What the sandbox's endpoints see and answer, the rows of the server's table they make and what the
// control endpoints may do to the server: apart from the server itself, so that the files of endpoints
// need not include it.
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

using Handler = std::function<Reply(const Request &request, State &state)>;
using ResetHook = std::function<void(State &state)>;

// One row of the server's table: a method ("GET", "POST", ...) and a regular expression for the whole
// path, whose groups go to Request::captures.
struct Endpoint {
	QByteArray method;
	QString pathPattern;
	Handler handler;
};

// What a file of endpoints contributes to the table: its rows, and the hooks that put its initial values
// into the state (run when the server is made and after every reset).
struct EndpointGroup {
	QList<Endpoint> endpoints;
	QList<ResetHook> resetHooks;
};

// What the control endpoints under /_sandbox/ do to the server that serves them; the server implements it.
class Control {
public:
	// Connections accepted and TLS handshakes made, full or resumed, since the server was made or last
	// reset.
	struct Traffic {
		int connections = 0;
		int fullHandshakes = 0;
		int resumedHandshakes = 0;
	};

	virtual QList<Request> requests() const = 0;
	virtual void clearRequests() = 0;
	virtual Traffic traffic() const = 0;
	virtual void setFault(const QByteArray &path, const Fault &fault) = 0;
	virtual void clearFaults() = 0;
	virtual void releaseHeld() = 0;
	virtual void reset() = 0;

protected:
	~Control() = default;
};

} // namespace Sandbox
