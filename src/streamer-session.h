#pragma once

#include "action-gate.h"
#include "api/api-client.h"
#include "api/donation-model.h"
#include "api/service-poller.h"
#include "record-arrivals.h"
#include "service-addresses.h"
#include "session-action.h"
#include "session-totals.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>
#include <QTime>

#include <functional>
#include <optional>

class AuthManager;

// The streamer's session with the Tiplark service, for the whole OBS run: the sign-in, the client and
// the poller, the state as the service last answered it, the actions under way, the arrivals and the
// session totals. The dock, the hotkeys, the obs-websocket vendor and the labels are its views: they read
// it, follow its signals and hand it actions. Lives on the GUI thread; every member but submit() is
// called there.
class StreamerSession : public QObject {
	Q_OBJECT

public:
	// Records of each list kept for the views: of the donations the newest, of the pending queue the
	// oldest, those that have waited longest (a row is a few widgets, and a list of thousands would hold
	// the GUI thread for seconds).
	static constexpr int MAX_SHOWN = 30;

	// Sends nothing until start().
	explicit StreamerSession(const ServiceAddresses &addresses, QObject *parent = nullptr);
	~StreamerSession() override;

	// The first requests: a sign-in kept from an earlier run begins polling, and the update check.
	void start();
	// OBS is quitting: no more polling.
	void stop();

	using Outcome = SessionAction::Outcome;
	// Why the action cannot be taken, given what is signed in and pending; Done when it can. For a copy of
	// the state on another thread, too: the action is checked again when it runs.
	static Outcome refusalOf(const SessionAction &action, bool signedIn, const QList<DonationMessage> &pending);
	// Takes the action: Done when it started, or, the streamer's own press, was set to follow the action
	// of its kind under way; else why not.
	Outcome perform(SessionAction action);
	// Any thread, for a hotkey's or a controller's action: runs it on the session's thread, where
	// stillAllowed (when given) is asked first. Busy at once while an earlier one of its origin and kind
	// is queued or running; else Done, and a refusal found when it runs ends as actionRefused.
	Outcome submit(const SessionAction &action, std::function<Outcome()> stillAllowed = {});
	void signIn();
	void cancelSignIn();
	void signOut();

	bool signedIn() const { return m_signedIn; }
	// The browser is open for a sign-in.
	bool signingIn() const { return m_signingIn; }
	// The sign-in ended by itself (a token the service no longer takes), not by the streamer.
	bool sessionLost() const { return m_sessionLost; }
	// Empty until the service has named the streamer.
	QString userName() const { return m_userName; }
	// Unknown until the service has said.
	std::optional<bool> moderationEnabled() const { return m_moderation; }
	// How the service answers the reads: its state, when a read was last answered as it should be
	// (invalid before the first), and the HTTP status of the latest refusal while refused.
	struct Health {
		ServicePoller::Health state = ServicePoller::Health::Answering;
		QDateTime lastGoodAnswer;
		int refusedStatus = 0;
	};
	Health health() const;
	// False while a read fails, hangs or is refused.
	bool serviceAnswering() const;
	// The reads are asked for every few seconds.
	bool polling() const;
	// False where the system has no libcurl: nothing can reach the service, so nothing is tried.
	static bool networkAvailable();
	// The records shown, at most MAX_SHOWN (the oldest pending, the newest donations, by their time), in
	// the service's order; and how many the service holds.
	QList<DonationMessage> pending() const { return m_pending; }
	QList<DonationMessage> donations() const { return m_donations; }
	int pendingTotal() const { return m_pendingTotal; }
	int donationsTotal() const { return m_donationsTotal; }
	// The donations that arrived since this sign-in began (or, signed in from an earlier run, since OBS
	// started), and when that was; invalid signed out.
	const SessionTotals &totals() const { return m_totals; }
	QTime totalsSince() const { return m_totalsSince; }
	// The streamer's own press of this kind is under way or waits for another's to end (a decision: any
	// on this message): the dock's buttons wait for it.
	bool ownPressUnderWay(SessionAction::Kind kind, const QString &messageId = QString()) const;
	// The download address of the last update offer, when it is safe to open; empty until one came.
	QString updateUrl() const { return m_updateUrl; }
	const ServiceAddresses &addresses() const { return m_addresses; }

	// For tests and benchmarks: one poll now.
	void pollNow();

signals:
	// Signed in or out, the browser opened or closed, the name or the moderation state changed.
	void stateChanged();
	// How the service answers changed.
	void healthChanged();
	void pendingChanged();
	void donationsChanged();
	// Records that arrived, one signal each, oldest first; then, once per answer that brought any,
	// newPendingMessages.
	void pendingMessageAdded(const DonationMessage &message);
	void donationAdded(const DonationMessage &donation);
	void newPendingMessages();
	void totalsChanged();
	// The moderation state the service reported changed to a known value.
	void moderationChanged(bool enabled);
	// An action started (or was set to follow another), and as it ended: with the service's answer, or,
	// cut short by a sign-out, with ok false. Each ends exactly once.
	void actionStarted(const SessionAction &action);
	void actionFinished(const SessionAction &action);
	// A submitted action that was refused when it came to run; it never started.
	void actionRefused(const SessionAction &action);
	void signInFailed();
	// An update whose download address is safe to open.
	void updateOffered(const QString &version, const QString &downloadUrl);
	// tokens.json could not be written, or deleted at sign-out.
	void tokensNotSaved();
	void tokensNotDeleted();

private:
	void beginSession();
	// Everything of the sign-in goes: actions under way end as cut short, the lists, the arrivals and
	// the totals are forgotten, and no answer sent before reaches anyone.
	void endSession();
	void onAuthenticationComplete(bool success);
	void onUserInfoReceived(const QString &name);
	void onModerationStatusReceived(bool enabled);
	void onPendingReceived(const ApiEnvelope::ListAnswer &answer);
	void onDonationsReceived(const ApiEnvelope::ListAnswer &answer);
	void onActionFinished(ApiClient::Action kind, const QString &subject, bool ok);
	void onUpdateAvailable(const QString &version, const QString &downloadUrl);
	// Forgets which records were seen, here and in the next answers' readers.
	void resetArrivals();
	// The pending list is read while moderation is on, and while it still holds rows (they must not go
	// stale with live buttons once moderation is switched off).
	void updatePendingWanted();
	// The request of an action that starts.
	void send(const SessionAction &action);
	// A message the service has decided leaves the pending list at once.
	void dropDecided(const QString &messageId);

	const ServiceAddresses m_addresses;
	AuthManager *m_authManager;
	ApiClient *m_apiClient;
	ServicePoller *m_poller;
	bool m_signedIn = false;
	bool m_signingIn = false;
	bool m_sessionLost = false;
	QString m_userName;
	std::optional<bool> m_moderation;
	QList<DonationMessage> m_pending;
	QList<DonationMessage> m_donations;
	int m_pendingTotal = 0;
	int m_donationsTotal = 0;
	RecordArrivals m_pendingArrivals;
	RecordArrivals m_donationArrivals;
	SessionTotals m_totals;
	QTime m_totalsSince;
	// Who may start an action, and the actions under way.
	ActionGate m_gate;
	QString m_updateUrl;
};
