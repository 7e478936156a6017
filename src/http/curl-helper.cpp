#include "curl-helper.h"

#include "log-text.h"
#include "transport.h"
#include "plugin-support.h"

#include <algorithm>

namespace {

// What the write callback fills; tooLarge is set when an answer would pass limit.
struct ReceiveBuffer {
	QByteArray bytes;
	qsizetype limit = CurlHelper::MAX_BODY_BYTES;
	bool tooLarge = false;
};

QByteArray sizeText(qsizetype bytes)
{
	if (bytes % (1024 * 1024) == 0)
		return QByteArray::number(bytes / (1024 * 1024)) + " MiB";
	return QByteArray::number(bytes / 1024) + " KiB";
}

size_t writeCallback(void *contents, size_t size, size_t nmemb, void *userp)
{
	auto *buffer = static_cast<ReceiveBuffer *>(userp);
	const size_t total = size * nmemb;
	// A broken or hostile server must not fill OBS's memory: past the limit the transfer ends here
	// (libcurl fails it with a write error).
	if (total > size_t(buffer->limit - buffer->bytes.size())) {
		buffer->tooLarge = true;
		return 0;
	}
	buffer->bytes.append(static_cast<const char *>(contents), qsizetype(total));
	return total;
}

// curl_easy_perform, in a multi handle of the request's own, which reads the transport's abort flag between
// waits of at most 100 ms. The transport is aborted at module unload: the module's code is about to go
// away, so no transfer may stay inside libcurl, in a name lookup neither (where libcurl 8.22, Debian forky's,
// calls no progress callback that could end it).
CURLcode perform(const HostLibcurl &libcurl, CURL *curl, const Transport *transport)
{
	CURLM *multi = libcurl.multi_init();
	if (!multi)
		return CURLE_OUT_OF_MEMORY;
#if CURL_AT_LEAST_VERSION(8, 20, 0)
	// The lookup threads belong to the multi handle there; a hung one is left to end by itself.
	libcurl.multi_setopt(multi, CURLMOPT_QUICK_EXIT, 1L);
#endif
	CURLMcode added = libcurl.multi_add_handle(multi, curl);
	CURLcode result = added == CURLM_OUT_OF_MEMORY ? CURLE_OUT_OF_MEMORY : CURLE_FAILED_INIT;
	for (bool running = added == CURLM_OK; running;) {
		int transfers = 0;
		if (libcurl.multi_perform(multi, &transfers) != CURLM_OK) {
			running = false;
		} else if (transfers == 0) {
			int queued = 0;
			const CURLMsg *message = libcurl.multi_info_read(multi, &queued);
			if (message && message->msg == CURLMSG_DONE)
				result = message->data.result;
			running = false;
		} else if (transport && transport->aborted()) {
			// What libcurl reports when a callback ends a transfer: the log names it so.
			result = CURLE_ABORTED_BY_CALLBACK;
			running = false;
		} else {
			libcurl.multi_poll(multi, nullptr, 0, 100, nullptr);
		}
	}
	if (added == CURLM_OK)
		libcurl.multi_remove_handle(multi, curl);
	libcurl.multi_cleanup(multi);
	return result;
}

// Whether a request's form or answer carries credentials.
enum class Carries { Data, Credentials };

HttpResponse doRequest(const QString &method, const QString &url, const QByteArray &body,
		       const QMap<QString, QString> &headers, Carries carries = Carries::Data,
		       CurlHelper::Resend resend = CurlHelper::Resend::Allowed, qsizetype maxBodyBytes = 0)
{
	HttpResponse response;
	const QByteArray urlBytes = url.toUtf8();
	const QByteArray methodBytes = method.toUtf8();
	obs_log(LOG_INFO, "Tiplark HTTP: %s %s", methodBytes.constData(), urlBytes.constData());

	// A worker runs only while its transport exists; a direct call finds the module's, or none.
	Transport *transport = Transport::current();
	const HostLibcurl *libcurl = transport ? transport->libcurl() : HostLibcurl::host();
	if (!libcurl) {
		// Said once in the log, at load, with what to install.
		response.error = QStringLiteral("No libcurl in this system");
		response.statusCode = -1;
		return response;
	}
	CURL *curl = libcurl->easy_init();
	if (!curl) {
		response.error = QStringLiteral("Failed to initialize curl");
		response.statusCode = -1;
		obs_log(LOG_ERROR, "Tiplark HTTP: Failed to initialize curl");
		return response;
	}

	ReceiveBuffer received;
	if (maxBodyBytes > 0)
		received.limit = std::min(maxBodyBytes, CurlHelper::MAX_BODY_BYTES);
	const QByteArray redirectProtocols = CurlHelper::allowedRedirectProtocols(url).toUtf8();
	const QByteArray userAgent = QStringLiteral("OBS-Tiplark/%1").arg(QString::fromUtf8(PLUGIN_VERSION)).toUtf8();
	// Every option here keeps a request within its bounds (where it goes, how long it takes, how much
	// it takes in): one that libcurl refuses ends the request before anything is sent.
	CURLcode setup = CURLE_OK;
	auto require = [&setup](CURLcode code) {
		if (setup == CURLE_OK)
			setup = code;
	};
	const bool follow = carries == Carries::Data;
	require(libcurl->easy_setopt(curl, CURLOPT_URL, urlBytes.constData()));
	// The path goes out as the plug-in wrote it: libcurl 8 would resolve an id of "%2E%2E" as a
	// dot-segment, and a decision on that message would go to the moderation switch instead.
	require(libcurl->easy_setopt(curl, CURLOPT_PATH_AS_IS, 1L));
	require(libcurl->easy_setopt(curl, CURLOPT_WRITEFUNCTION, writeCallback));
	require(libcurl->easy_setopt(curl, CURLOPT_WRITEDATA, &received));
	require(libcurl->easy_setopt(curl, CURLOPT_TIMEOUT, 30L));
	require(libcurl->easy_setopt(curl, CURLOPT_FOLLOWLOCATION, follow ? 1L : 0L));
	if (follow) {
		require(libcurl->easy_setopt(curl, CURLOPT_MAXREDIRS, CurlHelper::MAX_REDIRECTS));
		require(libcurl->easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, redirectProtocols.constData()));
	}
	libcurl->easy_setopt(curl, CURLOPT_VERBOSE, 0L);
	libcurl->easy_setopt(curl, CURLOPT_USERAGENT, userAgent.constData());
	// Safe use from several threads at once: no signals for timeouts.
	require(libcurl->easy_setopt(curl, CURLOPT_NOSIGNAL, 1L));
	// An aborted transfer must not then wait in the clean-up for a name lookup that hangs (libcurl before
	// 8.20, where the lookup's thread belongs to the transfer): the thread is left to end by itself, so
	// that unload is not held past its deadline.
	require(libcurl->easy_setopt(curl, CURLOPT_QUICK_EXIT, 1L));
	ConnectionCache *cache = transport ? transport->connections() : nullptr;
	CURLSH *share = cache ? cache->lend() : nullptr;
	if (share)
		libcurl->easy_setopt(curl, CURLOPT_SHARE, share);
	// libcurl sends again only what went out on a kept connection: a new one is never re-sent.
	if (resend == CurlHelper::Resend::Never)
		require(libcurl->easy_setopt(curl, CURLOPT_FRESH_CONNECT, 1L));

