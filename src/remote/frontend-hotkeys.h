#pragma once

#include "remote/busy-limit.h"
#include "streamer-session.h"

#include <obs.h>

#include <QMetaObject>

#include <array>
#include <memory>

// The plug-in's hotkeys in OBS's Settings → Hotkeys. OBS reloads only its own hotkeys' bindings when
// the profile changes: these are read from and written to the profile's "Hotkeys" section here, where
// and as OBS keeps its own. OBS's frontend routes every key it reads to its GUI thread before it calls a
// hotkey: such a press is the streamer's and acts like the dock's button. A press on any other thread
// (obs-websocket's TriggerHotkeyByName calls in on the thread that handles the request) only queues work
// to the GUI thread, at most one action of each kind at a time: a press while its kind is under way is
// dropped there, so that a controller repeating it piles up neither work nor log.
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

	enum class Action { SkipAlert, AcceptFirst, RejectFirst, ModerationOn, ModerationOff };

	// A press on another thread than the session's, such as obs-websocket's TriggerHotkeyByName.
	void press(Action action);
	// A key the streamer pressed, on the session's thread. obs-websocket's TriggerHotkeyByKeySequence
	// feeds OBS a key that takes the same route, and cannot be told from one.
	StreamerSession::Refusal keyPressed(Action action);

private:
	// The kinds the hotkeys take, on any thread, and what they last logged, on the GUI thread; shared with
	// the calls queued to the session, which may run after this object has gone.
	struct Gate {
		BusyLimit<3> busy;
		// A dropped press writes no line: the kind's action has not started yet (a refusal may follow,
		// logged in its own right), or one line was written for it already.
		std::array<std::atomic<bool>, 3> quiet{};
		// The refusal last logged per kind, until a press starts an action again.
		std::array<int, 3> refused{};
		// Logs why a press does nothing, once per run of presses refused alike.
		void note(Action action, StreamerSession::Refusal refusal);
	};
	struct Binding {
		FrontendHotkeys *hotkeys;
		Action action;
	};
	static void onHotkey(void *binding, obs_hotkey_id, obs_hotkey_t *, bool pressed);
	static bool onPairHotkey(void *binding, obs_hotkey_pair_id, obs_hotkey_t *, bool pressed);

	StreamerSession *m_session;
	std::shared_ptr<Gate> m_gate;
	QMetaObject::Connection m_ends;
	std::array<Binding, 5> m_bindings;
	std::array<obs_hotkey_id, 3> m_ids;
	obs_hotkey_pair_id m_moderationPair;
};
