#include "sandbox-server.h"

#include "endpoints.h"

#include <httplib.h>
#include <openssl/ssl.h>

#include <QHash>
#include <QRegularExpression>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

namespace Sandbox {

namespace {

constexpr int kReadTimeoutMs = 5000;
constexpr int kWriteTimeoutMs = 5000;
// How long an idle TLS connection is kept for another request, and for how many: more than the dock's
// poll interval and more than a long test makes.
constexpr int kKeepAliveSeconds = 30;
constexpr int kKeepAliveRequests = 100000;

bool waitForSocket(int fd, short events, int timeoutMs)
{
	pollfd entry{fd, events, 0};
	int result;
	do {
		result = ::poll(&entry, 1, timeoutMs);
	} while (result < 0 && errno == EINTR);
	return result > 0;
}

void socketAddress(int fd, bool peer, std::string &ip, int &port)
{
	sockaddr_in address{};
	socklen_t length = sizeof(address);
	const int result = peer ? ::getpeername(fd, reinterpret_cast<sockaddr *>(&address), &length)
				: ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length);
	if (result != 0 || address.sin_family != AF_INET)
		return;
	char text[INET_ADDRSTRLEN] = {};
	::inet_ntop(AF_INET, &address.sin_addr, text, sizeof(text));
	ip = text;
	port = ntohs(address.sin_port);
}

// One connection's socket, or its TLS session over the socket, as httplib reads and writes it. It keeps
// the bytes of each request's header block as they arrive, because httplib's parsed headers are sorted
// and lose the order on the wire, and it can stop all writing so that a fault can end the connection
// without an answer.
class ConnectionStream : public httplib::Stream {
public:
	explicit ConnectionStream(int fd, SSL *tls = nullptr) : m_fd(fd), m_tls(tls) {}

	bool is_readable() const override { return hasBufferedBytes() || waitForSocket(m_fd, POLLIN, kReadTimeoutMs); }

	// Waits for the next request on a kept connection; false when the peer closed it, it stayed idle
	// for timeoutMs or stop says so.
	bool waitForNextRequest(int timeoutMs, const std::atomic<bool> &stop)
	{
		for (int waited = 0; waited < timeoutMs && !stop; waited += 100)
			if (hasBufferedBytes() || waitForSocket(m_fd, POLLIN, 100))
				return !stop;
		return false;
	}

	// The next request's header block starts with the bytes not read yet.
	void beginRequest()
	{
		m_headerBytes = QByteArray(m_buffer.data() + m_position, int(m_buffer.size() - m_position));
		m_headerComplete = m_headerBytes.contains("\r\n\r\n");
	}

	// cpp-httplib up to 0.18 (Debian 12 and 13) asks is_writable(); later ones (Debian forky) ask
	// wait_readable(), wait_writable() and duration() instead. The stream answers both, hence no override.
	bool is_writable() const { return !m_dropped && waitForSocket(m_fd, POLLOUT, kWriteTimeoutMs); }
	bool wait_readable() const { return is_readable(); }
	bool wait_writable() const { return is_writable(); }
	time_t duration() const
	{
		return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
									     m_opened)
			.count();
	}

	ssize_t read(char *ptr, size_t size) override
	{
		if (m_position >= m_buffer.size()) {
			if (!hasBufferedBytes() && !waitForSocket(m_fd, POLLIN, kReadTimeoutMs))
				return -1;
			char chunk[16384];
			ssize_t received;
			if (m_tls) {
				received = SSL_read(m_tls, chunk, int(sizeof(chunk)));
			} else {
				do {
					received = ::recv(m_fd, chunk, sizeof(chunk), 0);
				} while (received < 0 && errno == EINTR);
			}
			if (received <= 0)
				return received < 0 ? -1 : 0;
			m_buffer.assign(chunk, size_t(received));
			m_position = 0;
			if (!m_headerComplete) {
				m_headerBytes.append(chunk, int(received));
				m_headerComplete = m_headerBytes.contains("\r\n\r\n");
			}
		}
		const size_t count = std::min(size, m_buffer.size() - m_position);
		std::memcpy(ptr, m_buffer.data() + m_position, count);
		m_position += count;
		return ssize_t(count);
	}

