#include "api-envelope.h"

#include <QJsonDocument>
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

ApiEnvelope::ListAnswer ApiEnvelope::readList(const QByteArray &body, int shownCap, Keep keep, int recentCap,
					      const QSet<QString> &known)
{
	ListAnswer answer;
	QJsonParseError error;
	const QJsonArray list = listOf(QJsonDocument::fromJson(body, &error));
	answer.readable = error.error == QJsonParseError::NoError || body.trimmed().isEmpty();

	// Only the id and time of each element first: records are made for the few that are kept.
	struct Element {
		int index;
		QString id;
		QDateTime createdAt;
	};
	std::vector<Element> usable;
	usable.reserve(size_t(list.size()));
	for (int i = 0; i < list.size(); ++i) {
		const QJsonObject object = list.at(i).toObject();
		const QString id = object.value(QLatin1String("id")).toString();
		if (id.size() > MAX_ID_CHARS) {
			++answer.droppedIds;
			continue;
		}
		usable.push_back({i, id, DonationMessage::timeOf(object)});
	}
	answer.total = int(usable.size());

	// Newest first, or oldest first; a record without a readable time after every one with a time, each
	// kind in the service's order.
	auto ordered = [&usable](Keep first) {
		std::vector<Element> result = usable;
		std::stable_sort(result.begin(), result.end(), [first](const Element &a, const Element &b) {
			if (a.createdAt.isValid() != b.createdAt.isValid())
				return a.createdAt.isValid();
			if (!a.createdAt.isValid())
				return false;
			return first == Keep::Newest ? a.createdAt > b.createdAt : a.createdAt < b.createdAt;
		});
		return result;
	};
	auto record = [&list](int index) {
		return DonationMessage::fromJson(list.at(index).toObject());
	};

	const std::vector<Element> newest = ordered(Keep::Newest);
	const std::vector<Element> &kept = keep == Keep::Newest ? newest : ordered(Keep::Oldest);
	std::vector<int> inServiceOrder;
	for (size_t i = 0; i < std::min(kept.size(), size_t(std::max(0, shownCap))); ++i)
		inServiceOrder.push_back(kept[i].index);
	std::sort(inServiceOrder.begin(), inServiceOrder.end());
	for (int index : inServiceOrder)
		answer.shown.append(record(index));

	// Without an id a record cannot be told apart from the next answer's: never news.
	for (size_t i = std::min(newest.size(), size_t(std::max(0, recentCap))); i > 0; --i) {
		const Element &element = newest[i - 1];
		if (!element.id.isEmpty() && !known.contains(element.id))
			answer.arrived.append(record(element.index));
	}
	return answer;
}
