#include "action-gate.h"

#include <algorithm>
#include <chrono>

namespace {
qint64 nowMs()
{
	return std::chrono::duration_cast<std::chrono::milliseconds>(
		       std::chrono::steady_clock::now().time_since_epoch())
		.count();
}

bool remote(SessionAction::Origin origin)
{
	return origin == SessionAction::Origin::Hotkey || origin == SessionAction::Origin::Controller;
}
} // namespace

ActionGate::ActionGate()
{
	for (std::atomic<qint64> &takenAt : m_places)
		takenAt.store(FREE);
}

const ActionGate::Row &ActionGate::rowOf(SessionAction::Kind kind)
{
	return *std::find_if(ROWS.cbegin(), ROWS.cend(), [kind](const Row &row) { return row.kind == kind; });
}

std::size_t ActionGate::rowIndex(SessionAction::Kind kind)
{
	return std::size_t(&rowOf(kind) - ROWS.data());
}

QString ActionGate::laneKey(SessionAction::Kind kind, const QString &messageId)
{
	const QString key = QString::number(int(kind));
	return rowOf(kind).perMessage ? key + QLatin1Char(' ') + messageId : key;
}

ActionGate::Entry ActionGate::enter(const SessionAction &action)
{
	Lane &lane = m_lanes[laneKey(action.kind, action.messageId)];
	if (!lane.running) {
		lane.running = action;
		return Entry::Starts;
	}
	// A controller repeating its request or a hotkey must not keep the streamer's own button or key from
	// acting: that press goes next. Every other one is turned away while the kind is taken.
	if (!rowOf(action.kind).ownPressWaits || !action.streamersOwn() || lane.running->streamersOwn() || lane.waiting)
		return Entry::Refused;
	lane.waiting = action;
	return Entry::Waits;
}

ActionGate::Ended ActionGate::leave(SessionAction::Kind kind, const QString &messageId)
{
	const auto found = m_lanes.find(laneKey(kind, messageId));
	if (found == m_lanes.end() || !found->running)
		return {};
	Ended ended{found->running, found->waiting};
	if (ended.next) {
		found->running = ended.next;
		found->waiting.reset();
	} else {
		m_lanes.erase(found);
	}
	return ended;
}

QList<SessionAction> ActionGate::clear()
{
	QList<SessionAction> all;
	for (const Lane &lane : std::as_const(m_lanes))
		for (const std::optional<SessionAction> &action : {lane.running, lane.waiting})
			if (action)
				all << *action;
	m_lanes.clear();
	return all;
}

bool ActionGate::ownPressUnderWay(SessionAction::Kind kind, const QString &messageId) const
{
	const auto found = m_lanes.constFind(laneKey(kind, messageId));
	if (found == m_lanes.cend())
		return false;
	if (rowOf(kind).perMessage)
		return found->running.has_value();
	return (found->running && found->running->streamersOwn()) || found->waiting.has_value();
}

std::atomic<qint64> &ActionGate::place(const SessionAction &action)
{
	const std::size_t kind = rowIndex(action.kind);
	return m_places.at(action.origin == SessionAction::Origin::Controller ? ROWS.size() + kind : kind);
}

bool ActionGate::takePlace(const SessionAction &action)
{
	if (!remote(action.origin))
		return true;
	std::atomic<qint64> &takenAt = place(action);
	const qint64 now = nowMs();
	qint64 seen = takenAt.load();
	if (seen != FREE && now - seen < STALE_AFTER_MS)
		return false;
	return takenAt.compare_exchange_strong(seen, now);
}

void ActionGate::givePlace(const SessionAction &action)
{
	if (remote(action.origin))
		place(action).store(FREE);
}
