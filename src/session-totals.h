#pragma once

#include "api/donation-model.h"

#include <QList>
#include <QString>
#include <QTime>

// The donations that arrived during this sign-in, summed per currency. Which donations arrived is
// decided elsewhere (RecordArrivals): each is added once.
class SessionTotals {
public:
	struct Total {
		QString currency;
		int count = 0;
		// Hundredths of the currency's unit: sums stay exact.
		qint64 cents = 0;

		bool operator==(const Total &other) const
		{
			return currency == other.currency && count == other.count && cents == other.cents;
		}
	};

	void add(const DonationMessage &donation);
	void clear() { m_totals.clear(); }
	// In the order each currency first arrived.
	QList<Total> totals() const { return m_totals; }
	// One line for the streamer, amounts written as the rows write them: "Ta sesja: 12 wpłat · 345.50 PLN";
	// with the time counting began, "Ta sesja (od 20:14): …", so that it does not seem to contradict the
	// older donations listed beside it.
	QString summary(const QTime &since = QTime()) const;
	// An amount as the service wrote it ("12.50", "12,5", "7"), in hundredths; -1 when unreadable.
	static qint64 parseCents(const QString &amount);
	// Hundredths as a decimal number text with a point ("345.50"), for scripts.
	static QString decimalText(qint64 cents);
	// An amount beside its currency, as the rows write it: "345.50 PLN", or "345.50" without a currency.
	static QString amountText(const QString &amount, const QString &currency);
	// The totals' sums in their order: "345.50 PLN · 12.00 EUR".
	static QString sumsText(const QList<Total> &totals);
	// The donations counted in the totals, of every currency.
	static int donationCount(const QList<Total> &totals);

private:
	QList<Total> m_totals;
};