	struct curl_slist *headerList = nullptr;
	for (auto it = headers.constBegin(); it != headers.constEnd(); ++it) {
		// Both replaced in one pass, so a percent sign in a name or value is never substituted again.
		// libcurl drops a "Name:" line with nothing after it; "Name;" is its way to send an empty value.
		const QByteArray line = it.value().isEmpty()
						? QStringLiteral("%1;").arg(it.key()).toUtf8()
						: QStringLiteral("%1: %2").arg(it.key(), it.value()).toUtf8();
		headerList = libcurl->slist_append(headerList, line.constData());
	}
	if (headerList)
		require(libcurl->easy_setopt(curl, CURLOPT_HTTPHEADER, headerList));

	// Never a null pointer: an empty body goes out as an empty text of size 0.
	const char *bodyData = body.constData();
	if (method == QLatin1String("POST")) {
		require(libcurl->easy_setopt(curl, CURLOPT_POST, 1L));
		require(libcurl->easy_setopt(curl, CURLOPT_POSTFIELDS, bodyData));
		require(libcurl->easy_setopt(curl, CURLOPT_POSTFIELDSIZE, long(body.size())));
		obs_log(LOG_DEBUG, "Tiplark HTTP: POST body size: %d bytes", int(body.size()));
	} else if (method == QLatin1String("PATCH")) {
		require(libcurl->easy_setopt(curl, CURLOPT_CUSTOMREQUEST, "PATCH"));
		require(libcurl->easy_setopt(curl, CURLOPT_POSTFIELDS, bodyData));
		require(libcurl->easy_setopt(curl, CURLOPT_POSTFIELDSIZE, long(body.size())));
		obs_log(LOG_DEBUG, "Tiplark HTTP: PATCH body size: %d bytes", int(body.size()));
	} else if (method == QLatin1String("GET")) {
		require(libcurl->easy_setopt(curl, CURLOPT_HTTPGET, 1L));
	}

