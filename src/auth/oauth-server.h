#pragma once

#include "auth/redirect-request.h"

#include <QByteArray>
#include <QHash>
#include <QObject>
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
	void stop();
	QString redirectUri() const;

	// How much of a request is gathered while waiting for its request line, and how long a connection
	// may stay silent before it is dropped.
	static constexpr int MAX_REQUEST_LINE_BYTES = RequestLineReader::MAX_REQUEST_LINE_BYTES;
	static constexpr int IDLE_TIMEOUT_MS = 10000;

	// The whole HTTP answer to a redirect that carried query: the success page when it has a code and
	// no error, else the error page.
	static QByteArray answerFor(const RedirectQuery &query);

signals:
	void codeReceived(const QString &code, const QString &state);

private slots:
	void onNewConnection();

private:
	void handleRequest(QTcpSocket *socket);
	void answer(QTcpSocket *socket, const QString &requestLine);
	static QString createErrorHtml(const QString &message);

	QTcpServer *m_server = nullptr;
	quint16 m_port = 0;
	// Connections whose request line is not complete yet.
	QHash<QTcpSocket *, RequestLineReader> m_pending;
};
