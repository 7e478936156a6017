#pragma once

#include "api/donation-model.h"

#include <QList>
#include <QQueue>
#include <QSet>
#include <QString>

// Tells which records of a list are new: those whose id was in no earlier answer since the last reset.
// The first answer after a reset is what was already there, never news. Memory is bounded: the ids of
// the last REMEMBERED records seen are kept (a long one as a digest, ApiEnvelope::knownKey), so a record
// older than the newest REMEMBERED of an answer is never news (the answers hand in only records of that
// many, ApiEnvelope::ListAnswer::arrived).
class RecordArrivals {
public:
	static constexpr int REMEMBERED = 1000;

	// arrived: records of one answer's newest whose ids were not known when it was asked for, oldest
	// first. Returns the new ones, in that order.
	QList<DonationMessage> take(const QList<DonationMessage> &arrived);
	// Forgets every id; the next answer is a first one again.
	void reset();
	int remembered() const { return int(m_order.size()); }
	// The ids remembered, as their ApiEnvelope::knownKey, for the next answer's reader.
	QSet<QString> known() const { return m_known; }

private:
	void remember(const QString &key);

	QSet<QString> m_known;
	// The ids in m_known, oldest first, for letting go of the oldest.
	QQueue<QString> m_order;
	bool m_first = true;
};
