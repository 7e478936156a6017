#include "label-text.h"

#include "whole-characters.h"

#include <QStringList>
#include <QStringView>

#include <algorithm>

std::optional<DonationMessage> LabelFacts::largestDonation() const
{
	const QList<SessionTotals::Total> all = totals.totals();
	const SessionTotals::Total *most = nullptr;
	for (const SessionTotals::Total &each : all)
		if (!most || each.count > most->count)
			most = &each;
	if (!most)
		return std::nullopt;
	return most->largest;
}

std::optional<DonationMessage> newestDonation(const QList<DonationMessage> &donations)
{
	const auto newest = std::min_element(donations.cbegin(), donations.cend(),
					     [](const DonationMessage &a, const DonationMessage &b) {
						     if (a.createdAt.isValid() != b.createdAt.isValid())
							     return a.createdAt.isValid();
						     return a.createdAt.isValid() && a.createdAt > b.createdAt;
					     });
	if (newest == donations.cend())
		return std::nullopt;
	return *newest;
}

namespace {
// At most maxChars characters, cut between whole characters, the cut marked.
QString cutShort(const QString &text, int maxChars)
{
	if (text.size() <= maxChars)
		return text;
	return wholeCharactersOf(text.left(maxChars), maxChars - 1).trimmed() + QChar(0x2026);
}

// On stream a text from the service is one line of plain text, without direction overrides or zero-width
// characters, cut short. Only its start can be shown: a text of a million characters is not walked whole.
QString serviceLine(const QString &text, int maxChars)
{
	QStringView head = QStringView(text).left(4 * maxChars);
	if (head.size() < text.size() && head.back().isHighSurrogate())
		head.chop(1);
	QString line;
	line.reserve(head.size());
	for (const QChar c : head) {
		const QChar::Category category = c.category();
		if (category == QChar::Other_Format)
			continue;
		line += (category == QChar::Other_Control || category == QChar::Separator_Line ||
			 category == QChar::Separator_Paragraph)
				? QLatin1Char(' ')
				: c;
	}
	line = line.simplified();
	if (head.size() < text.size() && line.size() < maxChars)
		return line + QChar(0x2026);
	return cutShort(line, maxChars);
}

QString donationText(const DonationMessage &donation, bool withMessage)
{
	QStringList words;
	const QString nickname = serviceLine(donation.nickname, LABEL_MESSAGE_CHARS);
	if (!nickname.isEmpty())
		words << nickname;
	words << SessionTotals::amountText(serviceLine(donation.amount, LABEL_AMOUNT_CHARS),
					   serviceLine(donation.currency, LABEL_AMOUNT_CHARS));
	QString text = words.join(QLatin1Char(' '));
	const QString message = withMessage ? serviceLine(donation.message, LABEL_MESSAGE_CHARS) : QString();
	if (!message.isEmpty())
		text += QStringLiteral(": ") + message;
	return text;
}

QString composedText(const LabelSettings &settings, const LabelFacts &facts)
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
		body = facts.totals.sumsText();
		break;
	case LabelSettings::Show::Count:
		body = QString::number(facts.totals.count());
		break;
	}
	if (body.isEmpty())
		return settings.nothingYet;
	return settings.prefix + body + settings.suffix;
}
} // namespace

QString labelText(const LabelSettings &settings, const LabelFacts &facts)
{
	return cutShort(composedText(settings, facts), LABEL_TEXT_CHARS);
}
