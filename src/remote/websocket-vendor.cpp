#include "websocket-vendor.h"

#include "plugin-support.h"
#include "remote/session-snapshot.h"
#include "streamer-session.h"

#include <callback/calldata.h>
#include <callback/proc.h>
#include <obs.h>

#include <QMetaObject>
#include <QReadLocker>
#include <QWriteLocker>

#include <functional>

namespace {
// obs-websocket's plug-in interface, as its documentation describes it: a proc handler of its own,
// found through OBS's global one, whose procedures take calldata.
constexpr const char *VENDOR_NAME = "tiplark";

// What "vendor_request_register" takes as "callback": obs-websocket copies it.
struct RequestCallback {
	void (*callback)(obs_data_t *requestData, obs_data_t *responseData, void *privData);
	void *privData;
};

const char *requestName(WebsocketVendor::Request request)
{
	switch (request) {
	case WebsocketVendor::Request::GetState:
		return "GetState";
	case WebsocketVendor::Request::SkipAlert:
		return "SkipAlert";
	case WebsocketVendor::Request::ModerateMessage:
		return "ModerateMessage";
	case WebsocketVendor::Request::SetModeration:
		return "SetModeration";
	}
	return "";
}

// calldata that frees itself.
struct CallData {
	calldata_t data;
	CallData() { calldata_init(&data); }
	~CallData() { calldata_free(&data); }
	CallData(const CallData &) = delete;
	CallData &operator=(const CallData &) = delete;
};

void setString(obs_data_t *data, const char *name, const QString &value)
{
	obs_data_set_string(data, name, value.toUtf8().constData());
}

obs_data_t *recordData(const DonationMessage &record)
{
	obs_data_t *data = obs_data_create();
	setString(data, "id", record.id);
	setString(data, "nickname", record.nickname);
	setString(data, "message", record.message);
	setString(data, "amount", record.amount);
	setString(data, "currency", record.currency);
	setString(data, "createdAt", record.createdAt.toString(Qt::ISODate));
	return data;
}

void fillState(obs_data_t *response, const RemoteState &state)
{
	obs_data_set_bool(response, "signedIn", state.signedIn);
	setString(response, "userName", state.userName);
	// obs-websocket drops null values on their way to JSON: an unknown state is left out.
	if (state.moderationEnabled)
		obs_data_set_bool(response, "moderationEnabled", *state.moderationEnabled);
	obs_data_set_bool(response, "serviceAnswering", state.serviceAnswering);
	obs_data_array_t *pending = obs_data_array_create();
	for (const DonationMessage &record : state.pending) {
		obs_data_t *item = recordData(record);
		obs_data_array_push_back(pending, item);
		obs_data_release(item);
	}
	obs_data_set_array(response, "pending", pending);
	obs_data_array_release(pending);
	obs_data_array_t *totals = obs_data_array_create();
	for (const SessionTotals::Total &total : state.sessionTotals) {
		obs_data_t *item = obs_data_create();
		setString(item, "currency", total.currency);
		obs_data_set_int(item, "count", total.count);
		setString(item, "amount", SessionTotals::decimalText(total.cents));
		obs_data_array_push_back(totals, item);
		obs_data_release(item);
	}
	obs_data_set_array(response, "sessionTotals", totals);
	obs_data_array_release(totals);
}

bool hasItem(obs_data_t *data, const char *name, enum obs_data_type type)
{
	obs_data_item_t *item = obs_data_item_byname(data, name);
	const bool found = item && obs_data_item_gettype(item) == type;
	obs_data_item_release(&item);
	return found;
}

WebsocketVendor::Request requestOf(ApiClient::Action kind)
{
	switch (kind) {
	case ApiClient::Action::Decision:
		return WebsocketVendor::Request::ModerateMessage;
	case ApiClient::Action::Skip:
		return WebsocketVendor::Request::SkipAlert;
	case ApiClient::Action::ModerationSwitch:
		break;
	}
	return WebsocketVendor::Request::SetModeration;
}

// Why a request is refused: a stable code for the controller, English text for a person.
struct Refused {
	QString code;
	QString error;
};

const Refused SWITCHED_OFF{QStringLiteral("switchedOff"), QStringLiteral("switched off in the Tiplark dock")};

Refused refusedBy(StreamerSession::Refusal refusal)
{
	return {StreamerSession::refusalCode(refusal), StreamerSession::refusalText(refusal)};
}

void answer(obs_data_t *response, const Refused &refused)
{
	obs_data_set_bool(response, "ok", refused.code.isEmpty());
	if (refused.code.isEmpty())
		return;
	setString(response, "code", refused.code);
	setString(response, "error", refused.error);
}

const char *originName(StreamerSession::Origin origin)
{
	switch (origin) {
	case StreamerSession::Origin::Dock:
		return "dock";
	case StreamerSession::Origin::Key:
	case StreamerSession::Origin::Hotkey:
		return "hotkey";
	case StreamerSession::Origin::Controller:
		return "controller";
	}
	return "";
}
} // namespace