	CURLcode result = setup;
	if (result == CURLE_OK) {
		obs_log(LOG_DEBUG, "Tiplark HTTP: Executing request...");
		result = perform(*libcurl, curl, transport);
	}

	if (result != CURLE_OK) {
		const QByteArray description =
			received.tooLarge ? "Response body too large (over " + sizeText(received.limit) + ")"
					  : QByteArray(libcurl->easy_strerror(result));
		response.error = QString::fromUtf8(description);
		response.statusCode = -1;
		obs_log(LOG_ERROR, "Tiplark HTTP: Request failed: %s (code %d)", description.constData(), int(result));
	} else {
		long status = 0;
		libcurl->easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
		response.statusCode = int(status);
		response.body = received.bytes;
		obs_log(LOG_INFO, "Tiplark HTTP: Response %ld, body size: %d bytes", status,
			int(received.bytes.size()));
		// Error answers may hold personal data, and the token endpoint's may echo credentials.
		if (status >= 400 && carries == Carries::Data) {
			const QByteArray excerpt = received.bytes.left(500);
			obs_log(LOG_DEBUG, "Tiplark HTTP: Error response body: %s", logText(excerpt).constData());
		}
	}

	if (headerList)
		libcurl->slist_free_all(headerList);
	libcurl->easy_cleanup(curl);
	if (cache)
		cache->giveBack(share);
	return response;
}

} // namespace

HttpResponse CurlHelper::get(const QString &url, const QMap<QString, QString> &headers, qsizetype maxBodyBytes)
{
	return doRequest(QStringLiteral("GET"), url, QByteArray(), headers, Carries::Data, Resend::Allowed,
			 maxBodyBytes);
}

HttpResponse CurlHelper::post(const QString &url, const QByteArray &body, const QMap<QString, QString> &headers,
			      Resend resend)
{
	return doRequest(QStringLiteral("POST"), url, body, headers, Carries::Data, resend);
}

HttpResponse CurlHelper::postCredentials(const QString &url, const QByteArray &body,
					 const QMap<QString, QString> &headers)
{
	return doRequest(QStringLiteral("POST"), url, body, headers, Carries::Credentials, Resend::Never);
}

HttpResponse CurlHelper::patch(const QString &url, const QByteArray &body, const QMap<QString, QString> &headers)
{
	return doRequest(QStringLiteral("PATCH"), url, body, headers);
}

QString CurlHelper::allowedRedirectProtocols(const QString &url)
{
	// A request that went out over TLS never follows a redirect into clear text, where the bearer
	// token would travel readable. Plain http (only the local sandbox uses it) may go to either.
	if (url.startsWith(QLatin1String("https://"), Qt::CaseInsensitive))
		return QStringLiteral("https");
	return QStringLiteral("http,https");
}
