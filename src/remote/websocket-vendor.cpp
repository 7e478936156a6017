#include "websocket-vendor.h"

#include "plugin-support.h"
#include "remote/remote-control-setting.h"
#include "remote/session-snapshot.h"
#include "streamer-session.h"

#include <callback/calldata.h>
#include <callback/proc.h>
#include <obs.h>

#include <QReadLocker>
#include <QStringList>
#include <QWriteLocker>

#include <functional>
#include <optional>

namespace {
// obs-websocket's plug-in interface, as its documentation describes it: a proc handler of its own,
// found through OBS's global one, whose procedures take calldata.
constexpr const char *VENDOR_NAME = "tiplark";

// What "vendor_request_register" takes as "callback": obs-websocket copies it.
struct RequestCallback {
	void (*callback)(obs_data_t *requestData, obs_data_t *responseData, void *privData);
	void *privData;
};

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

void answer(obs_data_t *response, SessionAction::Outcome outcome, const QString &comment = QString())
{
	obs_data_set_bool(response, "ok", outcome == SessionAction::Outcome::Done);
	if (outcome == SessionAction::Outcome::Done)
		return;
	setString(response, "code", outcomeCode(outcome));
	setString(response, "error", comment.isEmpty() ? outcomeText(outcome) : comment);
}

const char *originName(SessionAction::Origin origin)
{
	switch (origin) {
	case SessionAction::Origin::Dock:
		return "dock";
	case SessionAction::Origin::Key:
	case SessionAction::Origin::Hotkey:
		return "hotkey";
	case SessionAction::Origin::Controller:
		return "controller";
	}
	return "";
}

// A field a request needs, of one type.
struct Field {
	const char *name;
	obs_data_type type;
	const char *typeName;
};

// What "missingField" says of a request's fields: "enabled (boolean) is required".
QString fieldsRequired(const std::vector<Field> &fields)
{
	QStringList named;
	for (const Field &field : fields)
		named << QStringLiteral("%1 (%2)").arg(QLatin1String(field.name), QLatin1String(field.typeName));
	return named.join(QStringLiteral(" and ")) +
	       (fields.size() > 1 ? QStringLiteral(" are required") : QStringLiteral(" is required"));
}

constexpr SessionAction::Origin CONTROLLER = SessionAction::Origin::Controller;
} // namespace

// One request of the vendor: its name, the fields it needs, and the action it asks the session for (read
// from the fields); a request without one only reads the state.
struct WebsocketVendor::Request {
	const char *name;
	std::vector<Field> fields;
	std::optional<SessionAction::Kind> kind;
	SessionAction (*action)(obs_data_t *requestData);
};

namespace {
const std::vector<WebsocketVendor::Request> &requests()
{
	static const std::vector<WebsocketVendor::Request> table{
		{"GetState", {}, std::nullopt, nullptr},
		{"SkipAlert",
		 {},
		 SessionAction::Kind::Skip,
		 [](obs_data_t *) {
			 return SessionAction::skip(CONTROLLER);
		 }},
		{"ModerateMessage",
		 {{"messageId", OBS_DATA_STRING, "string"}, {"accept", OBS_DATA_BOOLEAN, "boolean"}},
		 SessionAction::Kind::Decision,
		 [](obs_data_t *data) {
			 return SessionAction::decision(QString::fromUtf8(obs_data_get_string(data, "messageId")),
							obs_data_get_bool(data, "accept"), CONTROLLER);
		 }},
		{"SetModeration",
		 {{"enabled", OBS_DATA_BOOLEAN, "boolean"}},
		 SessionAction::Kind::ModerationSwitch,
		 [](obs_data_t *data) {
			 return SessionAction::moderation(obs_data_get_bool(data, "enabled"), CONTROLLER);
		 }},
	};
	return table;
}

// The request that asks for actions of this kind.
const char *requestNameOf(SessionAction::Kind kind)
{
	for (const WebsocketVendor::Request &request : requests())
		if (request.kind == kind)
			return request.name;
	return "";
}
} // namespace