WebsocketVendor::WebsocketVendor(StreamerSession *session, const SessionSnapshot *snapshot, QObject *parent)
	: QObject(parent),
	  m_session(session),
	  m_snapshot(snapshot),
	  m_handlers{{{this, Request::GetState},
		      {this, Request::SkipAlert},
		      {this, Request::ModerateMessage},
		      {this, Request::SetModeration}}},
	  m_enabled(session->remoteControlAllowed())
{
	// Every action's end, whoever started it (a request, a hotkey, the dock), with its subject.
	connect(m_session, &StreamerSession::actionFinished, this, &WebsocketVendor::finished);
	connect(m_session, &StreamerSession::remoteControlAllowedChanged, this, [this](bool allowed) {
		m_enabled.store(allowed);
		obs_log(LOG_INFO, "Tiplark: obs-websocket vendor requests and events switched %s",
			allowed ? "on" : "off");
	});
}

void WebsocketVendor::start()
{
	CallData lookup;
	proc_handler_t *ph = nullptr;
	if (proc_handler_call(obs_get_proc_handler(), "obs_websocket_api_get_ph", &lookup.data))
		ph = static_cast<proc_handler_t *>(calldata_ptr(&lookup.data, "ph"));
	if (!ph) {
		obs_log(LOG_INFO, "Tiplark: obs-websocket not found; remote control requests are off");
		return;
	}
	// Vendor requests and events came with its first plug-in interface; later ones report a version.
	CallData version;
	const long long apiVersion =
		proc_handler_call(ph, "get_api_version", &version.data) ? calldata_int(&version.data, "version") : 1;
	CallData registration;
	calldata_set_string(&registration.data, "name", VENDOR_NAME);
	if (apiVersion < 1 || !proc_handler_call(ph, "vendor_register", &registration.data) ||
	    !calldata_ptr(&registration.data, "vendor")) {
		obs_log(LOG_INFO,
			"Tiplark: obs-websocket (plug-in interface %lld) refused the vendor; remote control requests are off",
			apiVersion);
		return;
	}
	m_procHandler = ph;
	m_vendor = calldata_ptr(&registration.data, "vendor");
	{
		QWriteLocker lock(&m_requestsLock);
		m_open = true;
	}
	for (Handler &handler : m_handlers) {
		RequestCallback callback{&WebsocketVendor::onRequest, &handler};
		CallData call;
		calldata_set_ptr(&call.data, "vendor", m_vendor);
		calldata_set_string(&call.data, "type", requestName(handler.request));
		calldata_set_ptr(&call.data, "callback", &callback);
		proc_handler_call(m_procHandler, "vendor_request_register", &call.data);
		if (!calldata_bool(&call.data, "success"))
			obs_log(LOG_WARNING, "Tiplark: obs-websocket refused the request %s",
				requestName(handler.request));
	}

	connect(m_session, &StreamerSession::pendingMessageAdded, this, [this](const DonationMessage &message) {
		obs_data_t *data = recordData(message);
		emitEvent("PendingMessageAdded", data);
		obs_data_release(data);
	});
	connect(m_session, &StreamerSession::donationAdded, this, [this](const DonationMessage &donation) {
		obs_data_t *data = recordData(donation);
		emitEvent("DonationAdded", data);
		obs_data_release(data);
	});
	connect(m_session, &StreamerSession::moderationChanged, this, [this](bool enabled) {
		obs_data_t *data = obs_data_create();
		obs_data_set_bool(data, "enabled", enabled);
		emitEvent("ModerationChanged", data);
		obs_data_release(data);
	});
	obs_log(LOG_INFO, "Tiplark: obs-websocket vendor \"%s\" registered", VENDOR_NAME);
}

void WebsocketVendor::stop()
{
	if (!m_vendor)
		return;
	disconnect(m_session, nullptr, this, nullptr);
	for (const Handler &handler : m_handlers) {
		CallData call;
		calldata_set_ptr(&call.data, "vendor", m_vendor);
		calldata_set_string(&call.data, "type", requestName(handler.request));
		proc_handler_call(m_procHandler, "vendor_request_unregister", &call.data);
	}
	// obs-websocket lets go of its own lock before it calls a request: one may still be running, or
	// about to start with a copy of the callback taken just before it was withdrawn.
	QWriteLocker lock(&m_requestsLock);
	m_open = false;
	m_vendor = nullptr;
	m_procHandler = nullptr;
}

void WebsocketVendor::onRequest(obs_data_t *requestData, obs_data_t *responseData, void *handler)
{
	const auto *h = static_cast<const Handler *>(handler);
	QReadLocker lock(&h->vendor->m_requestsLock);
	if (!h->vendor->m_open) {
		answer(responseData, {QStringLiteral("shuttingDown"), QStringLiteral("shutting down")});
		return;
	}
	h->vendor->handle(h->request, requestData, responseData);
}

