#pragma once

#include "auth/redirect-request.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QList>
#include <QString>

class QTcpServer;
class QTcpSocket;

// Short-lived HTTP listener on 127.0.0.1 that receives the browser's redirect at the end of the sign-in,
// answers it with a small Polish page and reports the code and state it carried.
class OAuthServer : public QObject {
	Q_OBJECT

public:
	explicit OAuthServer(QObject *parent = nullptr);
	~OAuthServer() override;

	// Binds the first free port of 38080-38084 unless already listening; true when listening afterwards.
	bool start();
	// Stops listening and closes every connection still open.
	void stop();
	QString redirectUri() const;

	// The state of the sign-in in progress: only a redirect to /callback that carries it is taken.
	void setExpectedState(const QString &state);

	// How much of a request is gathered while waiting for its request line, how long a connection may
	// stay open in all, and how many may be open at once.
	static constexpr int MAX_REQUEST_LINE_BYTES = RequestLineReader::MAX_REQUEST_LINE_BYTES;
	static constexpr int CONNECTION_TIMEOUT_MS = 10000;
	static constexpr int MAX_CONNECTIONS = 64;
	// A connection in its first GRACE_MS never makes way: a browser may wait a while before its request
	// line. At most MAX_NEWCOMERS connections in their grace may have pushed another out.
	static constexpr int GRACE_MS = 100;
	static constexpr int MAX_NEWCOMERS = 8;
	void setConnectionTimeout(int ms) { m_connectionTimeoutMs = ms; }
	void setGraceTime(int ms) { m_graceMs = ms; }

	// The whole HTTP answer to a redirect that carried query: the success page when it has a code and
	// no error, else the error page.
	static QByteArray answerFor(const RedirectQuery &query);

signals:
	// The redirect of the sign-in in progress, with its code...
	void codeReceived(const QString &code, const QString &state);
	// ... or with the authorization server's error in place of a code.
	void redirectFailed(const QString &error);

private slots:
	void onNewConnection();

private:
	// The open connection that makes way for a newcomer when every place is taken; null when none may.
	QTcpSocket *makingWay() const;
	void handleRequest(QTcpSocket *socket);
	void answer(QTcpSocket *socket, const QString &requestLine);
	void reply(QTcpSocket *socket, const QByteArray &response);
	void closeWithoutAnswer(QTcpSocket *socket);
	static QString createErrorHtml(const QString &message);

	QTcpServer *m_server = nullptr;
	quint16 m_port = 0;
	QString m_expectedState;
	int m_connectionTimeoutMs = CONNECTION_TIMEOUT_MS;
	int m_graceMs = GRACE_MS;
	// Open connections that have not been answered, oldest first.
	QList<QTcpSocket *> m_connections;
	// Connections that have sent part of a request line, and no more yet.
	QHash<QTcpSocket *, RequestLineReader> m_pending;
	// Each open connection: since when, how many bytes it has sent, and whether it pushed another out.
	struct Peer {
		QElapsedTimer since;
		qint64 bytes = 0;
		bool pushedIn = false;
	};
	QHash<QTcpSocket *, Peer> m_peers;
};
