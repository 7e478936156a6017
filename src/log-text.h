#pragma once

#include <QByteArray>
#include <QString>

// Text that came from outside (the service, a browser) as it may go into a log line: control characters
// and line separators are escaped, so that such text can never start a line of its own in OBS's log.
QByteArray logText(const QString &text);
QByteArray logText(const QByteArray &utf8);
