#pragma once

#include "api/donation-model.h"
#include "session-totals.h"

#include <QList>
#include <QMutex>
#include <QObject>
#include <QSet>
#include <QString>

#include <optional>

// What remote controls may see: the dock's shown state, never a token.
struct RemoteState {
	bool signedIn = false;
	QString userName;
	std::optional<bool> moderationEnabled;
	bool serviceAnswering = true;
	// The pending list as shown, top row first.
	QList<DonationMessage> pending;
	QList<SessionTotals::Total> sessionTotals;
};

// The one place where hotkeys and remote requests meet the dock. It lives on the GUI thread: the dock
// reports what it shows here, and remote controls ask for actions here, which it hands to the dock as
// signals. state() is the only member other threads may call; they reach the rest with a queued call.
class RemoteControl : public QObject {
	Q_OBJECT

public:
	explicit RemoteControl(QObject *parent = nullptr);

	// Any thread: a copy of the shown state.
	RemoteState state() const;
	// Why an action cannot start in state, or an empty text when it can. Checked again on the GUI
	// thread, as the state may change between a remote control's check and its queued action.
	static QString refusal(const RemoteState &state);
	static QString moderationRefusal(const RemoteState &state, const QString &messageId);

	// What the dock shows. The first lists after a sign-in are what was waiting: their records count
	// as known, not as arrivals.
	void setSignedIn(bool signedIn, const QString &userName);
	void setModerationEnabled(std::optional<bool> enabled);
	void setServiceAnswering(bool answering);
	void showPending(const QList<DonationMessage> &shown);
	void showDonations(const QList<DonationMessage> &donations);
	// The outcome of a service call that a remote action started.
	void finishAction(const QString &action, bool ok, const QString &error);

	// Remote actions; each returns the refusal, empty when the action was handed to the dock.
	QString skipAlert();
	QString moderate(const QString &messageId, bool accept);
	QString moderateFirst(bool accept);
	QString setModeration(bool enabled);

	QString totalsSummary() const { return m_totals.summary(); }

signals:
	void skipRequested();
	void moderateRequested(const QString &messageId, bool accept);
	void moderationRequested(bool enabled);

	void pendingMessageAdded(const DonationMessage &message);
	void donationAdded(const DonationMessage &donation);
	// Once per shown list that brought at least one new pending message.
	void newPendingMessages();
	void moderationChanged(bool enabled);
	void totalsChanged(const QString &summary);
	void actionFinished(const QString &action, bool ok, const QString &error);

private:
	// Records of records not in known; all of them join known. None are new while baseline is set.
	static QList<DonationMessage> arrivals(QSet<QString> &known, const QList<DonationMessage> &records,
					       bool baseline);
	void publish();

	mutable QMutex m_mutex;
	RemoteState m_shared; // guarded by m_mutex
	RemoteState m_state;  // the GUI thread's own copy
	SessionTotals m_totals;
	QSet<QString> m_knownPending;
	QSet<QString> m_knownDonations;
	bool m_pendingBaseline = true;
	bool m_donationsBaseline = true;
};
