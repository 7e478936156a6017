#include "api-state.h"
#include "endpoints.h"
#include "oauth-endpoints.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMutexLocker>
#include <QUrl>

// The service's REST side:
//   GET   /v1/me                                   the user ("name")
//   GET   /v1/moderation                           {"enabled": bool}
//   PATCH /v1/moderation                           body {"enabled": bool}
//   GET   /v1/moderation/moderate/pending-messages the pending queue, oldest first
//   PATCH /v1/moderation/moderate/<id>             body {"action": "accept"|"reject"}; <id> is one
//                                                  percent-encoded path segment
//   GET   /v1/donations                            the donations, newest first
//   POST  /v1/donations/queue/skip                 skips the notification on air
//   GET   /extensions/details/obs                  the published version (no token needed, never wrapped)
// Every /v1 request needs "Authorization: Bearer <token>" with a token the OAuth side issued and that has
// not expired; otherwise 401. Payloads come wrapped in {"data": ...} unless api.envelope is false.
// Control, for tests and the demo in other processes:
//   POST  /_sandbox/donations                      a new donation arrives (the body's object, or a made-up
//                                                  one for an empty body), as the donation script does it

namespace Sandbox {

const QString ApiState::ENVELOPE = QStringLiteral("api.envelope");
const QString ApiState::USER_NAME = QStringLiteral("api.userName");
const QString ApiState::MODERATION_ENABLED = QStringLiteral("api.moderationEnabled");
const QString ApiState::PENDING = QStringLiteral("api.pending");
const QString ApiState::DONATIONS = QStringLiteral("api.donations");
const QString ApiState::SKIPS = QStringLiteral("api.skips");
const QString ApiState::UPDATE = QStringLiteral("api.update");

namespace {

const QString NEXT_SERIAL = QStringLiteral("api.nextSerial");

QByteArray compact(const QJsonValue &value)
{
	return value.isArray() ? QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact)
			       : QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact);
}

Reply error(int status, const QString &code)
{
	return Reply::json(status, compact(QJsonObject{{"error", code}}));
}

// Wraps a payload as the service does, unless a test switched the envelope off. Call with the lock held.
Reply payload(const State &state, const QJsonValue &value)
{
	if (state.values.value(ApiState::ENVELOPE, true).toBool())
		return Reply::json(200, compact(QJsonObject{{"data", value}}));
	return Reply::json(200, compact(value));
}

QJsonArray list(const State &state, const QString &key)
{
	return QJsonArray::fromVariantList(state.values.value(key).toList());
}

int takeSerial(State &state)
{
	const int serial = state.values.value(NEXT_SERIAL, 1).toInt();
	state.values.insert(NEXT_SERIAL, serial + 1);
	return serial;
}

// One of the shapes the service's donations come in, chosen by the serial number.
QJsonObject makeDonation(int serial)
{
	static const char *const nicknames[] = {"Kasia_gra", "Tomek", "anon", "Zażółć_Gęślą", "Ola", "MistrzGier"};
	static const char *const messages[] = {"Pozdrawiam cały czat! 🎉", "Zagraj jeszcze raz tę mapę",
					       "Dzięki za stream", "Na nowy mikrofon :)"};
	static const char *const methods[] = {"blik", "paypal", "paysafecard", "przelew"};
	QJsonObject donation{
		{"id", QStringLiteral("0190c3b2-0000-7000-8000-%1").arg(serial, 12, 10, QLatin1Char('0'))},
		{"nickname", QString::fromUtf8(nicknames[serial % 6])},
		{"currency", serial % 7 == 0 ? "EUR" : "PLN"},
		{"payment_method", methods[serial % 4]},
		{"created_at", QDateTime::currentDateTimeUtc().toString(Qt::ISODate)},
	};
	// Answers of the real service vary in these; the demo shows every shape (every fifth message is null).
	donation.insert("message_content",
			serial % 5 == 4 ? QJsonValue() : QJsonValue(QString::fromUtf8(messages[serial % 5])));
	const double amount = 5 + (serial * 7) % 46 + (serial % 2 ? 0.5 : 0);
	donation.insert("amount", serial % 4 == 3 ? QJsonValue(QString::number(amount, 'f', 2)) : QJsonValue(amount));
	donation.insert("goal", serial % 3 == 0   ? QJsonValue(QJsonObject{{"id", 3}, {"name", "Nowy mikrofon"}})
				: serial % 3 == 1 ? QJsonValue()
						  : QJsonValue(QStringLiteral("Wyjazd na turniej")));
	return donation;
}

QJsonObject receiveLocked(State &state, QJsonObject donation)
{
	if (donation.isEmpty())
		donation = makeDonation(takeSerial(state));
	if (state.values.value(ApiState::MODERATION_ENABLED).toBool()) {
		QVariantList pending = state.values.value(ApiState::PENDING).toList();
		pending.append(donation.toVariantMap());
		state.values.insert(ApiState::PENDING, pending);
	} else {
		QVariantList donations = state.values.value(ApiState::DONATIONS).toList();
		donations.prepend(donation.toVariantMap());
		state.values.insert(ApiState::DONATIONS, donations);
	}
	return donation;
}

// "Authorization: Bearer <token>" with a token that the OAuth side issued and still honours.
bool bearerTokenAccepted(const Request &request, State &state)
{
	const QByteArray authorization = request.header("Authorization");
	const QByteArray scheme = "bearer ";
	if (authorization.left(scheme.size()).toLower() != scheme)
		return false;
	const QByteArray token = authorization.mid(scheme.size()).trimmed();
	return !token.isEmpty() && OAuth::isAccessTokenValid(state, token);
}