void WebsocketVendor::handle(Request request, obs_data_t *requestData, obs_data_t *responseData)
{
	if (!m_enabled.load()) {
		answer(responseData, SWITCHED_OFF);
		return;
	}
	const RemoteState state = m_snapshot->state();
	// Runs the action on the GUI thread; a refusal found there (the state changed meanwhile) follows as
	// ActionFinished, which frees the kind again. While one is queued or running, a further one of its
	// kind is answered at once. The session outlives the vendor, and a queued call goes with the vendor.
	auto queue = [this, request](std::function<StreamerSession::Refusal(StreamerSession *)> action,
				     StreamerSession::Action subject) {
		if (!m_busy.tryTake(std::size_t(request)))
			return refusedBy(StreamerSession::Refusal::Busy);
		QMetaObject::invokeMethod(
			this,
			[this, action, subject]() mutable {
				// The streamer may have switched the vendor off since the request was answered.
				if (!m_session->remoteControlAllowed()) {
					subject.error = SWITCHED_OFF.error;
					subject.code = SWITCHED_OFF.code;
					finished(subject);
					return;
				}
				const StreamerSession::Refusal refused = action(m_session);
				if (refused == StreamerSession::Refusal::None)
					return;
				subject.error = StreamerSession::refusalText(refused);
				subject.code = StreamerSession::refusalCode(refused);
				finished(subject);
			},
			Qt::QueuedConnection);
		return Refused();
	};
	const auto controller = StreamerSession::Origin::Controller;
	const StreamerSession::Refusal signedOut = state.signedIn ? StreamerSession::Refusal::None
								  : StreamerSession::Refusal::SignedOut;

	switch (request) {
	case Request::GetState:
		fillState(responseData, state);
		answer(responseData, Refused());
		return;
	case Request::SkipAlert:
		answer(responseData,
		       signedOut != StreamerSession::Refusal::None
			       ? refusedBy(signedOut)
			       : queue([controller](StreamerSession *session) { return session->skipAlert(controller); },
				       {ApiClient::Action::Skip, QString(), false, false, QString(), QString(),
					controller}));
		return;
	case Request::ModerateMessage: {
		if (!hasItem(requestData, "messageId", OBS_DATA_STRING) ||
		    !hasItem(requestData, "accept", OBS_DATA_BOOLEAN)) {
			answer(responseData, {QStringLiteral("missingField"),
					      QStringLiteral("messageId (string) and accept (boolean) are required")});
			return;
		}
		const QString id = QString::fromUtf8(obs_data_get_string(requestData, "messageId"));
		const bool accept = obs_data_get_bool(requestData, "accept");
		const StreamerSession::Refusal refused =
			StreamerSession::decisionRefusal(state.signedIn, state.pending, id);
		answer(responseData, refused != StreamerSession::Refusal::None
					     ? refusedBy(refused)
					     : queue(
						       [id, accept, controller](StreamerSession *session) {
							       return session->decide(id, accept, controller);
						       },
						       {ApiClient::Action::Decision, id, false, false, QString(),
							QString(), controller}));
		return;
	}
	case Request::SetModeration: {
		if (!hasItem(requestData, "enabled", OBS_DATA_BOOLEAN)) {
			answer(responseData,
			       {QStringLiteral("missingField"), QStringLiteral("enabled (boolean) is required")});
			return;
		}
		const bool enabled = obs_data_get_bool(requestData, "enabled");
		answer(responseData, signedOut != StreamerSession::Refusal::None
					     ? refusedBy(signedOut)
					     : queue(
						       [enabled, controller](StreamerSession *session) {
							       return session->setModeration(enabled, controller);
						       },
						       {ApiClient::Action::ModerationSwitch, QString(), enabled, false,
							QString(), QString(), controller}));
		return;
	}
	}
}

void WebsocketVendor::finished(const StreamerSession::Action &action)
{
	// Only the end of the action a controller's request took its kind for frees that kind.
	if (action.origin == StreamerSession::Origin::Controller)
		m_busy.release(std::size_t(requestOf(action.kind)));
	obs_data_t *data = obs_data_create();
	obs_data_set_string(data, "action", requestName(requestOf(action.kind)));
	if (action.kind == ApiClient::Action::Decision)
		setString(data, "messageId", action.messageId);
	else if (action.kind == ApiClient::Action::ModerationSwitch)
		obs_data_set_bool(data, "enabled", action.enabled);
	obs_data_set_string(data, "origin", originName(action.origin));
	obs_data_set_bool(data, "ok", action.ok);
	setString(data, "code", action.code);
	setString(data, "error", action.error);
	emitEvent("ActionFinished", data);
	obs_data_release(data);
}

void WebsocketVendor::emitEvent(const char *type, obs_data_t *data)
{
	if (!m_vendor || !m_enabled.load())
		return;
	CallData call;
	calldata_set_ptr(&call.data, "vendor", m_vendor);
	calldata_set_string(&call.data, "type", type);
	calldata_set_ptr(&call.data, "data", data);
	proc_handler_call(m_procHandler, "vendor_event_emit", &call.data);
}
