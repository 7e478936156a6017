#include "auth/redirect-request.h"

#include <QRegularExpression>
#include <QUrl>
#include <QUrlQuery>

RequestLineReader::Status RequestLineReader::append(const QByteArray &bytes)
{
	if (m_status != Status::Incomplete)
		return m_status;

	m_received += bytes;
	const int lineEnd = m_received.indexOf('\n');
	if (lineEnd < 0 || lineEnd >= MAX_REQUEST_LINE_BYTES) {
		if (m_received.size() >= MAX_REQUEST_LINE_BYTES) {
			m_status = Status::TooLong;
			m_received.clear();
		}
		return m_status;
	}

	m_requestLine = QString::fromUtf8(m_received.constData(), lineEnd + 1);
	m_received.clear();
	m_status = Status::Complete;
	return m_status;
}

RedirectQuery RedirectQuery::fromRequestLine(const QString &requestLine)
{
	static const QRegularExpression pattern(QStringLiteral("GET ([^ ]+) HTTP"));
	const QRegularExpressionMatch match = pattern.match(requestLine);
	RedirectQuery result;
	if (!match.hasMatch())
		return result;

	const QUrl url(QStringLiteral("http://localhost") + match.captured(1));
	const QUrlQuery query(url);
	result.isGet = true;
	result.path = url.path();
	result.code = query.queryItemValue(QStringLiteral("code"));
	result.state = query.queryItemValue(QStringLiteral("state"));
	result.error = query.queryItemValue(QStringLiteral("error"));
	return result;
}
