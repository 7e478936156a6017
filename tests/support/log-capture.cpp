#include "log-capture.h"

#include <util/base.h>

#include <QMutexLocker>

#include <cstdarg>
#include <cstdio>

LogCapture::LogCapture()
{
	base_set_log_handler(&LogCapture::handler, this);
}

LogCapture::~LogCapture()
{
	base_set_log_handler(nullptr, nullptr);
}

void LogCapture::handler(int level, const char *format, va_list args, void *param)
{
	char buffer[8192];
	va_list copy;
	va_copy(copy, args);
	vsnprintf(buffer, sizeof(buffer), format, copy);
	va_end(copy);
	if (qEnvironmentVariableIsSet("TIPLARK_TEST_ECHO_LOG"))
		fprintf(stderr, "log %d: %s\n", level, buffer);
	auto *self = static_cast<LogCapture *>(param);
	QMutexLocker lock(&self->m_mutex);
	self->m_lines.append({level, QString::fromUtf8(buffer)});
}

QList<LogCapture::Line> LogCapture::lines() const
{
	QMutexLocker lock(&m_mutex);
	return m_lines;
}

QStringList LogCapture::texts() const
{
	QStringList result;
	for (const Line &line : lines())
		result.append(line.text);
	return result;
}

QStringList LogCapture::texts(int level) const
{
	QStringList result;
	for (const Line &line : lines())
		if (line.level == level)
			result.append(line.text);
	return result;
}

bool LogCapture::contains(int level, const QString &text) const
{
	for (const Line &line : lines())
		if (line.level == level && line.text == text)
			return true;
	return false;
}

int LogCapture::count(const QString &text) const
{
	int n = 0;
	for (const Line &line : lines())
		n += line.text == text ? 1 : 0;
	return n;
}

void LogCapture::clear()
{
	QMutexLocker lock(&m_mutex);
	m_lines.clear();
}
