#pragma once

#include "session-action.h"

#include <QHash>
#include <QList>
#include <QString>

#include <array>
#include <atomic>
#include <optional>

// Who may start an action now, and what goes next when one ends: decided here and nowhere else.
//
// On the session's thread every action passes it: one skip and one moderation switch at a time, one
// decision per message. The streamer's own press is never turned away because a hotkey's or a
// controller's action of its kind is under way: it waits for that one and goes next. Any other action of
// a kind under way is turned away.
//
// On any thread, a hotkey's or a controller's action takes its origin's place before it is queued to the
// session's thread: at most one of each kind per origin is queued or running, so that a controller
// repeating a request piles up no work there, and a further one is turned away at once. The place is
// given back when that action ends or is refused as it comes to run; one whose end never came back (an
// answer lost on the way) frees itself after STALE_AFTER_MS, so that it cannot stay taken for good.
class ActionGate {
public:
	// How actions of each kind pass.
	struct Row {
		SessionAction::Kind kind;
		// One at a time for each message (a decision), else one at a time.
		bool perMessage;
		// The streamer's own press waits for another's action of the kind instead of being turned away.
		bool ownPressWaits;
	};
	static constexpr std::array<Row, 3> ROWS{{
		{SessionAction::Kind::Skip, false, true},
		{SessionAction::Kind::Decision, true, false},
		{SessionAction::Kind::ModerationSwitch, false, true},
	}};
	static constexpr qint64 STALE_AFTER_MS = 30000;

	ActionGate();

	// The kind's place in ROWS: per-kind state of the gate's users is kept in that order.
	static std::size_t rowIndex(SessionAction::Kind kind);

	// The session's thread. Whether the action starts now, waits for the one of its kind under way, or
	// is turned away.
	enum class Entry { Starts, Waits, Refused };
	Entry enter(const SessionAction &action);
	// The answer to the action of this kind (and message) under way came: that action, and the one that
	// waited for it, which starts now; neither when none was under way.
	struct Ended {
		std::optional<SessionAction> action;
		std::optional<SessionAction> next;
	};
	Ended leave(SessionAction::Kind kind, const QString &messageId);
	// Every action under way or waiting, let go of (a sign-out cuts them short).
	QList<SessionAction> clear();
	// The streamer's own press of this kind is under way or waits for another's (a decision: any on this
	// message).
	bool ownPressUnderWay(SessionAction::Kind kind, const QString &messageId = QString()) const;

	// Any thread, for a hotkey's or a controller's action: takes its origin's place for its kind, or false
	// while an earlier one holds it.
	bool takePlace(const SessionAction &action);
	// Gives that place back: the action ended, or was refused as it came to run.
	void givePlace(const SessionAction &action);

private:
	struct Lane {
		std::optional<SessionAction> running;
		std::optional<SessionAction> waiting;
	};
	static const Row &rowOf(SessionAction::Kind kind);
	static QString laneKey(SessionAction::Kind kind, const QString &messageId);
	// The places of the remote origins (Hotkey, Controller) per kind: when each was taken, or FREE.
	std::atomic<qint64> &place(const SessionAction &action);

	QHash<QString, Lane> m_lanes;
	static constexpr qint64 FREE = -1;
	std::array<std::atomic<qint64>, 2 * ROWS.size()> m_places;
};
