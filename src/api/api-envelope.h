#pragma once

#include "donation-model.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QMetaType>

// The service wraps its payloads in a top-level "data" member, but bare answers are accepted too.
// An empty, malformed or differently shaped body gives an empty payload: never an error.
namespace ApiEnvelope {
// False for a body that is there but not JSON; an empty body reads as an empty payload.
bool isReadable(const QByteArray &body);
// readable, when given, gets what isReadable would say (the body is parsed once).
QJsonObject objectPayload(const QByteArray &body, bool *readable = nullptr);
QJsonArray listPayload(const QByteArray &body);
// Every element of the list payload, in the service's order; a non-object element gives an empty record.
QList<DonationMessage> donationList(const QByteArray &body);

// A record whose id is longer than this is dropped: no service id is that long, and every id is kept
// for a while to tell new records from known ones.
constexpr int MAX_ID_CHARS = 128;

// A list answer as the session uses it, read on a worker from the body: nothing in it depends on the
// order in which the service lists its records.
struct ListAnswer {
	// At most the shown cap of records, the newest by created_at (those without a readable time after
	// those with one), in the service's order.
	QList<DonationMessage> shown;
	// At most the recent cap of the newest records, oldest first: those that can be new.
	QList<DonationMessage> recent;
	// Usable records in the answer.
	int total = 0;
	// Records dropped for an id longer than MAX_ID_CHARS.
	int droppedIds = 0;
	// What isReadable would say (the body is parsed once).
	bool readable = true;
};
ListAnswer readList(const QByteArray &body, int shownCap, int recentCap);
} // namespace ApiEnvelope

Q_DECLARE_METATYPE(ApiEnvelope::ListAnswer)
