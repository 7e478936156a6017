// Feeds arbitrary answer bodies through the readers of the service's donation answers: the list reader the
// client's workers call ({"data": [...]} or a bare array, each element a donation record), as a queue and
// as recent donations, with ids known from the answer itself and without; the object envelope
// ({"data": {...}} or a bare object) read as a record too, and the moderation path built from a received id.
// The update check's answer has a target of its own (fuzz-update-info).
#include "api/api-envelope.h"
#include "api/api-requests.h"

#include "fuzz-support.h"

#include <QJsonObject>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
	base_set_log_handler(formatAndDrop, nullptr);
	return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	const QByteArray body(reinterpret_cast<const char *>(data), static_cast<int>(size));
	size_t sink = 0;

	auto sum = [&sink](const QList<DonationMessage> &records) {
		for (const DonationMessage &record : records) {
			sink += record.id.size() + record.nickname.size() + record.message.size() +
				record.amount.size() + record.currency.size() + record.paymentMethod.size() +
				record.goalName.size();
			sink += record.createdAt.isValid() ? record.createdAt.toString(Qt::ISODate).size() : 0;
			sink += ApiRequests::moderationPath(record.id).size();
		}
	};
	// Small caps, so that the cuts are reached; the second answer knows what the first brought.
	const ApiEnvelope::ListAnswer queue = ApiEnvelope::readList(body, 3, ApiEnvelope::Keep::Oldest, 5, {});
	QSet<QString> known;
	for (const DonationMessage &record : queue.arrived)
		known.insert(ApiEnvelope::knownKey(record.id));
	const ApiEnvelope::ListAnswer recent = ApiEnvelope::readList(body, 3, ApiEnvelope::Keep::Newest, 8, known);
	for (const ApiEnvelope::ListAnswer &answer : {queue, recent}) {
		sum(answer.shown);
		sum(answer.arrived);
		sink += size_t(answer.total) + (answer.readable ? 1 : 0);
	}

	const QJsonObject payload = ApiEnvelope::objectPayload(body);
	sink += payload.value(QLatin1String("name")).toString().size();
	sink += payload.value(QLatin1String("enabled")).toBool(false) ? 1 : 0;
	sink += DonationMessage::fromJson(payload).amount.size();

	g_sink = g_sink + sink;
	return 0;
}
