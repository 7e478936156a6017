#include "api-envelope.h"

#include <QJsonDocument>
#include <QHash>
#include <QJsonValue>

#include <algorithm>
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

	// Only the time of each element first: the records are made for the few that are kept.
	struct Element {
		int index;
		QDateTime createdAt;
	};
	std::vector<Element> usable;
	usable.reserve(size_t(list.size()));
	for (int i = 0; i < list.size(); ++i) {
		const QJsonObject object = list.at(i).toObject();
		if (object.value(QLatin1String("id")).toString().size() > MAX_ID_CHARS) {
			++answer.droppedIds;
			continue;
		}
		usable.push_back({i, DonationMessage::timeOf(object)});
	}
	answer.total = int(usable.size());

	// Newest first; a record without a readable time after every one with a time, each kind in the
	// service's order.
	std::stable_sort(usable.begin(), usable.end(), [](const Element &a, const Element &b) {
		if (a.createdAt.isValid() != b.createdAt.isValid())
			return a.createdAt.isValid();
		return a.createdAt.isValid() && a.createdAt > b.createdAt;
	});
	const size_t shown = std::min(usable.size(), size_t(std::max(0, shownCap)));
	const size_t recent = std::min(usable.size(), size_t(std::max(0, recentCap)));
	usable.resize(std::max(shown, recent));

	QHash<int, DonationMessage> made;
	auto record = [&](int index) {
		auto it = made.find(index);
		if (it == made.end())
			it = made.insert(index, DonationMessage::fromJson(list.at(index).toObject()));
		return it.value();
	};
	std::vector<int> inServiceOrder;
	for (size_t i = 0; i < shown; ++i)
		inServiceOrder.push_back(usable[i].index);
	std::sort(inServiceOrder.begin(), inServiceOrder.end());
	for (int index : inServiceOrder)
		answer.shown.append(record(index));
	for (size_t i = recent; i > 0; --i)
		answer.recent.append(record(usable[i - 1].index));
	return answer;
}
