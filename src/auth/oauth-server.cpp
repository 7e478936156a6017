#include "auth/oauth-server.h"

#include "plugin-support.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace {
const quint16 FIRST_PORT = 38080;
const quint16 LAST_PORT = 38084;

// One layout for both pages; %1 title, %2 icon class, %3 icon colour, %4 icon, %5 heading,
// %6 paragraph, %7 the lines after the container.
const char *const PAGE_TEMPLATE =
	"<!DOCTYPE html>\n"
	"<html>\n"
	"<head>\n"
	"    <meta charset=\"utf-8\">\n"
	"    <title>%1</title>\n"
	"    <style>\n"
	"        body {\n"
	"            font-family: -apple-system, BlinkMacSystemFont, 'Segoe UI', Roboto, sans-serif;\n"
	"            background: linear-gradient(135deg, #1a1a2e 0%, #16213e 100%);\n"
	"            color: #fff;\n"
	"            display: flex;\n"
	"            justify-content: center;\n"
	"            align-items: center;\n"
	"            height: 100vh;\n"
	"            margin: 0;\n"
	"        }\n"
	"        .container {\n"
	"            text-align: center;\n"
	"            padding: 40px;\n"
	"            background: rgba(255,255,255,0.1);\n"
	"            border-radius: 16px;\n"
	"            backdrop-filter: blur(10px);\n"
	"        }\n"
	"        .%2 {\n"
	"            width: 80px;\n"
	"            height: 80px;\n"
	"            border-radius: 50%;\n"
	"            background: %3;\n"
	"            display: flex;\n"
	"            justify-content: center;\n"
	"            align-items: center;\n"
	"            margin: 0 auto 20px;\n"
	"            font-size: 40px;\n"
	"        }\n"
	"        h1 {\n"
	"            margin: 0 0 10px;\n"
	"        }\n"
	"        p {\n"
	"            color: #bdc3c7;\n"
	"            margin: 0;\n"
	"        }\n"
	"    </style>\n"
	"</head>\n"
	"<body>\n"
	"    <div class=\"container\">\n"
	"        <div class=\"%2\">%4</div>\n"
	"        <h1>%5</h1>\n"
	"        <p>%6</p>\n"
	"    </div>\n"
	"%7"
	"</body>\n"
	"</html>\n";

QString makePage(const QString &title, const QString &iconClass, const QString &colour, const QString &icon,
		 const QString &heading, const QString &paragraph, const QString &after)
{
	// The multi-argument arg() substitutes in one pass, so nothing inserted is substituted again.
	return QString::fromUtf8(PAGE_TEMPLATE).arg(title, iconClass, colour, icon, heading, paragraph, after);
}

QString successHtml()
{
	return makePage(QStringLiteral("Tiplark - Zalogowano"), QStringLiteral("checkmark"), QStringLiteral("#27ae60"),
			QString(QChar(0x2713)), QStringLiteral("Zalogowano pomyślnie!"),
			QStringLiteral("Możesz zamknąć to okno i wrócić do OBS."),
			QStringLiteral("    <script>setTimeout(() => window.close(), 3000);</script>\n"));
}

// The message comes from the redirect's query, that is from whoever sent the request: never markup.
QString escapeHtml(const QString &text)
{
	QString escaped;
	escaped.reserve(text.size());
	for (const QChar c : text) {
		switch (c.unicode()) {
		case '&':
			escaped += QLatin1String("&amp;");
			break;
		case '<':
			escaped += QLatin1String("&lt;");
			break;
		case '>':
			escaped += QLatin1String("&gt;");
			break;
		case '"':
			escaped += QLatin1String("&quot;");
			break;
		case '\'':
			escaped += QLatin1String("&#39;");
			break;
		default:
			escaped += c;
		}
	}
	return escaped;
}
} // namespace

OAuthServer::OAuthServer(QObject *parent) : QObject(parent), m_server(new QTcpServer(this))
{
	connect(m_server, &QTcpServer::newConnection, this, &OAuthServer::onNewConnection);
}