	ssize_t write(const char *ptr, size_t size) override
	{
		if (!is_writable())
			return -1;
		if (m_tls) {
			const int sent = SSL_write(m_tls, ptr, int(std::min<size_t>(size, INT_MAX)));
			return sent > 0 ? sent : -1;
		}
		ssize_t sent;
		do {
			sent = ::send(m_fd, ptr, size, MSG_NOSIGNAL);
		} while (sent < 0 && errno == EINTR);
		return sent;
	}

	void get_remote_ip_and_port(std::string &ip, int &port) const override { socketAddress(m_fd, true, ip, port); }
	void get_local_ip_and_port(std::string &ip, int &port) const override { socketAddress(m_fd, false, ip, port); }
	socket_t socket() const override { return m_fd; }

	// The request line and header lines, without the blank line that ends them.
	QByteArray headerBlock() const
	{
		const int end = m_headerBytes.indexOf("\r\n\r\n");
		return end < 0 ? m_headerBytes : m_headerBytes.left(end);
	}

	// Writes bytes as they are; false when the peer is gone.
	bool writeRaw(const QByteArray &bytes)
	{
		const char *data = bytes.constData();
		qint64 left = bytes.size();
		while (left > 0) {
			const ssize_t sent = write(data, size_t(left));
			if (sent <= 0)
				return false;
			data += sent;
			left -= sent;
		}
		return true;
	}

	// Writes bytes as they are, then nothing more: httplib's own answer is never sent.
	void writeRawAndDrop(const QByteArray &bytes)
	{
		writeRaw(bytes);
		m_dropped = true;
	}

	void drop() { m_dropped = true; }
	bool dropped() const { return m_dropped; }

private:
	bool hasBufferedBytes() const { return m_position < m_buffer.size() || (m_tls && SSL_pending(m_tls) > 0); }

	int m_fd;
	SSL *m_tls;
	std::string m_buffer;
	size_t m_position = 0;
	QByteArray m_headerBytes;
	bool m_headerComplete = false;
	bool m_dropped = false;
	const std::chrono::steady_clock::time_point m_opened = std::chrono::steady_clock::now();
};

// The connection whose request the current thread is handling.
thread_local ConnectionStream *t_connection = nullptr;

Request parseRequest(const QByteArray &headerBlock, const httplib::Request &parsed)
{
	Request request;
	const QList<QByteArray> lines = headerBlock.split('\n');
	const QByteArray requestLine = lines.value(0).trimmed();
	const QList<QByteArray> words = requestLine.split(' ');
	request.method = words.value(0);
	request.target = words.value(1);
	if (request.method.isEmpty() || request.target.isEmpty()) {
		request.method = QByteArray::fromStdString(parsed.method);
		request.target = QByteArray::fromStdString(parsed.target);
	}
	const int question = request.target.indexOf('?');
	request.path = question < 0 ? request.target : request.target.left(question);
	request.query = question < 0 ? QByteArray() : request.target.mid(question + 1);
	for (int i = 1; i < lines.size(); ++i) {
		QByteArray line = lines[i];
		if (line.endsWith('\r'))
			line.chop(1);
		if (!line.isEmpty())
			request.headerLines.append(line);
	}
	request.body = QByteArray::fromStdString(parsed.body);
	return request;
}

QByteArray largeBody(qint64 size)
{
	const QByteArray open = "{\"filler\":\"";
	const QByteArray close = "\"}";
	if (size < open.size() + close.size())
		return QByteArray(int(size), 'x');
	return open + QByteArray(int(size - open.size() - close.size()), 'x') + close;
}

class HttpServer : public httplib::Server {
public:
	~HttpServer() override { SSL_CTX_free(tls); }

	SSL_CTX *tls = nullptr; // set: HTTPS, with connections kept for further requests
	std::atomic<bool> closing{false};
	std::atomic<int> connections{0};
	std::atomic<int> fullHandshakes{0};
	std::atomic<int> resumedHandshakes{0};

private:
	// Requests are read through a stream that keeps the raw header block for the record. Plain HTTP
	// serves one request per connection; TLS keeps the connection for further requests.
	bool process_and_close_socket(socket_t sock) override
	{
		++connections;
		SSL *session = tls ? acceptTls(sock) : nullptr;
		bool ok = !tls || session;
		if (ok) {
			ConnectionStream connection(sock, session);
			t_connection = &connection;
			int served = 0;
			for (bool more = true; more;) {
				connection.beginRequest();
				bool connectionClosed = false;
				ok = processRequest(connection, !session, connectionClosed, 0);
				more = ok && session && !connectionClosed && !connection.dropped() &&
				       ++served < kKeepAliveRequests &&
				       connection.waitForNextRequest(kKeepAliveSeconds * 1000, closing);
			}
			t_connection = nullptr;
		}
		if (session) {
			SSL_shutdown(session);
			SSL_free(session);
		}
		::shutdown(sock, SHUT_RDWR);
		::close(sock);
		return ok;
	}

