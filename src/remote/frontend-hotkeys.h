#pragma once

#include <obs.h>

#include <array>

class StreamerSession;

// The plug-in's hotkeys in OBS's Settings → Hotkeys. OBS reloads only its own hotkeys' bindings when
// the profile changes: these are read from and written to the profile's "Hotkeys" section here, where
// and as OBS keeps its own. Callbacks may run on any thread; they only queue work to the GUI thread.
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

private:
	struct Binding {
		FrontendHotkeys *hotkeys;
		Action action;
	};
	static void onHotkey(void *binding, obs_hotkey_id, obs_hotkey_t *, bool pressed);
	static bool onPairHotkey(void *binding, obs_hotkey_pair_id, obs_hotkey_t *, bool pressed);
	void queue(Action action);

	StreamerSession *m_session;
	std::array<Binding, 5> m_bindings;
	std::array<obs_hotkey_id, 3> m_ids;
	obs_hotkey_pair_id m_moderationPair;
};
