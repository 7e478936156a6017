#include "record-arrivals.h"

#include "api/api-envelope.h"

QList<DonationMessage> RecordArrivals::take(const QList<DonationMessage> &arrived)
{
	QList<DonationMessage> news;
	// Answers asked for before the last one was taken may hand in its records again.
	for (const DonationMessage &record : arrived) {
		// Without an id a record cannot be told apart from the next answer's: never news.
		const QString key = ApiEnvelope::knownKey(record.id);
		if (record.id.isEmpty() || m_known.contains(key))
			continue;
		remember(key);
		if (!m_first)
			news.append(record);
	}
	m_first = false;
	return news;
}

void RecordArrivals::reset()
{
	m_known.clear();
	m_order.clear();
	m_first = true;
}

void RecordArrivals::remember(const QString &key)
{
	m_known.insert(key);
	m_order.enqueue(key);
	if (m_order.size() > REMEMBERED)
		m_known.remove(m_order.dequeue());
}
