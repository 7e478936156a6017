#pragma once

#include "api/donation-model.h"

#include <QList>
#include <QQueue>
#include <QSet>
#include <QString>

// Tells which records of a list are new: those whose id was in no earlier answer since the last reset.
// The first answer after a reset is what was already there, never news. Memory is bounded: the ids of
// the last REMEMBERED records seen are kept, so a record older than the newest REMEMBERED of an answer
// is never news (the answers hand in only that many, ApiEnvelope::ListAnswer::recent).
class RecordArrivals {
public:
	static constexpr int REMEMBERED = 1000;

	// recent: the newest records of one answer, oldest first. Returns the new ones, in that order.
	QList<DonationMessage> take(const QList<DonationMessage> &recent);
	// Forgets every id; the next answer is a first one again.
	void reset();
	int remembered() const { return int(m_order.size()); }

private:
	void remember(const QString &id);

	QSet<QString> m_known;
	// The ids in m_known, oldest first, for letting go of the oldest.
	QQueue<QString> m_order;
	bool m_first = true;
};