	SSL *acceptTls(socket_t sock)
	{
		// A client that stalls in the handshake must not hold the thread for ever.
		const timeval limit{kReadTimeoutMs / 1000, 0};
		::setsockopt(sock, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof(limit));
		::setsockopt(sock, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof(limit));
		// On a kept connection an answer's last piece must not wait for the client's delayed ACK.
		const int noDelay = 1;
		::setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof(noDelay));
		SSL *session = SSL_new(tls);
		if (!session)
			return nullptr;
		SSL_set_fd(session, sock);
		if (SSL_accept(session) != 1) {
			SSL_free(session);
			return nullptr;
		}
		++(SSL_session_reused(session) ? resumedHandshakes : fullHandshakes);
		return session;
	}

	// cpp-httplib 0.14 and later (Debian 13) hand the peer's and the local address to the request too.
	template<typename Stream>
	auto processRequest(Stream &stream, bool closeConnection, bool &connectionClosed, int)
		-> decltype(process_request(stream, std::string(), 0, std::string(), 0, closeConnection,
					    connectionClosed, nullptr))
	{
		std::string remoteIp, localIp;
		int remotePort = 0, localPort = 0;
		stream.get_remote_ip_and_port(remoteIp, remotePort);
		stream.get_local_ip_and_port(localIp, localPort);
		return process_request(stream, remoteIp, remotePort, localIp, localPort, closeConnection,
				       connectionClosed, nullptr);
	}

	template<typename Stream>
	auto processRequest(Stream &stream, bool closeConnection, bool &connectionClosed, long)
		-> decltype(process_request(stream, closeConnection, connectionClosed, nullptr))
	{
		return process_request(stream, closeConnection, connectionClosed, nullptr);
	}
};

} // namespace

struct Server::Private {
	// A row of the table, with its pattern compiled once.
	struct Route {
		QByteArray method;
		QRegularExpression pattern;
		Handler handler;
	};

	HttpServer http;
	std::thread listener;
	quint16 port = 0;

	// Guards everything below but the state, which has its own lock.
	mutable std::mutex mutex;
	mutable std::condition_variable changed;
	QList<Request> records;
	QHash<QByteArray, Fault> faults;
	QList<Route> endpoints;
	QList<ResetHook> resetHooks;
	quint64 releases = 0;
	bool stopping = false;
	State state;

	Private()
	{
		http.new_task_queue = [] {
			return new httplib::ThreadPool(32);
		};
		// What the answers' Keep-Alive header announces (kept connections are TLS only).
		http.set_keep_alive_timeout(kKeepAliveSeconds);
		http.set_keep_alive_max_count(kKeepAliveRequests);
		// Without SO_REUSEPORT (httplib's default sets it): a second server on the same port must fail.
		http.set_socket_options([](socket_t sock) {
			int yes = 1;
			::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
		});
		const httplib::Server::Handler handler = [this](const httplib::Request &request,
								httplib::Response &response) {
			dispatch(request, response);
		};
		http.Get(".*", handler);
		http.Post(".*", handler);
		http.Put(".*", handler);
		http.Patch(".*", handler);
		http.Delete(".*", handler);
		http.Options(".*", handler);
	}

	bool takeFault(const Request &request, Fault &fault)
	{
		auto it = faults.find(request.path);
		if (it == faults.end() || (!it->method.isEmpty() && it->method != request.method))
			return false;
		fault = *it;
		if (it->times > 0 && --it->times == 0)
			faults.erase(it);
		return true;
	}

