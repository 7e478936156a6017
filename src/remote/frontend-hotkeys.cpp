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
const char *const SKIP_ALERT = "TiplarkSkipAlert";
const char *const ACCEPT_FIRST = "TiplarkAcceptFirst";
const char *const REJECT_FIRST = "TiplarkRejectFirst";
const char *const MODERATION_ON = "TiplarkModerationOn";
const char *const MODERATION_OFF = "TiplarkModerationOff";

const char *actionName(FrontendHotkeys::Action action)
{
	switch (action) {
	case FrontendHotkeys::Action::SkipAlert:
		return SKIP_ALERT;
	case FrontendHotkeys::Action::AcceptFirst:
		return ACCEPT_FIRST;
	case FrontendHotkeys::Action::RejectFirst:
		return REJECT_FIRST;
	case FrontendHotkeys::Action::ModerationOn:
		return MODERATION_ON;
	case FrontendHotkeys::Action::ModerationOff:
		return MODERATION_OFF;
	}
	return "";
}

// The kind an action takes: the skip, a decision, the switch.
std::size_t kindOf(FrontendHotkeys::Action action)
{
	switch (action) {
	case FrontendHotkeys::Action::SkipAlert:
		return 0;
	case FrontendHotkeys::Action::AcceptFirst:
	case FrontendHotkeys::Action::RejectFirst:
		return 1;
	case FrontendHotkeys::Action::ModerationOn:
	case FrontendHotkeys::Action::ModerationOff:
		break;
	}
	return 2;
}

std::size_t kindOf(ApiClient::Action action)
{
	switch (action) {
	case ApiClient::Action::Skip:
		return 0;
	case ApiClient::Action::Decision:
		return 1;
	case ApiClient::Action::ModerationSwitch:
		break;
	}
	return 2;
}

StreamerSession::Refusal act(StreamerSession *session, FrontendHotkeys::Action action, StreamerSession::Origin origin)
{
	switch (action) {
	case FrontendHotkeys::Action::SkipAlert:
		return session->skipAlert(origin);
	case FrontendHotkeys::Action::AcceptFirst:
		return session->decideFirst(true, origin);
	case FrontendHotkeys::Action::RejectFirst:
		return session->decideFirst(false, origin);
	case FrontendHotkeys::Action::ModerationOn:
		return session->setModeration(true, origin);
	case FrontendHotkeys::Action::ModerationOff:
		break;
	}
	return session->setModeration(false, origin);
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
	  m_gate(std::make_shared<Gate>()),
	  m_bindings{{{this, Action::SkipAlert},
		      {this, Action::AcceptFirst},
		      {this, Action::RejectFirst},
		      {this, Action::ModerationOn},
		      {this, Action::ModerationOff}}}
{
	m_ids[0] = obs_hotkey_register_frontend(SKIP_ALERT, "Tiplark: Pomiń alert", &onHotkey, &m_bindings[0]);
	m_ids[1] = obs_hotkey_register_frontend(ACCEPT_FIRST, "Tiplark: Zaakceptuj pierwszą oczekującą wiadomość",
						&onHotkey, &m_bindings[1]);
	m_ids[2] = obs_hotkey_register_frontend(REJECT_FIRST, "Tiplark: Odrzuć pierwszą oczekującą wiadomość",
						&onHotkey, &m_bindings[2]);
	m_moderationPair = obs_hotkey_pair_register_frontend(MODERATION_ON, "Tiplark: Włącz moderację", MODERATION_OFF,
							     "Tiplark: Wyłącz moderację", &onPairHotkey, &onPairHotkey,
							     &m_bindings[3], &m_bindings[4]);
	// A hotkey's action that ends frees its kind for the next press.
	m_ends = QObject::connect(session, &StreamerSession::actionFinished, session,
				  [gate = m_gate](const StreamerSession::Action &action) {
					  if (action.origin != StreamerSession::Origin::Hotkey)
						  return;
					  gate->busy.release(kindOf(action.kind));
				  });
}

FrontendHotkeys::~FrontendHotkeys()
{
	// Once this returns, libobs calls none of them any more.
	for (obs_hotkey_id id : m_ids)
		obs_hotkey_unregister(id);
	obs_hotkey_pair_unregister(m_moderationPair);
	QObject::disconnect(m_ends);
}

void FrontendHotkeys::load()
{
	config_t *config = obs_frontend_get_profile_config();
	const char *names[] = {SKIP_ALERT, ACCEPT_FIRST, REJECT_FIRST};
	for (size_t i = 0; i < m_ids.size(); ++i) {
		obs_data_array_t *bindings = storedBindings(config, names[i]);
		obs_hotkey_load(m_ids[i], bindings);
		obs_data_array_release(bindings);
	}
	obs_data_array_t *on = storedBindings(config, MODERATION_ON);
	obs_data_array_t *off = storedBindings(config, MODERATION_OFF);
	obs_hotkey_pair_load(m_moderationPair, on, off);
	obs_data_array_release(on);
	obs_data_array_release(off);
}

void FrontendHotkeys::save()
{
	config_t *config = obs_frontend_get_profile_config();
	if (!config)
		return;
	const char *names[] = {SKIP_ALERT, ACCEPT_FIRST, REJECT_FIRST};
	for (size_t i = 0; i < m_ids.size(); ++i)
		storeBindings(config, names[i], obs_hotkey_save(m_ids[i]));
	obs_data_array_t *on = nullptr;
	obs_data_array_t *off = nullptr;
	obs_hotkey_pair_save(m_moderationPair, &on, &off);
	storeBindings(config, MODERATION_ON, on);
	storeBindings(config, MODERATION_OFF, off);
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
	const std::size_t kind = kindOf(action);
	Gate &gate = *m_gate;
	if (!gate.busy.tryTake(kind)) {
		if (!gate.quiet.at(kind).exchange(true))
			obs_log(LOG_INFO, "Tiplark: Hotkey %s pressed while the same action is under way; dropped",
				actionName(action));
		return;
	}
	gate.quiet.at(kind).store(true);
	// The session lives until after the hotkeys are unregistered; a queued call to it goes with it.
	QMetaObject::invokeMethod(
		m_session,
		[session = m_session, gate = m_gate, action, kind] {
			const StreamerSession::Refusal refused = act(session, action, StreamerSession::Origin::Hotkey);
			if (refused == StreamerSession::Refusal::None)
				gate->quiet.at(kind).store(false);
			else
				gate->busy.release(kind);
			gate->note(action, refused);
		},
		Qt::QueuedConnection);
}

StreamerSession::Refusal FrontendHotkeys::keyPressed(Action action)
{
	const StreamerSession::Refusal refused = act(m_session, action, StreamerSession::Origin::Key);
	m_gate->note(action, refused);
	return refused;
}

void FrontendHotkeys::Gate::note(Action action, StreamerSession::Refusal refusal)
{
	int &logged = refused.at(kindOf(action));
	if (refusal != StreamerSession::Refusal::None && logged != int(refusal))
		obs_log(LOG_INFO, "Tiplark: Hotkey %s does nothing: %s", actionName(action),
			StreamerSession::refusalText(refusal).toUtf8().constData());
	logged = int(refusal);
}
