#pragma once

#include "donation-model.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>

// The service wraps its payloads in a top-level "data" member, but bare answers are accepted too.
// An empty, malformed or differently shaped body gives an empty payload: never an error.
namespace ApiEnvelope {
// False for a body that is there but not JSON; an empty body reads as an empty payload.
bool isReadable(const QByteArray &body);
QJsonObject objectPayload(const QByteArray &body);
QJsonArray listPayload(const QByteArray &body);
// Every element of the list payload, in the service's order; a non-object element gives an empty record.
// With a limit above 0, only the first limit elements; total, when given, gets the count of all, and
// readable what isReadable would say (the body is parsed once).
QList<DonationMessage> donationList(const QByteArray &body, int limit = 0, int *total = nullptr,
				    bool *readable = nullptr);
} // namespace ApiEnvelope
