#include "session-totals.h"

#include <QCoreApplication>
#include <QStringList>
#include <QRegularExpression>

#include <limits>

void SessionTotals::add(const DonationMessage &donation)
{
	auto it = std::find_if(m_totals.begin(), m_totals.end(),
			       [&](const Total &total) { return total.currency == donation.currency; });
	if (it == m_totals.end())
		it = m_totals.insert(m_totals.end(), Total{donation.currency, 0, 0});
	++it->count;
	// An unreadable amount still counts as a donation; it adds nothing rather than a guess.
	const qint64 cents = parseCents(donation.amount);
	if (cents > 0 && it->cents <= std::numeric_limits<qint64>::max() - cents)
		it->cents += cents;
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

namespace {
// Polish count noun: 1 wpłata, 2-4 (not 12-14) wpłaty, otherwise wpłat.
QString donationsNoun(int count)
{
	if (count == 1)
		return QStringLiteral("wpłata");
	const int lastDigit = count % 10;
	const int lastTwo = count % 100;
	if (lastDigit >= 2 && lastDigit <= 4 && (lastTwo < 12 || lastTwo > 14))
		return QStringLiteral("wpłaty");
	return QStringLiteral("wpłat");
}
} // namespace

QString SessionTotals::summary(const QTime &since) const
{
	int count = 0;
	QStringList parts;
	for (const Total &total : m_totals) {
		count += total.count;
		const QString amount = decimalText(total.cents);
		parts << (total.currency.isEmpty() ? amount : amount + QLatin1Char(' ') + total.currency);
	}
	parts.prepend(QStringLiteral("%1 %2").arg(count).arg(donationsNoun(count)));
	const QString counted = parts.join(QStringLiteral(" · "));
	if (since.isValid())
		return QCoreApplication::translate("SessionTotals", "Ta sesja (od %1): %2")
			.arg(since.toString(QStringLiteral("HH:mm")), counted);
	return QCoreApplication::translate("SessionTotals", "Ta sesja: %1").arg(counted);
}
