#pragma once

#include "donation-model.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QMetaType>
#include <QSet>
#include <QString>

// The service wraps its payloads in a top-level "data" member, but bare answers are accepted too.
// An empty, malformed or differently shaped body gives an empty payload: never an error.
namespace ApiEnvelope {
// False for a body that is there but not JSON; an empty body reads as an empty payload.
bool isReadable(const QByteArray &body);
// readable, when given, gets what isReadable would say (the body is parsed once).
QJsonObject objectPayload(const QByteArray &body, bool *readable = nullptr);
QJsonArray listPayload(const QByteArray &body);

// Every id is kept for a while to tell new records from known ones: one longer than this (no service id
// is that long) is kept as a digest of it, so that the memory of ids stays small whatever the service sends.
constexpr int MAX_ID_CHARS = 128;
// What the memory of known ids holds for id.
QString knownKey(const QString &id);

// Which records a list keeps under its cap: the recent donations the newest, a queue that waits for the
// streamer the oldest (first come, first served).
enum class Keep { Newest, Oldest };

// A list answer as the session uses it, read on a worker from the body: nothing in it depends on the
// order in which the service lists its records.
struct ListAnswer {
	// At most the shown cap of records, the newest or the oldest by created_at (those without a readable
	// time count as the newest), in the service's order.
	QList<DonationMessage> shown;
	// Of the recent cap's newest records, those with an id that was not known, oldest first: the ones
	// that can be new.
	QList<DonationMessage> arrived;
	// Records in the answer.
	int total = 0;
	// What isReadable would say (the body is parsed once).
	bool readable = true;
};
// known: the knownKey of each id the session has already seen; read only, and shared with the GUI thread's copy. Only
// the records shown and those arrived are made: a list of thousands costs its ids, not its records.
ListAnswer readList(const QByteArray &body, int shownCap, Keep keep, int recentCap, const QSet<QString> &known);
} // namespace ApiEnvelope

Q_DECLARE_METATYPE(ApiEnvelope::ListAnswer)
