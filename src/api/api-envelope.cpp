#include "api-envelope.h"

#include <QCryptographicHash>
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

QString ApiEnvelope::knownKey(const QString &id)
{
	if (id.size() <= MAX_ID_CHARS)
		return id;
	return QLatin1Char('#') +
	       QString::fromLatin1(QCryptographicHash::hash(id.toUtf8(), QCryptographicHash::Sha256).toBase64());
}

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

	// Only the time of each element first: records are made for the few that are kept.
	struct Element {
		int index;
		QDateTime createdAt;
	};
	std::vector<Element> elements;
	elements.reserve(size_t(list.size()));
	for (int i = 0; i < list.size(); ++i)
		elements.push_back({i, DonationMessage::timeOf(list.at(i).toObject())});
	answer.total = int(elements.size());

	// The first count elements, newest first or oldest first; a record without a readable time after
	// every one with a time, each kind in the service's order.
	auto first = [&elements](Keep order, int count) {
		std::vector<const Element *> result;
		result.reserve(elements.size());
		for (const Element &element : elements)
			result.push_back(&element);
		const auto end = result.begin() + qsizetype(std::min(result.size(), size_t(std::max(0, count))));
		std::partial_sort(result.begin(), end, result.end(), [order](const Element *a, const Element *b) {
			if (a->createdAt.isValid() != b->createdAt.isValid())
				return a->createdAt.isValid();
			if (a->createdAt.isValid() && a->createdAt != b->createdAt)
				return order == Keep::Newest ? a->createdAt > b->createdAt
							     : a->createdAt < b->createdAt;
			return a->index < b->index;
		});
		result.erase(end, result.end());
		return result;
	};
	auto record = [&list](int index) {
		return DonationMessage::fromJson(list.at(index).toObject());
	};

	std::vector<int> inServiceOrder;
	for (const Element *element : first(keep, shownCap))
		inServiceOrder.push_back(element->index);
	std::sort(inServiceOrder.begin(), inServiceOrder.end());
	for (int index : inServiceOrder)
		answer.shown.append(record(index));

	// Without an id a record cannot be told apart from the next answer's: never news.
	const std::vector<const Element *> recent = first(Keep::Newest, recentCap);
	for (auto it = recent.crbegin(); it != recent.crend(); ++it) {
		const QString id = list.at((*it)->index).toObject().value(QLatin1String("id")).toString();
		if (!id.isEmpty() && !known.contains(knownKey(id)))
			answer.arrived.append(record((*it)->index));
	}
	return answer;
}
