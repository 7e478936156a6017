#include "api-envelope.h"

#include <QJsonDocument>
#include <QJsonValue>

namespace {
const QLatin1String DATA_KEY("data");
} // namespace

bool ApiEnvelope::isReadable(const QByteArray &body)
{
	if (body.trimmed().isEmpty())
		return true;
	QJsonParseError error;
	QJsonDocument::fromJson(body, &error);
	return error.error == QJsonParseError::NoError;
}

QJsonObject ApiEnvelope::objectPayload(const QByteArray &body)
{
	const QJsonObject top = QJsonDocument::fromJson(body).object();
	return top.contains(DATA_KEY) ? top.value(DATA_KEY).toObject() : top;
}

QJsonArray ApiEnvelope::listPayload(const QByteArray &body)
{
	const QJsonDocument document = QJsonDocument::fromJson(body);
	const QJsonObject top = document.object();
	if (top.contains(DATA_KEY))
		return top.value(DATA_KEY).toArray();
	return document.array();
}

QList<DonationMessage> ApiEnvelope::donationList(const QByteArray &body)
{
	const QJsonArray list = listPayload(body);
	QList<DonationMessage> result;
	result.reserve(list.size());
	for (const QJsonValue &element : list)
		result.append(DonationMessage::fromJson(element.toObject()));
	return result;
}
