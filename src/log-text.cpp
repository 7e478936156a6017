#include "log-text.h"

QByteArray logText(const QString &text)
{
	QString escaped;
	escaped.reserve(text.size());
	for (const QChar c : text) {
		const ushort code = c.unicode();
		if (code == '\n')
			escaped += QLatin1String("\\n");
		else if (code == '\r')
			escaped += QLatin1String("\\r");
		else if (code == '\t')
			escaped += QLatin1String("\\t");
		else if (code < 0x20 || (code >= 0x7f && code < 0xa0))
			escaped += QStringLiteral("\\x%1").arg(code, 2, 16, QLatin1Char('0'));
		else if (code == 0x2028 || code == 0x2029)
			escaped += QStringLiteral("\\u%1").arg(code, 4, 16, QLatin1Char('0'));
		else
			escaped += c;
	}
	return escaped.toUtf8();
}

QByteArray logText(const QByteArray &utf8)
{
	return logText(QString::fromUtf8(utf8));
}
