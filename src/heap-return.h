#pragma once

#include <QObject>

#include <functional>

class QTimer;

// glibc's malloc keeps the pages it has freed inside its heaps. A raid draws and drops dozens of rows and
// parses answers on several threads; afterwards nothing of it stays allocated, yet OBS's resident memory
// stays at the new high-water mark, and over an evening of raids it creeps up. So a while after a list's
// answer, the free pages are handed back to the system: at most once an interval, on a worker.
class HeapReturn : public QObject {
	Q_OBJECT

public:
	static constexpr int INTERVAL_MS = 60 * 1000;
	using Release = std::function<void()>;

	// What hands the pages back: the C library's own call, or nothing where it has none.
	static Release systemRelease();

	explicit HeapReturn(QObject *parent = nullptr, Release release = systemRelease(), int intervalMs = INTERVAL_MS);

	// After work that allocated and freed much: a release follows within the interval, one for any number
	// of calls meanwhile.
	void afterChurn();

private:
	Release m_release;
	QTimer *m_timer;
};
