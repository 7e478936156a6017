#include "api-envelope.h"

#include <QJsonDocument>
#include <QJsonValue>

#include <algorithm>
#include <numeric>
#include <vector>

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

QJsonObject ApiEnvelope::objectPayload(const QByteArray &body, bool *readable)
{
	QJsonParseError error;
	const QJsonObject top = QJsonDocument::fromJson(body, &error).object();
	if (readable)
		*readable = error.error == QJsonParseError::NoError || body.trimmed().isEmpty();
	return top.contains(DATA_KEY) ? top.value(DATA_KEY).toObject() : top;
}

QJsonArray ApiEnvelope::listPayload(const QByteArray &body)
{
	return listOf(QJsonDocument::fromJson(body));
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

ApiEnvelope::ListAnswer ApiEnvelope::readList(const QByteArray &body, int shownCap, int recentCap)
{
	ListAnswer answer;
	QJsonParseError error;
	const QJsonArray list = listOf(QJsonDocument::fromJson(body, &error));
	answer.readable = error.error == QJsonParseError::NoError || body.trimmed().isEmpty();
	QList<DonationMessage> records;
	records.reserve(list.size());
	for (const QJsonValue &element : list) {
		DonationMessage record = DonationMessage::fromJson(element.toObject());
		if (record.id.size() > MAX_ID_CHARS)
			++answer.droppedIds;
		else
			records.append(std::move(record));
	}
	answer.total = int(records.size());

	// Newest first; a record without a readable time after every one with a time, each kind in the
	// service's order.
	std::vector<int> newest(records.size());
	std::iota(newest.begin(), newest.end(), 0);
	std::stable_sort(newest.begin(), newest.end(), [&](int a, int b) {
		const QDateTime &ta = records.at(a).createdAt;
		const QDateTime &tb = records.at(b).createdAt;
		if (ta.isValid() != tb.isValid())
			return ta.isValid();
		return ta.isValid() && ta > tb;
	});

	std::vector<int> shown(newest.begin(), newest.begin() + std::min<size_t>(newest.size(), size_t(shownCap)));
	std::sort(shown.begin(), shown.end());
	answer.shown.reserve(int(shown.size()));
	for (int index : shown)
		answer.shown.append(records.at(index));
	const int recent = std::min(int(newest.size()), recentCap);
	answer.recent.reserve(recent);
	for (int i = recent - 1; i >= 0; --i)
		answer.recent.append(records.at(newest[size_t(i)]));
	return answer;
}
