#include "donation-model.h"

#include "whole-characters.h"

#include <QJsonObject>
#include <QJsonValue>

namespace {
// Long enough for any code or sign a service writes ("PLN", "zł", "US$"), short enough for a row.
const int MAX_CURRENCY_CHARS = 8;

// The currency as the service wrote it, fit to stand beside every amount and in the session's sums:
// without control or format characters, trimmed and cut short. The dock shows it as plain text.
QString currencyText(const QString &sent)
{
	QString text;
	for (const QChar c : sent)
		if (c.category() != QChar::Other_Control && c.category() != QChar::Other_Format)
			text.append(c);
	return wholeCharactersOf(text.trimmed(), MAX_CURRENCY_CHARS).trimmed();
}
} // namespace

DonationMessage DonationMessage::fromJson(const QJsonObject &obj)
{
	DonationMessage result;
	result.id = obj.value(QLatin1String("id")).toString();
	result.nickname = obj.value(QLatin1String("nickname")).toString();
	// A null or missing message reads as empty, like any other non-string.
	result.message = obj.value(QLatin1String("message_content")).toString();

	const QJsonValue amount = obj.value(QLatin1String("amount"));
	result.amount = amount.isDouble() ? QString::number(amount.toDouble(), 'f', 2) : amount.toString();
	result.currency = currencyText(obj.value(QLatin1String("currency")).toString());
	result.paymentMethod = obj.value(QLatin1String("payment_method")).toString();

	// The goal comes either as an object with a name or as the bare name.
	const QJsonValue goal = obj.value(QLatin1String("goal"));
	result.goalName = goal.isObject() ? goal.toObject().value(QLatin1String("name")).toString() : goal.toString();

	result.createdAt = timeOf(obj);
	return result;
}

QDateTime DonationMessage::timeOf(const QJsonObject &obj)
{
	return QDateTime::fromString(obj.value(QLatin1String("created_at")).toString(), Qt::ISODate);
}
