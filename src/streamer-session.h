#pragma once

#include "api/api-client.h"
#include "api/donation-model.h"
#include "api/service-poller.h"
#include "record-arrivals.h"
#include "service-addresses.h"
#include "session-totals.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

#include <optional>

class AuthManager;
class NewMessageChime;

// The streamer's session with the Tiplark service, for the whole OBS run: the sign-in, the client and
// the poller, the state as the service last answered it, the actions under way, the arrivals and the
// session totals. The dock, the hotkeys and the obs-websocket vendor are its views: they read it, follow
// its signals and call its actions. Lives on the GUI thread; every member is called there.
class StreamerSession : public QObject {
	Q_OBJECT

public:
	// Records of each list kept for the views: of the donations the newest, of the pending queue the
	// oldest, those that have waited longest (a row is a few widgets, and a list of thousands would hold
	// the GUI thread for seconds).
	static constexpr int MAX_SHOWN = 30;

	// chimeFile: the sound for new pending messages (none when empty). Sends nothing until start().
	explicit StreamerSession(const ServiceAddresses &addresses, const QString &chimeFile = QString(),
				 QObject *parent = nullptr);
	~StreamerSession() override;

	// The first requests: a sign-in kept from an earlier run begins polling, and the update check.
	void start();
	// OBS is quitting: no more polling.
	void stop();

	// Why an action cannot be taken; one vocabulary for the dock, the hotkeys and the vendor.
	enum class Refusal { None, SignedOut, Busy, NothingPending, NoSuchMessage };
	Q_ENUM(Refusal)
	// English, for the log and for remote controls; empty for None.
	static QString refusalText(Refusal refusal);
	// The stable word a controller decides on; empty for None.
	static QString refusalCode(Refusal refusal);
	// Who asked for an action: the streamer in the dock, the streamer's key, a hotkey pressed by
	// anything else (obs-websocket's TriggerHotkeyByName), a controller's vendor request. The streamer's
	// own press, in the dock or on a key, is never turned away because a hotkey's or a controller's action
	// of its kind is under way: it follows that one.
	enum class Origin { Dock, Key, Hotkey, Controller };
	Q_ENUM(Origin)
	static bool streamersOwn(Origin origin) { return origin == Origin::Dock || origin == Origin::Key; }
	// The refusal of a decision on messageId, given what is signed in and pending. For a copy of the
	// state on another thread, too: the action checks it again when it runs.
	static Refusal decisionRefusal(bool signedIn, const QList<DonationMessage> &pending, const QString &messageId);

	// What the streamer can do. Each returns its refusal, None when it was started (or, the streamer's own
	// press, set to follow the action of its kind under way).
	Refusal skipAlert(Origin origin = Origin::Dock);
	Refusal decide(const QString &messageId, bool accept, Origin origin = Origin::Dock);
	// The pending message that has waited longest (the top row, as the service lists its queue).
	Refusal decideFirst(bool accept, Origin origin = Origin::Dock);
	Refusal setModeration(bool enabled, Origin origin = Origin::Dock);
	void signIn();
	void cancelSignIn();
	void signOut();

	// One action, as it starts and as it ends. An action ends exactly once: with the service's answer,
	// or, cut short by a sign-out, with ok false.
	struct Action {
		ApiClient::Action kind = ApiClient::Action::Skip;
		// The decided message (a decision); empty otherwise.
		QString messageId;
		// The state asked for (a moderation switch); false otherwise.
		bool enabled = false;
		bool ok = false;
		// Why it failed, in English, and as a stable word (refusalCode's, "serviceFailed" or "signedOut");
		// empty when ok.
		QString error;
		QString code;
		Origin origin = Origin::Dock;
	};

	bool signedIn() const { return m_signedIn; }
	// The browser is open for a sign-in.
	bool signingIn() const { return m_signingIn; }
	// The sign-in ended by itself (a token the service no longer takes), not by the streamer.
	bool sessionLost() const { return m_sessionLost; }
	// Empty until the service has named the streamer.
	QString userName() const { return m_userName; }
	// Unknown until the service has said.
	std::optional<bool> moderationEnabled() const { return m_moderation; }
	// False while a read fails, hangs or is refused.
	bool serviceAnswering() const;
	// False where the system has no libcurl: nothing can reach the service, so nothing is tried.
	static bool networkAvailable();
	const ServicePoller *poller() const { return m_poller; }
	// The records shown, at most MAX_SHOWN (the oldest pending, the newest donations, by their time), in
	// the service's order; and how many the service holds.
	QList<DonationMessage> pending() const { return m_pending; }
	QList<DonationMessage> donations() const { return m_donations; }
	int pendingTotal() const { return m_pendingTotal; }
	int donationsTotal() const { return m_donationsTotal; }
	// The donations that arrived since this sign-in began.
	const SessionTotals &totals() const { return m_totals; }
	// The streamer's own press of this kind is under way or waits for another's to end (a decision: any
	// on this message): the dock's buttons wait for it.
	bool ownPressUnderWay(ApiClient::Action kind, const QString &messageId = QString()) const;
	// The last update offer, empty until one came.
	QString updateVersion() const { return m_updateVersion; }
	QString updateUrl() const { return m_updateUrl; }
	const ServiceAddresses &addresses() const { return m_addresses; }
	NewMessageChime *chime() const { return m_chime; }
	// Whether controllers (obs-websocket) may read the session and take its actions: the streamer's
	// choice, remembered between runs.
	bool remoteControlAllowed() const { return m_remoteControlAllowed; }
	void setRemoteControlAllowed(bool allowed);

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
	void actionStarted(const StreamerSession::Action &action);
	void actionFinished(const StreamerSession::Action &action);
	void signInFailed();
	void updateOffered(const QString &version, const QString &downloadUrl);
	// tokens.json could not be written, or deleted at sign-out.
	void tokensNotSaved();
	void tokensNotDeleted();
	void remoteControlAllowedChanged(bool allowed);

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
	// A message the service has decided leaves the pending list at once.
	void dropDecided(const QString &messageId);

	const ServiceAddresses m_addresses;
	AuthManager *m_authManager;
	ApiClient *m_apiClient;
	ServicePoller *m_poller;
	NewMessageChime *m_chime = nullptr;
	bool m_remoteControlAllowed;
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
	// An action of which one at a time is under way (the skip, the switch); the streamer's own press
	// waits here while a hotkey's or a controller's one runs.
	struct Slot {
		std::optional<Action> running;
		std::optional<Action> waiting;
	};
	Refusal take(Slot &slot, const Action &action);
	void send(const Action &action);
	// Actions under way: the messages being decided and by whom, the skip, the switch.
	QHash<QString, Origin> m_deciding;
	Slot m_skip;
	Slot m_switch;
	QString m_updateVersion;
	QString m_updateUrl;
};

Q_DECLARE_METATYPE(StreamerSession::Action)
