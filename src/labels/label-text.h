#pragma once

#include "api/donation-model.h"
#include "session-totals.h"

#include <QList>
#include <QString>

#include <optional>

// What one label is set to show, as the streamer set it in the source's properties.
struct LabelSettings {
	enum class Show { Last, Largest, Total, Count };

	Show show = Show::Last;
	QString prefix;
	QString suffix;
	// Shown alone, without the prefix and suffix, while there is nothing to show: signed out, or no
	// donation yet.
	QString nothingYet;
	// The donor's message after the amount (the newest and the largest donation only).
	bool withMessage = false;
};

// What the session has brought to the stream so far: donations from the recent list and the totals of
// this sign-in, never a message still waiting for moderation. A plain value, copied to any thread.
struct LabelFacts {
	bool signedIn = false;
	// The newest donation of the recent list.
	std::optional<DonationMessage> newest;
	// The session's totals.
	SessionTotals totals;

	// The largest donation of the currency with the most donations this session (the first to arrive
	// of currencies with as many): amounts of different currencies are never compared.
	std::optional<DonationMessage> largestDonation() const;
};

// The newest of the recent list by its time, as the dock keeps them: of equal times the first in the
// service's order, and one without a readable time only when none has one.
std::optional<DonationMessage> newestDonation(const QList<DonationMessage> &donations);

// Text from the service on a label is one line of at most so many characters: a donor's nickname and
// message, and an amount and its currency.
constexpr int LABEL_MESSAGE_CHARS = 80;
constexpr int LABEL_AMOUNT_CHARS = 24;
// A label's whole text, the streamer's own texts included, is at most this long: OBS's text source lays
// out every character on its graphics thread.
constexpr int LABEL_TEXT_CHARS = 512;

// The label's text. Signed out, a label shows its nothing-yet text; signed in, so does every choice but
// the count ("0") until there is something to show.
QString labelText(const LabelSettings &settings, const LabelFacts &facts);
