// Feeds arbitrary bytes, cut into arbitrary pieces, to the sign-in listener's request reading: the
// request-line gathering, the reading of the redirect's query and the answer built from it. The first
// byte says how many of the following bytes are piece lengths; the rest is what the connection carries.
#include "auth/oauth-server.h"
#include "auth/redirect-request.h"

#include "fuzz-support.h"

#include <cstddef>
#include <cstdint>

namespace {
// Markup the answer carries whatever the query said; a query that adds any is markup injected.
int tagCount(const QByteArray &answer)
{
	return answer.count('<');
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
	base_set_log_handler(formatAndDrop, nullptr);
	return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	if (size == 0)
		return 0;
	const size_t lengthCount = data[0] % 8;
	if (size < 1 + lengthCount)
		return 0;
	const uint8_t *lengths = data + 1;
	const QByteArray stream(reinterpret_cast<const char *>(data + 1 + lengthCount),
				static_cast<int>(size - 1 - lengthCount));

	// As the bytes arrive, in pieces.
	RequestLineReader pieces;
	int offset = 0;
	for (size_t i = 0; offset < stream.size() && pieces.status() == RequestLineReader::Status::Incomplete; ++i) {
		const int length = lengthCount ? 1 + lengths[i % lengthCount] : stream.size();
		pieces.append(stream.mid(offset, length));
		offset += length;
	}
	// All at once: how the bytes were cut must not change the outcome.
	RequestLineReader whole;
	whole.append(stream);
	check(pieces.status() == whole.status(), "outcome depends on how the bytes were cut");
	check(pieces.requestLine() == whole.requestLine(), "request line depends on how the bytes were cut");
	if (whole.status() != RequestLineReader::Status::Complete)
		return 0;
	check(whole.requestLine().endsWith(QLatin1Char('\n')), "request line without its end");
	check(whole.requestLine().toUtf8().size() <= RequestLineReader::MAX_REQUEST_LINE_BYTES * 3,
	      "request line beyond the bound");

	const RedirectQuery query = RedirectQuery::fromRequestLine(whole.requestLine());
	if (!query.isGet)
		return 0;
	const QByteArray answer = OAuthServer::answerFor(query);
	const int headerEnd = answer.indexOf("\r\n\r\n");
	check(headerEnd > 0, "answer without a header end");
	const QByteArray body = answer.mid(headerEnd + 4);
	check(answer.contains("Content-Length: " + QByteArray::number(body.size()) + "\r\n"),
	      "Content-Length differs from the page");

	RedirectQuery plain;
	if (!query.error.isEmpty())
		plain.error = QStringLiteral("x");
	else if (!query.code.isEmpty())
		plain.code = QStringLiteral("x");
	check(tagCount(answer) == tagCount(OAuthServer::answerFor(plain)), "query text became markup");

	g_sink = g_sink + size_t(answer.size()) + size_t(query.state.size());
	return 0;
}
