#include "api-envelope.h"

#include <QJsonDocument>
#include <QJsonValue>

#include <algorithm>

namespace {
const QLatin1String DATA_KEY("data");

QJsonArray listOf(const QJsonDocument &document)
{
	const QJsonObject top = document.object();
	if (top.contains(DATA_KEY))
		return top.value(DATA_KEY).toArray();
	return document.array();
}
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
	return listOf(QJsonDocument::fromJson(body));
}

QList<DonationMessage> ApiEnvelope::donationList(const QByteArray &body, int limit, int *total, bool *readable)
{
	QJsonParseError error;
	const QJsonArray list = listOf(QJsonDocument::fromJson(body, &error));
	if (readable)
		*readable = error.error == QJsonParseError::NoError || body.trimmed().isEmpty();
	const int count = limit > 0 ? std::min(limit, int(list.size())) : int(list.size());
	QList<DonationMessage> result;
	result.reserve(count);
	for (int i = 0; i < count; ++i)
		result.append(DonationMessage::fromJson(list.at(i).toObject()));
	if (total)
		*total = int(list.size());
	return result;
}
