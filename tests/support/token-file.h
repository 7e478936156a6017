#pragma once

#include <QByteArray>
#include <QString>

// tokens.json as the tests' stand-in host places it.
QString tokenPath();
// The whole file, or "<missing>" when it cannot be read.
QByteArray readFile(const QString &path);
// The permission bits (07777) of a path; 0 when it does not exist.
unsigned int modeBits(const QString &path);
