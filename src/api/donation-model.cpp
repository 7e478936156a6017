#include "donation-model.h"

#include <QJsonObject>
#include <QJsonValue>

#include <algorithm>

DonationMessage DonationMessage::fromJson(const QJsonObject &obj)
{
	DonationMessage result;
	result.id = obj.value(QLatin1String("id")).toString();
	result.nickname = obj.value(QLatin1String("nickname")).toString();
	// A null or missing message reads as empty, like any other non-string.
	result.message = obj.value(QLatin1String("message_content")).toString();

	const QJsonValue amount = obj.value(QLatin1String("amount"));
	result.amount = amount.isDouble() ? QString::number(amount.toDouble(), 'f', 2) : amount.toString();
	// An ISO 4217 code or nothing: the text goes beside every amount and into the session's sums.
	const QString currency = obj.value(QLatin1String("currency")).toString();
	if (currency.size() == 3 && std::all_of(currency.cbegin(), currency.cend(),
						[](QChar c) { return c >= QLatin1Char('A') && c <= QLatin1Char('Z'); }))
		result.currency = currency;
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
