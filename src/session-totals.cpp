#include "session-totals.h"

#include <QCoreApplication>
#include <QLocale>
#include <QRegularExpression>

#include <limits>

bool SessionTotals::add(const DonationMessage &donation)
{
	if (donation.id.isEmpty() || m_counted.contains(donation.id))
		return false;
	m_counted.insert(donation.id);
	auto it = std::find_if(m_totals.begin(), m_totals.end(),
			       [&](const Total &total) { return total.currency == donation.currency; });
	if (it == m_totals.end())
		it = m_totals.insert(m_totals.end(), Total{donation.currency, 0, 0});
	++it->count;
	// An unreadable amount still counts as a donation; it adds nothing rather than a guess.
	const qint64 cents = parseCents(donation.amount);
	if (cents > 0 && it->cents <= std::numeric_limits<qint64>::max() - cents)
		it->cents += cents;
	return true;
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

QString SessionTotals::summary() const
{
	const QLocale polish(QLocale::Polish, QLocale::Poland);
	int count = 0;
	QStringList parts;
	for (const Total &total : m_totals) {
		count += total.count;
		const QString amount = QStringLiteral("%1,%2")
					       .arg(polish.toString(total.cents / 100))
					       .arg(total.cents % 100, 2, 10, QLatin1Char('0'));
		parts << (total.currency.isEmpty() ? amount : amount + QLatin1Char(' ') + total.currency);
	}
	parts.prepend(QStringLiteral("%1 %2").arg(count).arg(donationsNoun(count)));
	return QCoreApplication::translate("SessionTotals", "Ta sesja: %1").arg(parts.join(QStringLiteral(" · ")));
}