WebsocketVendor::WebsocketVendor(StreamerSession *session, const SessionSnapshot *snapshot,
				 const RemoteControlSetting *remoteControl, QObject *parent)
	: QObject(parent),
	  m_session(session),
	  m_snapshot(snapshot),
	  m_remoteControl(remoteControl)
{
	for (const Request &request : requests())
		m_handlers.push_back({this, &request});
	// Every action's end, whoever started it (a request, a hotkey, the dock), with its subject.
	connect(m_session, &StreamerSession::actionFinished, this, &WebsocketVendor::finished);
	connect(m_session, &StreamerSession::actionRefused, this, [this](const SessionAction &action) {
		if (action.origin == SessionAction::Origin::Controller)
			finished(action);
	});
	connect(m_remoteControl, &RemoteControlSetting::allowedChanged, this, [](bool allowed) {
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
		calldata_set_string(&call.data, "type", handler.request->name);
		calldata_set_ptr(&call.data, "callback", &callback);
		proc_handler_call(m_procHandler, "vendor_request_register", &call.data);
		if (!calldata_bool(&call.data, "success"))
			obs_log(LOG_WARNING, "Tiplark: obs-websocket refused the request %s", handler.request->name);
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
		calldata_set_string(&call.data, "type", handler.request->name);
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
		answer(responseData, SessionAction::Outcome::ShuttingDown);
		return;
	}
	h->vendor->handle(*h->request, requestData, responseData);
}

void WebsocketVendor::handle(const char *requestType, obs_data_t *requestData, obs_data_t *responseData)
{
	for (const Request &request : requests())
		if (qstrcmp(request.name, requestType) == 0)
			handle(request, requestData, responseData);
}

void WebsocketVendor::handle(const Request &request, obs_data_t *requestData, obs_data_t *responseData)
{
	if (!m_remoteControl->allowed()) {
		answer(responseData, SessionAction::Outcome::SwitchedOff);
		return;
	}
	for (const Field &field : request.fields) {
		if (!hasItem(requestData, field.name, field.type)) {
			answer(responseData, SessionAction::Outcome::MissingField, fieldsRequired(request.fields));
			return;
		}
	}
	const RemoteState state = m_snapshot->state();
	if (!request.action) {
		fillState(responseData, state);
		answer(responseData, SessionAction::Outcome::Done);
		return;
	}
	const SessionAction action = request.action(requestData);
	const SessionAction::Outcome refusal = StreamerSession::refusalOf(action, state.signedIn, state.pending);
	if (refusal != SessionAction::Outcome::Done) {
		answer(responseData, refusal);
		return;
	}
	// A refusal found when it runs (the state changed meanwhile, or the streamer switched the vendor off
	// since this answer) follows as ActionFinished. The setting outlives the session's queued calls.
	const RemoteControlSetting *remoteControl = m_remoteControl;
	answer(responseData, m_session->submit(action, [remoteControl] {
		return remoteControl->allowed() ? SessionAction::Outcome::Done : SessionAction::Outcome::SwitchedOff;
	}));
}

void WebsocketVendor::finished(const SessionAction &action)
{
	obs_data_t *data = obs_data_create();
	obs_data_set_string(data, "action", requestNameOf(action.kind));
	if (action.kind == SessionAction::Kind::Decision)
		setString(data, "messageId", action.messageId);
	else if (action.kind == SessionAction::Kind::ModerationSwitch)
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
	if (!m_vendor || !m_remoteControl->allowed())
		return;
	CallData call;
	calldata_set_ptr(&call.data, "vendor", m_vendor);
	calldata_set_string(&call.data, "type", type);
	calldata_set_ptr(&call.data, "data", data);
	proc_handler_call(m_procHandler, "vendor_event_emit", &call.data);
}
