#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>

// The result of one HTTP exchange. error is non-empty exactly when statusCode is -1; an HTTP error
// status is not a failure here: it comes back with its status and body, and the caller decides.
struct HttpResponse {
	int statusCode = 0;
	QByteArray body;
	QString error;
};

// Blocking HTTP calls for worker threads: each call makes its own easy handle and releases it before
// returning, so any number may run at once on different threads. Never call them on the GUI thread.
// While a Transport exists, they reuse its connections and TLS sessions, and end within a tenth of a second
// once it shuts down, with libcurl's "aborted by an application callback" failure.
namespace CurlHelper {
// When a kept connection closes before the first byte of the answer, libcurl sends the request again on
// a new one, although the server may have acted on it already. Requests that must not act twice (the
// skip, the token endpoint's) go out once only, on a connection of their own.
enum class Resend { Allowed, Never };

// maxBodyBytes: a smaller bound than MAX_BODY_BYTES, for answers that are small by nature.
HttpResponse get(const QString &url, const QMap<QString, QString> &headers, qsizetype maxBodyBytes = 0);
HttpResponse post(const QString &url, const QByteArray &body, const QMap<QString, QString> &headers,
		  Resend resend = Resend::Allowed);
HttpResponse patch(const QString &url, const QByteArray &body, const QMap<QString, QString> &headers);

// A POST to the token endpoint, whose form carries the code, the verifier or the refresh token and whose
// answer carries tokens: no redirect is followed, so the form goes to url and nowhere else, and the
// answer's body never reaches the log. Never sent twice: a code or a rotating refresh token is spent
// by its first use.
HttpResponse postCredentials(const QString &url, const QByteArray &body, const QMap<QString, QString> &headers);

// How many redirects the other requests follow at most; more end as a failure.
constexpr long MAX_REDIRECTS = 5;

// Answers larger than this end as a failure ("Response body too large (over 16 MiB)"), as do those past
// a request's own bound ("... (over 64 KiB)").
constexpr qsizetype MAX_BODY_BYTES = 16 * 1024 * 1024;

// The schemes a followed redirect may lead to, in libcurl's CURLOPT_REDIR_PROTOCOLS_STR form: only
// "https" for an https URL, so a redirect never carries the token in clear text.
QString allowedRedirectProtocols(const QString &url);
} // namespace CurlHelper
