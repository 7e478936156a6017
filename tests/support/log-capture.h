#pragma once

#include <QList>
#include <QMutex>
#include <QString>
#include <QStringList>

// Receives everything written to libobs's log (from any thread) while installed.
class LogCapture {
public:
	struct Line {
		int level;
		QString text;
	};

	LogCapture();
	~LogCapture();
	LogCapture(const LogCapture &) = delete;
	LogCapture &operator=(const LogCapture &) = delete;

	QList<Line> lines() const;
	QStringList texts() const;
	// Lines logged at exactly this level.
	QStringList texts(int level) const;
	bool contains(int level, const QString &text) const;
	int count(const QString &text) const;
	void clear();

private:
	static void handler(int level, const char *format, va_list args, void *param);
	mutable QMutex m_mutex;
	QList<Line> m_lines;
};
