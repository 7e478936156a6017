#include "endpoints.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

// Lets a test in another process (the end-to-end tests, the demo) drive the standalone sandbox:
//   POST   /_sandbox/faults    {"path": "/v1/me", "kind": "respond", "status": 500, "body": "..."} (or a list)
//   DELETE /_sandbox/faults    forget all faults
//   GET    /_sandbox/requests  the record, oldest first
//   DELETE /_sandbox/requests  forget the record
//   POST   /_sandbox/release   let held requests go
//   GET    /_sandbox/traffic   {"connections": N, "fullHandshakes": N, "resumedHandshakes": N} (this call's
//                              own connection included)
//   POST   /_sandbox/reset     forget records and faults, start the state afresh
//   GET    /_sandbox/state     the endpoints' state;  POST /_sandbox/state {"key": value, ...} merges into it
// Fault fields: path (required), kind (respond, close, hold, redirect, malformed, large, raw, drip),
// status, body, contentType, location, size (drip: bytes per piece), delayMs, intervalMs (drip), times,
// method.

namespace {

using namespace Sandbox;

Reply ok()
{
	return Reply::json(200, "{\"ok\":true}");
}

Reply badRequest(const QString &why)
{
	return Reply::json(400, QJsonDocument(QJsonObject{{"error", why}}).toJson(QJsonDocument::Compact));
}

bool faultFromJson(const QJsonObject &object, QByteArray &path, Fault &fault, QString &why)
{
	path = object.value("path").toString().toUtf8();
	if (!path.startsWith('/')) {
		why = QStringLiteral("path must begin with /");
		return false;
	}
	static const QHash<QString, Fault::Kind> kinds = {
		{"respond", Fault::Kind::Respond},
		{"close", Fault::Kind::Close},
		{"hold", Fault::Kind::Hold},
		{"redirect", Fault::Kind::Redirect},
		{"malformed", Fault::Kind::Malformed},
		{"large", Fault::Kind::Large},
		{"raw", Fault::Kind::Raw},
		{"drip", Fault::Kind::Drip},
	};
	const QString kind = object.value("kind").toString(QStringLiteral("respond"));
	if (!kinds.contains(kind)) {
		why = QStringLiteral("unknown kind: ") + kind;
		return false;
	}
	fault.kind = kinds.value(kind);
	fault.status = object.value("status").toInt(fault.kind == Fault::Kind::Redirect ? 302 : 200);
	fault.body = object.value("body").toString().toUtf8();
	fault.contentType = object.value("contentType").toString(QStringLiteral("application/json")).toUtf8();
	fault.location = object.value("location").toString().toUtf8();
	fault.size = qint64(object.value("size").toDouble(0));
	fault.delayMs = object.value("delayMs").toInt(0);
	fault.intervalMs = object.value("intervalMs").toInt(0);
	fault.times = object.value("times").toInt(-1);
	fault.method = object.value("method").toString().toUtf8();
	return true;
}

QJsonObject requestToJson(const Request &request)
{
	QJsonArray headers;
	for (const QByteArray &line : request.headerLines)
		headers.append(QString::fromUtf8(line));
	return QJsonObject{
		{"method", QString::fromUtf8(request.method)},
		{"target", QString::fromUtf8(request.target)},
		{"path", QString::fromUtf8(request.path)},
		{"query", QString::fromUtf8(request.query)},
		{"headers", headers},
		{"body", QString::fromUtf8(request.body)},
		{"bodyBase64", QString::fromLatin1(request.body.toBase64())},
	};
}

} // namespace

EndpointGroup Sandbox::controlEndpoints(Control &control)
{
	Control *sandbox = &control;
	const QList<Endpoint> endpoints = {
		{"POST", "/_sandbox/faults",
		 [sandbox](const Request &request, State &) {
			 const QJsonDocument document = QJsonDocument::fromJson(request.body);
			 QJsonArray list = document.isArray() ? document.array() : QJsonArray{document.object()};
			 QList<QPair<QByteArray, Fault>> parsed;
			 for (const QJsonValue &value : list) {
				 QByteArray path;
				 Fault fault;
				 QString why;
				 if (!faultFromJson(value.toObject(), path, fault, why))
					 return badRequest(why);
				 parsed.append({path, fault});
			 }
			 for (const auto &entry : parsed)
				 sandbox->setFault(entry.first, entry.second);
			 return ok();
		 }},
		{"DELETE", "/_sandbox/faults",
		 [sandbox](const Request &, State &) {
			 sandbox->clearFaults();
			 return ok();
		 }},
		{"GET", "/_sandbox/requests",
		 [sandbox](const Request &, State &) {
			 QJsonArray list;
			 for (const Request &request : sandbox->requests())
				 list.append(requestToJson(request));
			 return Reply::json(200, QJsonDocument(list).toJson(QJsonDocument::Compact));
		 }},
		{"DELETE", "/_sandbox/requests",
		 [sandbox](const Request &, State &) {
			 sandbox->clearRequests();
			 return ok();
		 }},
		{"GET", "/_sandbox/traffic",
		 [sandbox](const Request &, State &) {
			 const Control::Traffic traffic = sandbox->traffic();
			 const QJsonObject object{{"connections", traffic.connections},
						  {"fullHandshakes", traffic.fullHandshakes},
						  {"resumedHandshakes", traffic.resumedHandshakes}};
			 return Reply::json(200, QJsonDocument(object).toJson(QJsonDocument::Compact));
		 }},
		{"POST", "/_sandbox/release",
		 [sandbox](const Request &, State &) {
			 sandbox->releaseHeld();
			 return ok();
		 }},
		{"POST", "/_sandbox/reset",
		 [sandbox](const Request &, State &) {
			 sandbox->reset();
			 return ok();
		 }},
		{"GET", "/_sandbox/state",
		 [](const Request &, State &state) {
			 QMutexLocker lock(&state.mutex);
			 const QJsonObject object = QJsonObject::fromVariantHash(state.values);
			 return Reply::json(200, QJsonDocument(object).toJson(QJsonDocument::Compact));
		 }},
		{"POST", "/_sandbox/state",
		 [](const Request &request, State &state) {
			 const QJsonDocument document = QJsonDocument::fromJson(request.body);
			 if (!document.isObject())
				 return badRequest(QStringLiteral("a JSON object is expected"));
			 QMutexLocker lock(&state.mutex);
			 const QVariantHash values = document.object().toVariantHash();
			 for (auto it = values.constBegin(); it != values.constEnd(); ++it)
				 state.values.insert(it.key(), it.value());
			 return ok();
		 }},
	};
	return {endpoints, {}};
}
