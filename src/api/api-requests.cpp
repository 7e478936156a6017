#include "api-requests.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>

namespace {
QByteArray indentedObject(const QString &key, const QJsonValue &value)
{
	QJsonObject obj;
	obj.insert(key, value);
	return QJsonDocument(obj).toJson(QJsonDocument::Indented);
}
} // namespace

QByteArray ApiRequests::moderationStatusBody(bool enabled)
{
	return indentedObject(QStringLiteral("enabled"), enabled);
}

QByteArray ApiRequests::moderationDecisionBody(bool accept)
{
	return indentedObject(QStringLiteral("action"), accept ? QStringLiteral("accept") : QStringLiteral("reject"));
}

QString ApiRequests::moderationPath(const QString &messageId)
{
	// An id comes from the service's answer: "/", "?", "#" or "%" in it must not turn the request into
	// one for another endpoint. Dots are unreserved and stay, except where the whole id is "." or "..",
	// which libcurl would resolve as a dot-segment.
	const bool dotSegment = messageId == QLatin1String(".") || messageId == QLatin1String("..");
	const QByteArray segment = QUrl::toPercentEncoding(messageId, QByteArray(), dotSegment ? "." : "");
	return QStringLiteral("/v1/moderation/moderate/") + QString::fromLatin1(segment);
}
