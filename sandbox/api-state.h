#pragma once

#include <QJsonObject>
#include <QString>

namespace Sandbox {
struct State;

// The REST side's state lives in the sandbox state under these keys, so that tests (in process, or
// through POST /_sandbox/state) can set any of it:
//   api.envelope           bool    wrap payloads in {"data": ...} (true) or answer them bare
//   api.userName           string  the signed-in user's "name"
//   api.moderationEnabled  bool    whether new donations wait in the pending queue
//   api.pending            list    donation objects waiting for moderation, oldest first
//   api.donations          list    donation objects, newest first
//   api.skips              int     how many times the notification on air was skipped
//   api.update             object  the answer of /extensions/details/obs
namespace ApiState {
extern const QString ENVELOPE;
extern const QString USER_NAME;
extern const QString MODERATION_ENABLED;
extern const QString PENDING;
extern const QString DONATIONS;
extern const QString SKIPS;
extern const QString UPDATE;

// A new donation arrives: into the pending queue while moderation is on, else at the head of the
// donation list. An empty object stands for a made-up one, in one of the shapes the service sends.
// Takes the state's lock; returns the donation as stored.
QJsonObject receiveDonation(State &state, const QJsonObject &donation = QJsonObject());
} // namespace ApiState
} // namespace Sandbox
