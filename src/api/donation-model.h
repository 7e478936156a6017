#pragma once

#include <QDateTime>
#include <QList>
#include <QMetaType>
#include <QString>

class QJsonObject;

// One donation, or one message waiting for moderation, as the dock shows it. Made only from the
// service's JSON; anything missing or of an unexpected type stays at its default.
struct DonationMessage {
	QString id;
	QString nickname;
	QString message;
	// Display text: a numeric amount is formatted once, with two decimals.
	QString amount;
	// As the service wrote it ("PLN", "zł"), at most 8 characters, trimmed, without control characters.
	QString currency;
	QString paymentMethod;
	QString goalName;
	QDateTime createdAt;

	static DonationMessage fromJson(const QJsonObject &obj);
	// The created_at of obj as fromJson reads it.
	static QDateTime timeOf(const QJsonObject &obj);
};

Q_DECLARE_METATYPE(DonationMessage)
