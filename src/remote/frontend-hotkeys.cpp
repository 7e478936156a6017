#include "frontend-hotkeys.h"

#include "plugin-support.h"
#include "streamer-session.h"

#include <obs-frontend-api.h>
#include <obs.h>
#include <util/config-file.h>

#include <QMetaObject>
#include <QThread>

namespace {
const char *const HOTKEY_SECTION = "Hotkeys";

// Each hotkey: its name in OBS and in the profile, its description in Settings → Hotkeys, and its action.
struct Hotkey {
	const char *name;
	const char *description;
	SessionAction (*action)(SessionAction::Origin origin);
};
// In the order of FrontendHotkeys::Action; the last two are registered as OBS's pair of keys.
const std::array<Hotkey, 5> HOTKEYS{{
	{"TiplarkSkipAlert", "Tiplark: Pomiń alert",
	 [](SessionAction::Origin o) {
		 return SessionAction::skip(o);
	 }},
	{"TiplarkAcceptFirst", "Tiplark: Zaakceptuj pierwszą oczekującą wiadomość",
	 [](SessionAction::Origin o) {
		 return SessionAction::decisionOnFirst(true, o);
	 }},
	{"TiplarkRejectFirst", "Tiplark: Odrzuć pierwszą oczekującą wiadomość",
	 [](SessionAction::Origin o) {
		 return SessionAction::decisionOnFirst(false, o);
	 }},
	{"TiplarkModerationOn", "Tiplark: Włącz moderację",
	 [](SessionAction::Origin o) {
		 return SessionAction::moderation(true, o);
	 }},
	{"TiplarkModerationOff", "Tiplark: Wyłącz moderację",
	 [](SessionAction::Origin o) {
		 return SessionAction::moderation(false, o);
	 }},
}};
constexpr std::size_t PAIR_ON = 3, PAIR_OFF = 4;

const Hotkey &hotkeyOf(FrontendHotkeys::Action action)
{
	return HOTKEYS.at(std::size_t(action));
}

// The hotkey whose press makes this action.
FrontendHotkeys::Action actionOf(const SessionAction &action)
{
	for (std::size_t i = 0; i < HOTKEYS.size(); ++i) {
		const SessionAction made = HOTKEYS[i].action(action.origin);
		if (made.kind == action.kind && made.accept == action.accept && made.enabled == action.enabled)
			return FrontendHotkeys::Action(i);
	}
	return FrontendHotkeys::Action::SkipAlert;
}

// One hotkey's bindings as OBS stores them: {"bindings": [...]}; an empty list when there are none.
obs_data_array_t *storedBindings(config_t *config, const char *name)
{
	const char *json = config ? config_get_string(config, HOTKEY_SECTION, name) : nullptr;
	obs_data_t *data = json ? obs_data_create_from_json(json) : nullptr;
	obs_data_array_t *bindings = data ? obs_data_get_array(data, "bindings") : nullptr;
	obs_data_release(data);
	return bindings ? bindings : obs_data_array_create();
}

void storeBindings(config_t *config, const char *name, obs_data_array_t *bindings)
{
	obs_data_t *data = obs_data_create();
	obs_data_set_array(data, "bindings", bindings);
	config_set_string(config, HOTKEY_SECTION, name, obs_data_get_json(data));
	obs_data_release(data);
	obs_data_array_release(bindings);
}
} // namespace

FrontendHotkeys::FrontendHotkeys(StreamerSession *session)
	: m_session(session),
	  m_bindings{{{this, Action::SkipAlert},
		      {this, Action::AcceptFirst},
		      {this, Action::RejectFirst},
		      {this, Action::ModerationOn},
		      {this, Action::ModerationOff}}}
{
	for (std::size_t i = 0; i < m_ids.size(); ++i)
		m_ids[i] = obs_hotkey_register_frontend(HOTKEYS[i].name, HOTKEYS[i].description, &onHotkey,
							&m_bindings[i]);
	m_moderationPair = obs_hotkey_pair_register_frontend(HOTKEYS[PAIR_ON].name, HOTKEYS[PAIR_ON].description,
							     HOTKEYS[PAIR_OFF].name, HOTKEYS[PAIR_OFF].description,
							     &onPairHotkey, &onPairHotkey, &m_bindings[PAIR_ON],
							     &m_bindings[PAIR_OFF]);
	// A hotkey's action that started lets the next press turned away say so; one refused as it came to
	// run says why.
	m_started = QObject::connect(session, &StreamerSession::actionStarted, session,
				     [this](const SessionAction &action) {
					     if (action.origin != SessionAction::Origin::Hotkey)
						     return;
					     m_quiet.at(ActionGate::rowIndex(action.kind)).store(false);
					     note(actionOf(action), SessionAction::Outcome::Done);
				     });
	m_refusedWhenRun = QObject::connect(session, &StreamerSession::actionRefused, session,
					    [this](const SessionAction &action) {
						    if (action.origin == SessionAction::Origin::Hotkey)
							    note(actionOf(action), action.outcome);
					    });
}