OAuthServer::~OAuthServer()
{
	stop();
}

bool OAuthServer::start()
{
	if (m_server->isListening())
		return true;

	for (quint16 port = FIRST_PORT; port <= LAST_PORT; ++port) {
		if (m_server->listen(QHostAddress::LocalHost, port)) {
			m_port = port;
			obs_log(LOG_INFO, "Tiplark: OAuth server listening on port %d", int(m_port));
			return true;
		}
	}

	obs_log(LOG_WARNING, "Tiplark: Failed to start OAuth server: %s", m_server->errorString().toUtf8().constData());
	return false;
}

void OAuthServer::stop()
{
	// Whatever is still connected can only be a spare browser connection or someone else's.
	while (!m_connections.isEmpty())
		closeWithoutAnswer(m_connections.first());

	if (!m_server->isListening())
		return;
	m_server->close();
	obs_log(LOG_INFO, "Tiplark: OAuth server stopped");
}

void OAuthServer::setExpectedState(const QString &state)
{
	m_expectedState = state;
}

QString OAuthServer::redirectUri() const
{
	return QStringLiteral("http://127.0.0.1:%1/callback").arg(m_port);
}

void OAuthServer::onNewConnection()
{
	while (m_server->hasPendingConnections()) {
		QTcpSocket *socket = m_server->nextPendingConnection();
		// Any local process can connect: a bounded number of connections at a time, each for a bounded
		// time, so that none can hold the listener or fill the GUI thread's work. When all are taken, one
		// makes way: refusing the newest would let whoever holds the places first lock the browser out.
		bool pushedIn = false;
		if (m_connections.size() >= MAX_CONNECTIONS) {
			QTcpSocket *leaving = makingWay();
			if (!leaving) {
				socket->close();
				socket->deleteLater();
				continue;
			}
			closeWithoutAnswer(leaving);
			pushedIn = true;
		}
		m_connections.append(socket);
		Peer &peer = m_peers[socket];
		peer.since.start();
		peer.pushedIn = pushedIn;

		// Counted from the connection on, not from its last byte: a drip keeps no connection open.
		auto *limit = new QTimer(socket);
		limit->setSingleShot(true);
		connect(limit, &QTimer::timeout, this, [this, socket] { closeWithoutAnswer(socket); });
		limit->start(m_connectionTimeoutMs);

		connect(socket, &QTcpSocket::readyRead, this, [this, socket] { handleRequest(socket); });
		connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
		connect(socket, &QObject::destroyed, this, [this, socket] {
			m_pending.remove(socket);
			m_peers.remove(socket);
			m_connections.removeOne(socket);
		});
		// What the browser sent with its connection is read now, not on a later turn of the event
		// loop, so that connections accepted after it in a flood cannot push it out unread.
		socket->waitForReadyRead(0);
	}
}

QTcpSocket *OAuthServer::makingWay() const
{
	// A browser sends its whole request line at once, or in a few pieces soon after it connects; whoever
	// holds a place sending nothing, or a byte now and then, falls behind it in time open per byte sent.
	// Of those past their grace the one furthest behind makes way, the oldest of equals. A newcomer's
	// grace keeps a browser that waits before its line from being pushed out by the connections that
	// follow it; and since whoever was pushed out may come straight back, only so many newcomers at a
	// time may push in, or their own grace would soon hold every place.
	QTcpSocket *leaving = nullptr;
	double furthestBehind = -1;
	int newcomers = 0;
	for (QTcpSocket *open : m_connections) {
		const Peer &peer = m_peers[open];
		const qint64 age = peer.since.elapsed();
		if (age < m_graceMs) {
			newcomers += peer.pushedIn ? 1 : 0;
			continue;
		}
		const double behind = double(age) / double(peer.bytes + 1);
		if (behind > furthestBehind) {
			furthestBehind = behind;
			leaving = open;
		}
	}
	return newcomers < MAX_NEWCOMERS ? leaving : nullptr;
}

