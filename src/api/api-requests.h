#pragma once

#include <QByteArray>
#include <QString>

// Paths and bodies of the service's REST requests, built on the GUI thread before a request starts.
namespace ApiRequests {
// {"enabled": <flag>} in Qt's indented form.
QByteArray moderationStatusBody(bool enabled);
// {"action": "accept"|"reject"} in Qt's indented form.
QByteArray moderationDecisionBody(bool accept);
// "/v1/moderation/moderate/<id>" with the id as exactly one path segment.
QString moderationPath(const QString &messageId);
} // namespace ApiRequests
