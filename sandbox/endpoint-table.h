#pragma once

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QVariantHash>

#include <functional>

// What the sandbox's endpoints see and answer, apart from the server that serves them, so that the
// files of endpoints need not include it.
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

} // namespace Sandbox
