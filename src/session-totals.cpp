#include "session-totals.h"

#include "plugin-support.h"
#include "polish-plural.h"

#include <QCoreApplication>
#include <QStringList>
#include <QRegularExpression>

#include <algorithm>
#include <limits>

void SessionTotals::add(const DonationMessage &donation)
{
	auto it = std::find_if(m_totals.begin(), m_totals.end(),
			       [&](const Total &total) { return total.currency == donation.currency; });
	if (it == m_totals.end()) {
		if (m_totals.size() >= MAX_CURRENCIES) {
			if (m_otherCurrencies++ == 0)
				obs_log(LOG_INFO,
					"Tiplark: Donations in more than %d currencies this session: the others are "
					"counted, not summed",
					MAX_CURRENCIES);
			return;
		}
		it = m_totals.insert(m_totals.end(), Total{donation.currency, 0, 0, donation});
	}
	++it->count;
	// An unreadable amount still counts as a donation; it adds nothing rather than a guess.
	const qint64 cents = parseCents(donation.amount);
	if (cents > parseCents(it->largest.amount))
		it->largest = donation;
	if (cents > 0 && it->cents <= std::numeric_limits<qint64>::max() - cents)
		it->cents += cents;
}

void SessionTotals::clear()
{
	m_totals.clear();
	m_otherCurrencies = 0;
}

int SessionTotals::count() const
{
	int count = m_otherCurrencies;
	for (const Total &total : m_totals)
		count += total.count;
	return count;
}

qint64 SessionTotals::parseCents(const QString &amount)
{
	static const QRegularExpression pattern(QStringLiteral("^\\s*(\\d{1,15})(?:[.,](\\d{1,2}))?\\s*$"));
	const QRegularExpressionMatch match = pattern.match(amount);
	if (!match.hasMatch())
		return -1;
	const QString fraction = match.captured(2).leftJustified(2, QLatin1Char('0'));
	return match.captured(1).toLongLong() * 100 + fraction.toLongLong();
}

QString SessionTotals::decimalText(qint64 cents)
{
	return QStringLiteral("%1.%2").arg(cents / 100).arg(cents % 100, 2, 10, QLatin1Char('0'));
}

QString SessionTotals::amountText(const QString &amount, const QString &currency)
{
	return currency.isEmpty() ? amount : amount + QLatin1Char(' ') + currency;
}

QString SessionTotals::sumsText() const
{
	QStringList parts;
	for (const Total &total : m_totals)
		parts << amountText(decimalText(total.cents), total.currency);
	if (m_otherCurrencies > 0)
		parts << QStringLiteral("+ %1 %2")
				 .arg(m_otherCurrencies)
				 .arg(polishPlural(m_otherCurrencies, QStringLiteral("wpłata w innej walucie"),
						   QStringLiteral("wpłaty w innych walutach"),
						   QStringLiteral("wpłat w innych walutach")));
	return parts.join(QStringLiteral(" · "));
}

QString SessionTotals::summary(const QTime &since) const
{
	const int donations = count();
	QString counted = QStringLiteral("%1 %2").arg(donations).arg(
		polishPlural(donations, QStringLiteral("wpłata"), QStringLiteral("wpłaty"), QStringLiteral("wpłat")));
	if (donations > 0)
		counted += QStringLiteral(" · ") + sumsText();
	if (since.isValid())
		return QCoreApplication::translate("SessionTotals", "Ta sesja (od %1): %2")
			.arg(since.toString(QStringLiteral("HH:mm")), counted);
	return QCoreApplication::translate("SessionTotals", "Ta sesja: %1").arg(counted);
}
