#pragma once

#include <QtGlobal>

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>

// At most one action of each kind queued or running, for requests that arrive on any thread: a further
// one is turned away at once instead of piling up work for the GUI thread. A kind whose end never comes
// back (an answer lost on the way) frees itself after STALE_AFTER_MS, so that it cannot stay busy for good.
template<std::size_t Kinds> class BusyLimit {
public:
	static constexpr qint64 STALE_AFTER_MS = 30000;

	BusyLimit()
	{
		for (std::atomic<qint64> &takenAt : m_takenAt)
			takenAt.store(FREE);
	}

	// True when kind was free (or stale) and is now taken by the caller.
	bool tryTake(std::size_t kind)
	{
		std::atomic<qint64> &takenAt = m_takenAt.at(kind);
		const qint64 now = nowMs();
		qint64 seen = takenAt.load();
		if (seen != FREE && now - seen < STALE_AFTER_MS)
			return false;
		return takenAt.compare_exchange_strong(seen, now);
	}

	void release(std::size_t kind) { m_takenAt.at(kind).store(FREE); }

private:
	static constexpr qint64 FREE = -1;
	static qint64 nowMs()
	{
		return std::chrono::duration_cast<std::chrono::milliseconds>(
			       std::chrono::steady_clock::now().time_since_epoch())
			.count();
	}

	std::array<std::atomic<qint64>, Kinds> m_takenAt;
};