	// Waits until timeoutMs passed (-1: forever), the held requests were released or the server stops.
	// False when the server is stopping.
	bool pause(int timeoutMs)
	{
		std::unique_lock<std::mutex> lock(mutex);
		const quint64 release = releases;
		auto over = [&] {
			return stopping || releases != release;
		};
		if (timeoutMs < 0)
			changed.wait(lock, over);
		else
			changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), over);
		return !stopping;
	}

	void applyFault(const Fault &fault, httplib::Response &response)
	{
		if (fault.delayMs > 0 && !pause(fault.delayMs)) {
			t_connection->drop();
			return;
		}
		switch (fault.kind) {
		case Fault::Kind::Respond:
			response.status = fault.status;
			response.set_content(fault.body.toStdString(), fault.contentType.toStdString());
			break;
		case Fault::Kind::Close:
			t_connection->drop();
			break;
		case Fault::Kind::Hold:
			if (!pause(-1)) {
				t_connection->drop();
				return;
			}
			response.status = 503;
			response.set_content("{\"error\":\"released\"}", "application/json");
			break;
		case Fault::Kind::Redirect:
			response.status = fault.status;
			response.set_header("Location", fault.location.toStdString());
			break;
		case Fault::Kind::Malformed:
			response.status = 200;
			response.set_content("{\"data\": [{\"id\": \"1\", \"amount\": ", "application/json");
			break;
		case Fault::Kind::Large:
			response.status = 200;
			response.set_content(largeBody(fault.size).toStdString(), "application/json");
			break;
		case Fault::Kind::Raw:
			t_connection->writeRawAndDrop(fault.body);
			break;
		case Fault::Kind::Drip:
			drip(fault);
			break;
		}
	}

	void drip(const Fault &fault)
	{
		const QByteArray head = "HTTP/1.1 200 OK\r\nContent-Type: " + fault.contentType +
					"\r\nContent-Length: " + QByteArray::number(fault.body.size()) +
					"\r\nConnection: close\r\n\r\n";
		const qint64 piece = qMax<qint64>(fault.size, 1);
		bool ok = t_connection->writeRaw(head);
		for (qint64 at = 0; ok && at < fault.body.size(); at += piece) {
			if (at > 0 && !pause(fault.intervalMs))
				break;
			ok = t_connection->writeRaw(fault.body.mid(int(at), int(piece)));
		}
		t_connection->drop();
	}

	void dispatch(const httplib::Request &parsed, httplib::Response &response)
	{
		Request request = parseRequest(t_connection ? t_connection->headerBlock() : QByteArray(), parsed);
		const bool control = request.path.startsWith("/_sandbox/");
		Fault fault;
		bool faulty = false;
		QList<Route> candidates;
		{
			std::lock_guard<std::mutex> lock(mutex);
			if (!control) {
				records.append(request);
				changed.notify_all();
				faulty = takeFault(request, fault);
			}
			candidates = endpoints;
		}
		if (faulty) {
			applyFault(fault, response);
			return;
		}

		bool pathKnown = false;
		for (const Route &endpoint : candidates) {
			const auto match = endpoint.pattern.match(QString::fromUtf8(request.path));
			if (!match.hasMatch())
				continue;
			pathKnown = true;
			if (endpoint.method != request.method)
				continue;
			request.captures = match.capturedTexts().mid(1);
			const Reply reply = endpoint.handler(request, state);
			response.status = reply.status;
			for (const auto &header : reply.headers)
				response.set_header(header.first.toStdString(), header.second.toStdString());
			response.set_content(reply.body.toStdString(), reply.contentType.toStdString());
			return;
		}
		response.status = pathKnown ? 405 : 404;
		response.set_content(pathKnown ? "{\"error\":\"method_not_allowed\"}" : "{\"error\":\"not_found\"}",
				     "application/json");
	}

	void runResetHooks()
	{
		QList<ResetHook> hooks;
		{
			std::lock_guard<std::mutex> lock(mutex);
			hooks = resetHooks;
		}
		QMutexLocker lock(&state.mutex);
		state.values.clear();
		for (const ResetHook &hook : hooks)
			hook(state);
	}
};

Server::Server() : d(std::make_unique<Private>())
{
	// The one list of the table's groups: the control endpoints, by which tests in other processes drive
	// this server, then the service's own.
	for (const EndpointGroup &group : {controlEndpoints(*this), oauthEndpoints(), apiEndpoints()}) {
		for (const Endpoint &endpoint : group.endpoints)
			addEndpoint(endpoint.method, endpoint.pathPattern, endpoint.handler);
		for (const ResetHook &hook : group.resetHooks)
			addResetHook(hook);
	}
}

Server::~Server()
{
	stop();
}

