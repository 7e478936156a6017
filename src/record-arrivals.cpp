#include "record-arrivals.h"

QList<DonationMessage> RecordArrivals::take(const QList<DonationMessage> &recent)
{
	QList<DonationMessage> arrived;
	for (const DonationMessage &record : recent) {
		// Without an id a record cannot be told apart from the next answer's: never news.
		if (record.id.isEmpty() || m_known.contains(record.id))
			continue;
		remember(record.id);
		if (!m_first)
			arrived.append(record);
	}
	m_first = false;
	return arrived;
}

void RecordArrivals::reset()
{
	m_known.clear();
	m_order.clear();
	m_first = true;
}

void RecordArrivals::remember(const QString &id)
{
	m_known.insert(id);
	m_order.enqueue(id);
	if (m_order.size() > REMEMBERED)
		m_known.remove(m_order.dequeue());
}
