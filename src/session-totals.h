#pragma once

#include "api/donation-model.h"

#include <QList>
#include <QString>
#include <QTime>

// The donations that arrived during this sign-in, summed per currency. Which donations arrived is
// decided elsewhere (RecordArrivals): each is added once. A plain value, copied to any thread.
class SessionTotals {
public:
	// Currencies summed apart, the first to arrive; a donation in any other is counted, not summed. A
	// service that sent thousands would make the dock's line and the labels thousands of sums long.
	static constexpr int MAX_CURRENCIES = 5;

	struct Total {
		QString currency;
		int count = 0;
		// Hundredths of the currency's unit: sums stay exact.
		qint64 cents = 0;
		// The largest donation (the first of equal amounts).
		DonationMessage largest;

		bool operator==(const Total &other) const
		{
			return currency == other.currency && count == other.count && cents == other.cents;
		}
	};

	void add(const DonationMessage &donation);
	void clear();
	// The currencies summed apart, in the order each first arrived.
	QList<Total> totals() const { return m_totals; }
	// Every donation counted, of every currency.
	int count() const;
	// The sums in their order, amounts written as the rows write them: "345.50 PLN · 12.00 EUR", then
	// "+ 3 wpłaty w innych walutach" for donations in currencies not summed apart.
	QString sumsText() const;
	// One line for the streamer: "Ta sesja: 12 wpłat · 345.50 PLN"; with the time counting began,
	// "Ta sesja (od 20:14): …", so that it does not seem to contradict the older donations listed beside it.
	QString summary(const QTime &since = QTime()) const;
	// An amount as the service wrote it ("12.50", "12,5", "7"), in hundredths; -1 when unreadable.
	static qint64 parseCents(const QString &amount);
	// Hundredths as a decimal number text with a point ("345.50"), for scripts.
	static QString decimalText(qint64 cents);
	// An amount beside its currency, as the rows write it: "345.50 PLN", or "345.50" without a currency.
	static QString amountText(const QString &amount, const QString &currency);

private:
	QList<Total> m_totals;
	// The donations in currencies beyond those.
	int m_otherCurrencies = 0;
};