bool Server::startTls(const QString &certificateChain, const QString &privateKey, quint16 port)
{
	if (d->listener.joinable())
		return false;
	SSL_CTX *tls = SSL_CTX_new(TLS_server_method());
	if (!tls || SSL_CTX_use_certificate_chain_file(tls, certificateChain.toLocal8Bit().constData()) != 1 ||
	    SSL_CTX_use_PrivateKey_file(tls, privateKey.toLocal8Bit().constData(), SSL_FILETYPE_PEM) != 1 ||
	    SSL_CTX_check_private_key(tls) != 1) {
		SSL_CTX_free(tls);
		return false;
	}
	SSL_CTX_free(d->http.tls);
	d->http.tls = tls;
	return start(port);
}

bool Server::start(quint16 port)
{
	if (d->listener.joinable())
		return false;
	{
		std::lock_guard<std::mutex> lock(d->mutex);
		d->stopping = false;
	}
	d->http.closing = false;
	if (port == 0) {
		const int bound = d->http.bind_to_any_port("127.0.0.1");
		if (bound <= 0)
			return false;
		d->port = quint16(bound);
	} else {
		if (!d->http.bind_to_port("127.0.0.1", port))
			return false;
		d->port = port;
	}
	d->listener = std::thread([this] { d->http.listen_after_bind(); });
	// stop() only takes effect once the accept loop runs.
	for (int i = 0; i < 5000 && !d->http.is_running(); ++i)
		std::this_thread::sleep_for(std::chrono::milliseconds(1));
	return d->http.is_running();
}

void Server::stop()
{
	if (!d->listener.joinable())
		return;
	{
		std::lock_guard<std::mutex> lock(d->mutex);
		d->stopping = true;
		d->changed.notify_all();
	}
	d->http.closing = true;
	d->http.stop();
	d->listener.join();
}

quint16 Server::port() const
{
	return d->port;
}

QString Server::baseUrl() const
{
	return QStringLiteral("%1://127.0.0.1:%2").arg(d->http.tls ? "https" : "http").arg(d->port);
}

void Server::addEndpoint(const QByteArray &method, const QString &pathPattern, Handler handler)
{
	std::lock_guard<std::mutex> lock(d->mutex);
	d->endpoints.append(
		{method, QRegularExpression(QRegularExpression::anchoredPattern(pathPattern)), std::move(handler)});
}

void Server::addResetHook(ResetHook hook)
{
	{
		std::lock_guard<std::mutex> lock(d->mutex);
		d->resetHooks.append(hook);
	}
	QMutexLocker lock(&d->state.mutex);
	hook(d->state);
}

State &Server::state()
{
	return d->state;
}

QList<Request> Server::requests() const
{
	std::lock_guard<std::mutex> lock(d->mutex);
	return d->records;
}

QList<Request> Server::requests(const QByteArray &path) const
{
	QList<Request> matching;
	for (const Request &request : requests())
		if (request.path == path)
			matching.append(request);
	return matching;
}

int Server::requestCount() const
{
	std::lock_guard<std::mutex> lock(d->mutex);
	return int(d->records.size());
}

bool Server::waitForRequests(int count, int timeoutMs) const
{
	std::unique_lock<std::mutex> lock(d->mutex);
	return d->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
				   [&] { return d->records.size() >= count; });
}

void Server::clearRequests()
{
	std::lock_guard<std::mutex> lock(d->mutex);
	d->records.clear();
}

Server::Traffic Server::traffic() const
{
	Traffic traffic;
	traffic.connections = d->http.connections;
	traffic.fullHandshakes = d->http.fullHandshakes;
	traffic.resumedHandshakes = d->http.resumedHandshakes;
	return traffic;
}

void Server::setFault(const QByteArray &path, const Fault &fault)
{
	std::lock_guard<std::mutex> lock(d->mutex);
	d->faults.insert(path, fault);
}

void Server::clearFault(const QByteArray &path)
{
	std::lock_guard<std::mutex> lock(d->mutex);
	d->faults.remove(path);
}

void Server::clearFaults()
{
	std::lock_guard<std::mutex> lock(d->mutex);
	d->faults.clear();
}

void Server::releaseHeld()
{
	std::lock_guard<std::mutex> lock(d->mutex);
	++d->releases;
	d->changed.notify_all();
}

void Server::reset()
{
	{
		std::lock_guard<std::mutex> lock(d->mutex);
		d->records.clear();
		d->faults.clear();
		++d->releases;
		d->changed.notify_all();
	}
	d->http.connections = 0;
	d->http.fullHandshakes = 0;
	d->http.resumedHandshakes = 0;
	d->runResetHooks();
}

} // namespace Sandbox
