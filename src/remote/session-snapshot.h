#pragma once

#include "api/donation-model.h"
#include "session-totals.h"

#include <QList>
#include <QMutex>
#include <QObject>
#include <QString>

#include <optional>

class StreamerSession;

// What remote controls may see of the session: never a token.
struct RemoteState {
	bool signedIn = false;
	QString userName;
	std::optional<bool> moderationEnabled;
	bool serviceAnswering = true;
	// The pending list as shown, top row first.
	QList<DonationMessage> pending;
	QList<SessionTotals::Total> sessionTotals;
};

// A copy of the session's state for obs-websocket's threads, which must not touch the session itself:
// it follows the session on the GUI thread, and state() may be called from any thread.
class SessionSnapshot : public QObject {
	Q_OBJECT

public:
	// session must outlive this object.
	explicit SessionSnapshot(StreamerSession *session, QObject *parent = nullptr);

	// Any thread.
	RemoteState state() const;

private:
	void publish();

	StreamerSession *m_session;
	mutable QMutex m_mutex;
	RemoteState m_state; // guarded by m_mutex
};
