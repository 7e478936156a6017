#pragma once

#include <QByteArray>
#include <QString>

// The sign-in listener's reading of a request, apart from its sockets, so that it can be fed any bytes.

// Gathers a connection's bytes until its request line is complete, within a bound.
class RequestLineReader {
public:
	enum class Status { Incomplete, Complete, TooLong };

	static constexpr int MAX_REQUEST_LINE_BYTES = 8192;

	// Adds what arrived; once Complete or TooLong, the outcome stays and later bytes are ignored.
	Status append(const QByteArray &bytes);
	Status status() const { return m_status; }
	// The request line with its line end, once Complete.
	QString requestLine() const { return m_requestLine; }

private:
	QByteArray m_received;
	QString m_requestLine;
	Status m_status = Status::Incomplete;
};

// What the browser's redirect carried in its query.
struct RedirectQuery {
	bool isGet = false; // the line is "GET <target> HTTP..."; nothing else is answered
	QString path;
	QString code;
	QString state;
	QString error;

	static RedirectQuery fromRequestLine(const QString &requestLine);
};