// Addresses in api.update that begin with "/" point at this sandbox, whatever its port.
QJsonObject updateAnswer(const State &state, const Request &request)
{
	QJsonObject answer = QJsonObject::fromVariantMap(state.values.value(ApiState::UPDATE).toMap());
	const QString origin = QStringLiteral("http://") + QString::fromUtf8(request.header("Host"));
	for (auto it = answer.begin(); it != answer.end(); ++it) {
		const QString text = it.value().toString();
		if (it.key().startsWith(QLatin1String("download_url")) && text.startsWith(QLatin1Char('/')))
			it.value() = origin + text;
	}
	return answer;
}

void initialState(State &state)
{
	state.values.insert(ApiState::ENVELOPE, true);
	state.values.insert(ApiState::USER_NAME, QStringLiteral("Streamer Testowy"));
	state.values.insert(ApiState::SKIPS, 0);
	state.values.insert(ApiState::PENDING, QVariantList());
	state.values.insert(ApiState::DONATIONS, QVariantList());
	state.values.insert(ApiState::UPDATE,
			    QVariantMap{{"version", "1.1.0"},
					{"download_url", "/downloads/tiplark-obs-plugin-1.1.0.zip"},
					{"download_url_windows", "/downloads/tiplark-obs-plugin-1.1.0-windows.exe"},
					{"download_url_macos", "/downloads/tiplark-obs-plugin-1.1.0-macos.pkg"},
					{"download_url_linux", "/downloads/tiplark-obs-plugin-1.1.0-linux.tar.gz"}});
	// Three donations already shown, then two messages waiting for a decision.
	state.values.insert(ApiState::MODERATION_ENABLED, false);
	for (int i = 0; i < 3; ++i)
		receiveLocked(state, QJsonObject());
	state.values.insert(ApiState::MODERATION_ENABLED, true);
	for (int i = 0; i < 2; ++i)
		receiveLocked(state, QJsonObject());
}

} // namespace

QJsonObject ApiState::receiveDonation(State &state, const QJsonObject &donation)
{
	QMutexLocker lock(&state.mutex);
	return receiveLocked(state, donation);
}

EndpointGroup apiEndpoints()
{
	// Every /v1 handler: 401 without a live token, else the answer made under the state's lock.
	auto authorized = [](std::function<Reply(const Request &, State &)> handler) {
		return [handler](const Request &request, State &state) {
			if (!bearerTokenAccepted(request, state))
				return error(401, QStringLiteral("unauthorized"));
			QMutexLocker lock(&state.mutex);
			return handler(request, state);
		};
	};

	const QList<Endpoint> endpoints = {
		{"GET", "/v1/me", authorized([](const Request &, State &state) {
			 return payload(state,
					QJsonObject{{"id", "u-0001"},
						    {"name", state.values.value(ApiState::USER_NAME).toString()}});
		 })},
		{"GET", "/v1/moderation", authorized([](const Request &, State &state) {
			 return payload(
				 state,
				 QJsonObject{{"enabled", state.values.value(ApiState::MODERATION_ENABLED).toBool()}});
		 })},
		{"PATCH", "/v1/moderation", authorized([](const Request &request, State &state) {
			 const QJsonValue enabled = QJsonDocument::fromJson(request.body).object().value("enabled");
			 if (!enabled.isBool())
				 return error(422, QStringLiteral("enabled must be a boolean"));
			 state.values.insert(ApiState::MODERATION_ENABLED, enabled.toBool());
			 return payload(state, QJsonObject{{"enabled", enabled}});
		 })},
		{"GET", "/v1/moderation/moderate/pending-messages", authorized([](const Request &, State &state) {
			 return payload(state, list(state, ApiState::PENDING));
		 })},
		{"PATCH", "/v1/moderation/moderate/([^/]*)", authorized([](const Request &request, State &state) {
			 const QString id = QUrl::fromPercentEncoding(request.captures.value(0).toUtf8());
			 const QString action =
				 QJsonDocument::fromJson(request.body).object().value("action").toString();
			 if (action != QLatin1String("accept") && action != QLatin1String("reject"))
				 return error(422, QStringLiteral("action must be accept or reject"));
			 QVariantList pending = state.values.value(ApiState::PENDING).toList();
			 for (int i = 0; i < pending.size(); ++i) {
				 const QVariantMap message = pending.at(i).toMap();
				 if (message.value("id").toString() != id)
					 continue;
				 pending.removeAt(i);
				 state.values.insert(ApiState::PENDING, pending);
				 // An accepted message goes on air like any other donation.
				 if (action == QLatin1String("accept")) {
					 QVariantList donations = state.values.value(ApiState::DONATIONS).toList();
					 donations.prepend(message);
					 state.values.insert(ApiState::DONATIONS, donations);
				 }
				 return payload(state, QJsonObject{{"id", id}, {"action", action}});
			 }
			 return error(404, QStringLiteral("no such pending message"));
		 })},
		{"GET", "/v1/donations", authorized([](const Request &, State &state) {
			 return payload(state, list(state, ApiState::DONATIONS));
		 })},
		{"POST", "/v1/donations/queue/skip", authorized([](const Request &, State &state) {
			 state.values.insert(ApiState::SKIPS, state.values.value(ApiState::SKIPS).toInt() + 1);
			 return payload(state, QJsonObject{{"skipped", true}});
		 })},
		{"GET", "/extensions/details/obs",
		 [](const Request &request, State &state) {
			 QMutexLocker lock(&state.mutex);
			 return Reply::json(200, compact(updateAnswer(state, request)));
		 }},

		{"POST", "/_sandbox/donations",
		 [](const Request &request, State &state) {
			 const QJsonObject donation = QJsonDocument::fromJson(request.body).object();
			 return Reply::json(200, compact(ApiState::receiveDonation(state, donation)));
		 }},
	};
	return {endpoints, {initialState}};
}

} // namespace Sandbox