void OAuthServer::handleRequest(QTcpSocket *socket)
{
	// A request line may arrive in several pieces: gather until it is complete, within a bound.
	const QByteArray bytes = socket->readAll();
	// Only a connection that has sent something counts as begun.
	if (bytes.isEmpty() && !m_pending.contains(socket))
		return;
	m_peers[socket].bytes += bytes.size();
	RequestLineReader &reader = m_pending[socket];
	const RequestLineReader::Status status = reader.append(bytes);
	if (status == RequestLineReader::Status::Incomplete)
		return;

	const QString requestLine = reader.requestLine();
	m_pending.remove(socket);
	// One answer per connection: nothing that arrives later is looked at.
	disconnect(socket, &QTcpSocket::readyRead, this, nullptr);
	if (status == RequestLineReader::Status::TooLong) {
		closeWithoutAnswer(socket);
		return;
	}
	answer(socket, requestLine);
}

void OAuthServer::answer(QTcpSocket *socket, const QString &requestLine)
{
	const RedirectQuery query = RedirectQuery::fromRequestLine(requestLine);
	if (!query.isGet) {
		closeWithoutAnswer(socket);
		return;
	}
	if (query.path != QLatin1String("/callback")) {
		reply(socket, QByteArrayLiteral("HTTP/1.1 404 Not Found\r\n"
						"Content-Length: 0\r\n"
						"Connection: close\r\n"
						"\r\n"));
		return;
	}
	// Only the authorization server knows the state: anything else is a page or a local process
	// trying to end the sign-in with a code of its own, and the sign-in goes on waiting.
	if (m_expectedState.isEmpty() || query.state != m_expectedState) {
		// Nothing of the live state goes to the log, where anyone reading it could finish the sign-in.
		obs_log(LOG_WARNING, "Tiplark: OAuth state mismatch");
		RedirectQuery refused;
		refused.error = QStringLiteral("Invalid state");
		reply(socket, answerFor(refused));
		return;
	}

	reply(socket, answerFor(query));
	if (!query.error.isEmpty())
		emit redirectFailed(query.error);
	else if (query.code.isEmpty())
		emit redirectFailed(QStringLiteral("No code received"));
	else
		emit codeReceived(query.code, query.state);
}

void OAuthServer::closeWithoutAnswer(QTcpSocket *socket)
{
	m_connections.removeOne(socket);
	m_pending.remove(socket);
	m_peers.remove(socket);
	socket->close();
	socket->deleteLater();
}

void OAuthServer::reply(QTcpSocket *socket, const QByteArray &response)
{
	m_connections.removeOne(socket);
	m_peers.remove(socket);
	socket->write(response);
	socket->flush();
	// Closes once the page is written, without waiting on the GUI thread; a browser that never reads it
	// is closed by the connection's time limit.
	socket->disconnectFromHost();
}

QByteArray OAuthServer::answerFor(const RedirectQuery &query)
{
	QString page;
	if (!query.error.isEmpty())
		page = createErrorHtml(query.error);
	else if (!query.code.isEmpty())
		page = successHtml();
	else
		page = createErrorHtml(QStringLiteral("No code received"));

	const QByteArray pageBytes = page.toUtf8();
	return QByteArrayLiteral("HTTP/1.1 200 OK\r\n"
				 "Content-Type: text/html; charset=utf-8\r\n"
				 "Content-Length: ") +
	       QByteArray::number(pageBytes.size()) +
	       QByteArrayLiteral("\r\n"
				 "Connection: close\r\n"
				 "\r\n") +
	       pageBytes;
}

QString OAuthServer::createErrorHtml(const QString &message)
{
	return makePage(QStringLiteral("Tiplark - Błąd"), QStringLiteral("error-icon"), QStringLiteral("#c0392b"),
			QString(QChar(0x2717)), QStringLiteral("Błąd logowania"), escapeHtml(message), QString());
}