FrontendHotkeys::~FrontendHotkeys()
{
	// Once this returns, libobs calls none of them any more.
	for (obs_hotkey_id id : m_ids)
		obs_hotkey_unregister(id);
	obs_hotkey_pair_unregister(m_moderationPair);
	QObject::disconnect(m_started);
	QObject::disconnect(m_refusedWhenRun);
}

void FrontendHotkeys::load()
{
	config_t *config = obs_frontend_get_profile_config();
	for (size_t i = 0; i < m_ids.size(); ++i) {
		obs_data_array_t *bindings = storedBindings(config, HOTKEYS[i].name);
		obs_hotkey_load(m_ids[i], bindings);
		obs_data_array_release(bindings);
	}
	obs_data_array_t *on = storedBindings(config, HOTKEYS[PAIR_ON].name);
	obs_data_array_t *off = storedBindings(config, HOTKEYS[PAIR_OFF].name);
	obs_hotkey_pair_load(m_moderationPair, on, off);
	obs_data_array_release(on);
	obs_data_array_release(off);
}

void FrontendHotkeys::save()
{
	config_t *config = obs_frontend_get_profile_config();
	if (!config)
		return;
	for (size_t i = 0; i < m_ids.size(); ++i)
		storeBindings(config, HOTKEYS[i].name, obs_hotkey_save(m_ids[i]));
	obs_data_array_t *on = nullptr;
	obs_data_array_t *off = nullptr;
	obs_hotkey_pair_save(m_moderationPair, &on, &off);
	storeBindings(config, HOTKEYS[PAIR_ON].name, on);
	storeBindings(config, HOTKEYS[PAIR_OFF].name, off);
	if (config_save_safe(config, "tmp", nullptr) != CONFIG_SUCCESS)
		obs_log(LOG_WARNING, "Tiplark: Could not save the hotkey bindings into the profile");
}

void FrontendHotkeys::onHotkey(void *binding, obs_hotkey_id, obs_hotkey_t *, bool pressed)
{
	if (!pressed)
		return;
	const auto *b = static_cast<const Binding *>(binding);
	if (QThread::currentThread() == b->hotkeys->m_session->thread())
		b->hotkeys->keyPressed(b->action);
	else
		b->hotkeys->press(b->action);
}

bool FrontendHotkeys::onPairHotkey(void *binding, obs_hotkey_pair_id, obs_hotkey_t *, bool pressed)
{
	onHotkey(binding, OBS_INVALID_HOTKEY_ID, nullptr, pressed);
	// true would make libobs hold the pair's other key back until this one is released: a remote
	// trigger (obs-websocket's TriggerHotkeyByName) presses and never releases.
	return false;
}

void FrontendHotkeys::press(Action action)
{
	const SessionAction made = hotkeyOf(action).action(SessionAction::Origin::Hotkey);
	// Quiet before it is queued: the action may start, and lift it, before submit returns.
	const bool wasQuiet = m_quiet.at(ActionGate::rowIndex(made.kind)).exchange(true);
	if (m_session->submit(made) == SessionAction::Outcome::Done)
		return;
	if (!wasQuiet)
		obs_log(LOG_INFO, "Tiplark: Hotkey %s pressed while the same action is under way; dropped",
			hotkeyOf(action).name);
}

SessionAction::Outcome FrontendHotkeys::keyPressed(Action action)
{
	const SessionAction::Outcome outcome = m_session->perform(hotkeyOf(action).action(SessionAction::Origin::Key));
	note(action, outcome);
	return outcome;
}

void FrontendHotkeys::note(Action action, SessionAction::Outcome outcome)
{
	SessionAction::Outcome &logged = m_refused.at(std::size_t(action));
	if (outcome != SessionAction::Outcome::Done && logged != outcome)
		obs_log(LOG_INFO, "Tiplark: Hotkey %s does nothing: %s", hotkeyOf(action).name,
			outcomeText(outcome).toUtf8().constData());
	logged = outcome;
}
