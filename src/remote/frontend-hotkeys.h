#pragma once

#include "streamer-session.h"

#include <obs.h>

#include <QMetaObject>

#include <array>
#include <atomic>

// The plug-in's hotkeys in OBS's Settings → Hotkeys. OBS reloads only its own hotkeys' bindings when
// the profile changes: these are read from and written to the profile's "Hotkeys" section here, where
// and as OBS keeps its own. OBS's frontend routes every key it reads to its GUI thread before it calls a
// hotkey: such a press is the streamer's and acts like the dock's button. A press on any other thread
// (obs-websocket's TriggerHotkeyByName calls in on the thread that handles the request) is submitted to
// the session, which turns it away at once while the same hotkey action is under way: a controller
// repeating it piles up neither work nor log.
class FrontendHotkeys {
public:
	// session must outlive this object, which unregisters the hotkeys when it goes.
	explicit FrontendHotkeys(StreamerSession *session);
	~FrontendHotkeys();
	FrontendHotkeys(const FrontendHotkeys &) = delete;
	FrontendHotkeys &operator=(const FrontendHotkeys &) = delete;

	// The bindings of the profile now current (none when it holds none).
	void load();
	// Writes the bindings into the profile now current and saves it.
	void save();

	// The hotkeys, in the order of their table.
	enum class Action { SkipAlert, AcceptFirst, RejectFirst, ModerationOn, ModerationOff };

	// A press on another thread than the session's, such as obs-websocket's TriggerHotkeyByName.
	void press(Action action);
	// A key the streamer pressed, on the session's thread. obs-websocket's TriggerHotkeyByKeySequence
	// feeds OBS a key that takes the same route, and cannot be told from one.
	SessionAction::Outcome keyPressed(Action action);

private:
	struct Binding {
		FrontendHotkeys *hotkeys;
		Action action;
	};
	static void onHotkey(void *binding, obs_hotkey_id, obs_hotkey_t *, bool pressed);
	static bool onPairHotkey(void *binding, obs_hotkey_pair_id, obs_hotkey_t *, bool pressed);
	// Logs why a press does nothing, once per run of presses of that hotkey refused alike.
	void note(Action action, SessionAction::Outcome outcome);

	StreamerSession *m_session;
	std::array<Binding, 5> m_bindings;
	std::array<obs_hotkey_id, 3> m_ids;
	obs_hotkey_pair_id m_moderationPair;
	// Per kind, on any thread: a press turned away while its kind is queued writes no line until that
	// action has started (a refusal may follow, logged in its own right), and one line after that.
	std::array<std::atomic<bool>, ActionGate::ROWS.size()> m_quiet{};
	// Per hotkey, on the GUI thread: the refusal last logged, until a press starts an action again.
	std::array<SessionAction::Outcome, 5> m_refused{};
	QMetaObject::Connection m_started;
	QMetaObject::Connection m_refusedWhenRun;
};
