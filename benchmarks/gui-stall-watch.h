#pragma once

#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>

// The longest time the GUI thread went without running its timers: a 1 ms timer notes every gap between
// its ticks, so whatever held the event loop shows as one long gap.
class GuiStallWatch {
public:
	GuiStallWatch()
	{
		beat.setInterval(1);
		QObject::connect(&beat, &QTimer::timeout, [this] { note(); });
	}

	void start()
	{
		longest = 0;
		gap.start();
		beat.start();
	}

	// Ends the watch, the time since the last tick included; the longest gap, in ms.
	double stop()
	{
		note();
		beat.stop();
		return longest / 1e6;
	}

private:
	void note()
	{
		longest = std::max(longest, gap.nsecsElapsed());
		gap.start();
	}

	QTimer beat;
	QElapsedTimer gap;
	qint64 longest = 0;
};
