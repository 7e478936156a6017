#include "label-text.h"

#include "whole-characters.h"

#include <QStringList>

#include <algorithm>

void LabelFacts::addArrival(const DonationMessage &donation)
{
	auto it = std::find_if(arrivals.begin(), arrivals.end(),
			       [&](const Arrivals &each) { return each.currency == donation.currency; });
	if (it == arrivals.end()) {
		arrivals.append(Arrivals{donation.currency, 1, donation});
		return;
	}
	++it->count;
	if (SessionTotals::parseCents(donation.amount) > SessionTotals::parseCents(it->largest.amount))
		it->largest = donation;
}

std::optional<DonationMessage> LabelFacts::largestDonation() const
{
	const Arrivals *most = nullptr;
	for (const Arrivals &each : arrivals)
		if (!most || each.count > most->count)
			most = &each;
	if (!most)
		return std::nullopt;
	return most->largest;
}

namespace {
// On stream a message is one line of plain text, cut short.
QString messageLine(const QString &message)
{
	QString line;
	line.reserve(message.size());
	for (const QChar c : message)
		line += (c.category() == QChar::Other_Control || c.category() == QChar::Separator_Line ||
			 c.category() == QChar::Separator_Paragraph)
				? QLatin1Char(' ')
				: c;
	line = line.simplified();
	if (line.size() <= LABEL_MESSAGE_CHARS)
		return line;
	return wholeCharactersOf(line, LABEL_MESSAGE_CHARS - 1).trimmed() + QChar(0x2026);
}

QString donationText(const DonationMessage &donation, bool withMessage)
{
	QStringList words;
	if (!donation.nickname.trimmed().isEmpty())
		words << messageLine(donation.nickname);
	words << SessionTotals::amountText(donation.amount, donation.currency);
	QString text = words.join(QLatin1Char(' '));
	const QString message = withMessage ? messageLine(donation.message) : QString();
	if (!message.isEmpty())
		text += QStringLiteral(": ") + message;
	return text;
}
} // namespace

QString labelText(const LabelSettings &settings, const LabelFacts &facts)
{
	if (!facts.signedIn)
		return settings.nothingYet;
	QString body;
	switch (settings.show) {
	case LabelSettings::Show::Last:
		if (facts.newest)
			body = donationText(*facts.newest, settings.withMessage);
		break;
	case LabelSettings::Show::Largest:
		if (const std::optional<DonationMessage> largest = facts.largestDonation())
			body = donationText(*largest, settings.withMessage);
		break;
	case LabelSettings::Show::Total:
		body = SessionTotals::sumsText(facts.totals);
		break;
	case LabelSettings::Show::Count:
		body = QString::number(SessionTotals::donationCount(facts.totals));
		break;
	}
	if (body.isEmpty())
		return settings.nothingYet;
	return settings.prefix + body + settings.suffix;
}
