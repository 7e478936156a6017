#include "streamer-session.h"

#include "auth/auth-manager.h"
#include "http/transport.h"
#include "api/update-info.h"
#include "log-text.h"
#include "plugin-support.h"

#include <algorithm>

namespace {
// The message that has waited longest: the earliest time, the first in the service's order among equals
// and before any without a time.
const DonationMessage &longestWaiting(const QList<DonationMessage> &pending)
{
	return *std::min_element(pending.cbegin(), pending.cend(),
				 [](const DonationMessage &a, const DonationMessage &b) {
					 if (a.createdAt.isValid() != b.createdAt.isValid())
						 return a.createdAt.isValid();
					 return a.createdAt.isValid() && a.createdAt < b.createdAt;
				 });
}

// The message's place in the list, or -1.
int indexOfMessage(const QList<DonationMessage> &list, const QString &messageId)
{
	const auto found = std::find_if(list.cbegin(), list.cend(),
					[&](const DonationMessage &message) { return message.id == messageId; });
	return found == list.cend() ? -1 : int(found - list.cbegin());
}
} // namespace

StreamerSession::StreamerSession(const ServiceAddresses &addresses, QObject *parent)
	: QObject(parent),
	  m_addresses(addresses),
	  m_authManager(new AuthManager(addresses, this)),
	  m_apiClient(new ApiClient(m_authManager, addresses, this)),
	  m_poller(new ServicePoller(m_apiClient, this))
{
	m_apiClient->setListLimits(MAX_SHOWN, RecordArrivals::REMEMBERED);

	connect(m_authManager, &AuthManager::authenticationComplete, this, &StreamerSession::onAuthenticationComplete);
	connect(m_authManager, &AuthManager::tokensNotSaved, this, &StreamerSession::tokensNotSaved);
	connect(m_authManager, &AuthManager::tokensNotDeleted, this, &StreamerSession::tokensNotDeleted);
	// A user read refused for a stale token is asked again with the new one, not a tick later.
	connect(m_authManager, &AuthManager::accessTokenRefreshed, this, [this] {
		if (m_poller->isActive() && m_poller->isWanted(ApiClient::Read::UserInfo))
			m_poller->ask(ApiClient::Read::UserInfo);
	});
	connect(m_apiClient, &ApiClient::userInfoReceived, this, &StreamerSession::onUserInfoReceived);
	// A read that the service answered, with or without a name, is not asked again; a failed one is.
	connect(m_apiClient, &ApiClient::serviceAnswered, this, [this](ApiClient::Read read) {
		if (read == ApiClient::Read::UserInfo)
			m_poller->setWanted(ApiClient::Read::UserInfo, false);
	});
	connect(m_apiClient, &ApiClient::moderationStatusReceived, this, &StreamerSession::onModerationStatusReceived);
	connect(m_apiClient, &ApiClient::pendingMessagesReceived, this, &StreamerSession::onPendingReceived);
	connect(m_apiClient, &ApiClient::donationsReceived, this, &StreamerSession::onDonationsReceived);
	connect(m_apiClient, &ApiClient::actionFinished, this, &StreamerSession::onActionFinished);
	connect(m_apiClient, &ApiClient::apiError, this, [](const QString &error) {
		obs_log(LOG_WARNING, "Tiplark API error: %s", logText(error).constData());
	});
	connect(m_apiClient, &ApiClient::updateAvailable, this, &StreamerSession::onUpdateAvailable);
	connect(m_poller, &ServicePoller::healthChanged, this, &StreamerSession::healthChanged);
	connect(m_poller, &ServicePoller::ticking, this, [this] {
		// A refused token refresh has signed the streamer out.
		if (m_signedIn && !m_authManager->isAuthenticated()) {
			m_sessionLost = true;
			endSession();
		}
	});
}

StreamerSession::~StreamerSession() = default;

bool StreamerSession::networkAvailable()
{
	const Transport *transport = Transport::current();
	return transport && transport->libcurl();
}

void StreamerSession::start()
{
	if (!networkAvailable())
		return;
	if (m_authManager->isAuthenticated())
		beginSession();
	m_apiClient->checkForUpdates();
}

void StreamerSession::stop()
{
	m_poller->stop();
}

void StreamerSession::pollNow()
{
	m_poller->tick();
}

StreamerSession::Outcome StreamerSession::refusalOf(const SessionAction &action, bool signedIn,
						    const QList<DonationMessage> &pending)
{
	if (!signedIn)
		return Outcome::NotSignedIn;
	if (action.kind != SessionAction::Kind::Decision)
		return Outcome::Done;
	if (action.firstPending)
		return pending.isEmpty() ? Outcome::NothingPending : Outcome::Done;
	return indexOfMessage(pending, action.messageId) >= 0 ? Outcome::Done : Outcome::UnknownMessage;
}

StreamerSession::Health StreamerSession::health() const
{
	return {m_poller->health(), m_poller->lastGoodAnswer(), m_poller->refusedStatus()};
}

bool StreamerSession::serviceAnswering() const
{
	return !m_signedIn || m_poller->health() == ServicePoller::Health::Answering;
}

bool StreamerSession::polling() const
{
	return m_poller->isActive();
}

bool StreamerSession::ownPressUnderWay(SessionAction::Kind kind, const QString &messageId) const
{
	return m_gate.ownPressUnderWay(kind, messageId);
}

StreamerSession::Outcome StreamerSession::perform(SessionAction action)
{
	const Outcome refusal = refusalOf(action, m_signedIn, m_pending);
	if (refusal != Outcome::Done)
		return refusal;
	if (action.firstPending) {
		action.messageId = longestWaiting(m_pending).id;
		action.firstPending = false;
	}
	switch (m_gate.enter(action)) {
	case ActionGate::Entry::Refused:
		return Outcome::Busy;
	case ActionGate::Entry::Starts:
		emit actionStarted(action);
		send(action);
		break;
	case ActionGate::Entry::Waits:
		emit actionStarted(action);
		break;
	}
	return Outcome::Done;
}

StreamerSession::Outcome StreamerSession::submit(const SessionAction &action, std::function<Outcome()> stillAllowed)
{
	if (!m_gate.takePlace(action))
		return Outcome::Busy;
	// The session outlives the views that submit, and a queued call goes with the session.
	QMetaObject::invokeMethod(
		this,
		[this, action, stillAllowed] {
			const Outcome refusal = stillAllowed ? stillAllowed() : Outcome::Done;
			const Outcome outcome = refusal != Outcome::Done ? refusal : perform(action);
			if (outcome == Outcome::Done)
				return;
			m_gate.givePlace(action);
			SessionAction refused = action;
			refused.end(outcome);
			emit actionRefused(refused);
		},
		Qt::QueuedConnection);
	return Outcome::Done;
}

void StreamerSession::send(const SessionAction &action)
{
	switch (action.kind) {
	case SessionAction::Kind::Skip:
		m_apiClient->skipCurrentDonation();
		break;
	case SessionAction::Kind::ModerationSwitch:
		m_apiClient->setModerationStatus(action.enabled);
		break;
	case SessionAction::Kind::Decision:
		m_apiClient->moderateMessage(action.messageId, action.accept);
		break;
	}
}

void StreamerSession::signIn()
{
	if (m_signedIn || m_signingIn || !networkAvailable())
		return;
	m_signingIn = true;
	m_sessionLost = false;
	emit stateChanged();
	emit healthChanged();
	m_authManager->startLogin();
}

void StreamerSession::cancelSignIn()
{
	if (!m_signingIn)
		return;
	m_authManager->cancelLogin();
	m_signingIn = false;
	emit stateChanged();
}

void StreamerSession::signOut()
{
	m_authManager->logout();
	endSession();
}

void StreamerSession::onAuthenticationComplete(bool success)
{
	m_signingIn = false;
	if (success) {
		obs_log(LOG_INFO, "Tiplark: Authentication successful, fetching user info...");
		beginSession();
	} else {
		obs_log(LOG_WARNING, "Tiplark: Authentication failed");
		emit stateChanged();
		emit signInFailed();
	}
}

void StreamerSession::beginSession()
{
	m_sessionLost = false;
	m_signedIn = true;
	m_totalsSince = QTime::currentTime();
	resetArrivals();
	m_poller->setWanted(ApiClient::Read::UserInfo, true);
	m_poller->start();
	emit stateChanged();
}

void StreamerSession::endSession()
{
	// Answers still on their way belong to the session that ends here: none of them reaches anyone.
	m_poller->stop();
	for (SessionAction &action : m_gate.clear()) {
		m_gate.givePlace(action);
		action.end(Outcome::SignedOut);
		emit actionFinished(action);
	}

	m_signingIn = false;
	m_signedIn = false;
	m_userName.clear();
	m_moderation.reset();
	m_pending.clear();
	m_donations.clear();
	m_pendingTotal = m_donationsTotal = 0;
	resetArrivals();
	m_totals.clear();
	m_totalsSince = QTime();
	updatePendingWanted();
	emit stateChanged();
	emit pendingChanged();
	emit donationsChanged();
	emit totalsChanged();
	emit healthChanged();
}

void StreamerSession::onUserInfoReceived(const QString &name)
{
	obs_log(LOG_INFO, "Tiplark: User info received: %s", logText(name).constData());
	m_userName = name;
	emit stateChanged();
}

void StreamerSession::onModerationStatusReceived(bool enabled)
{
	const bool changed = m_moderation != enabled;
	m_moderation = enabled;
	updatePendingWanted();
	if (changed) {
		emit stateChanged();
		emit moderationChanged(enabled);
	}
}

void StreamerSession::resetArrivals()
{
	m_pendingArrivals.reset();
	m_donationArrivals.reset();
	m_apiClient->setKnownIds(ApiClient::Read::PendingMessages, QSet<QString>());
	m_apiClient->setKnownIds(ApiClient::Read::Donations, QSet<QString>());
}

void StreamerSession::onPendingReceived(const ApiEnvelope::ListAnswer &answer)
{
	m_pending = answer.shown;
	m_pendingTotal = answer.total;
	const QList<DonationMessage> arrived = m_pendingArrivals.take(answer.arrived);
	m_apiClient->setKnownIds(ApiClient::Read::PendingMessages, m_pendingArrivals.known());
	updatePendingWanted();
	emit pendingChanged();
	for (const DonationMessage &message : arrived)
		emit pendingMessageAdded(message);
	if (!arrived.isEmpty())
		emit newPendingMessages();
}

void StreamerSession::onDonationsReceived(const ApiEnvelope::ListAnswer &answer)
{
	m_donations = answer.shown;
	m_donationsTotal = answer.total;
	const QList<DonationMessage> arrived = m_donationArrivals.take(answer.arrived);
	m_apiClient->setKnownIds(ApiClient::Read::Donations, m_donationArrivals.known());
	for (const DonationMessage &donation : arrived)
		m_totals.add(donation);
	emit donationsChanged();
	// The totals first: whoever hears of a donation finds it counted.
	if (!arrived.isEmpty())
		emit totalsChanged();
	for (const DonationMessage &donation : arrived)
		emit donationAdded(donation);
}

void StreamerSession::onActionFinished(ApiClient::Action kind, const QString &subject, bool ok)
{
	SessionAction::Kind ended = SessionAction::Kind::Decision;
	switch (kind) {
	case ApiClient::Action::Decision:
		break;
	case ApiClient::Action::Skip:
		ended = SessionAction::Kind::Skip;
		break;
	case ApiClient::Action::ModerationSwitch:
		ended = SessionAction::Kind::ModerationSwitch;
		break;
	}
	ActionGate::Ended done = m_gate.leave(ended, subject);
	if (!done.action)
		return;
	if (ok && ended == SessionAction::Kind::Decision)
		dropDecided(subject);
	// The streamer's press that waited for this one goes now.
	if (done.next)
		send(*done.next);
	m_gate.givePlace(*done.action);
	done.action->end(ok ? Outcome::Done : Outcome::ServiceFailed);
	emit actionFinished(*done.action);
}

void StreamerSession::onUpdateAvailable(const QString &version, const QString &downloadUrl)
{
	obs_log(LOG_INFO, "Tiplark: Update available: %s", logText(version).constData());
	if (downloadUrl.isEmpty())
		return;
	// http download addresses to a loopback host are offered only against a local stand-in service.
	const bool localService = m_addresses.apiBaseUrl != ServiceAddresses::production().apiBaseUrl;
	const QString problem = downloadAddressProblem(downloadUrl, localService);
	if (!problem.isEmpty()) {
		obs_log(LOG_WARNING, "Tiplark: Update download address is not a safe web address, not offered: %s (%s)",
			logText(downloadUrl).constData(), problem.toUtf8().constData());
		return;
	}
	m_updateUrl = downloadUrl;
	emit updateOffered(version, downloadUrl);
}

void StreamerSession::dropDecided(const QString &messageId)
{
	// The service's answer to the decision says it is no longer pending; the list that follows may come
	// late, and meanwhile another press must not decide it again.
	const int decided = indexOfMessage(m_pending, messageId);
	if (decided < 0)
		return;
	m_pending.removeAt(decided);
	m_pendingTotal = std::max(0, m_pendingTotal - 1);
	updatePendingWanted();
	emit pendingChanged();
}

void StreamerSession::updatePendingWanted()
{
	const bool wanted = m_signedIn && (m_moderation.value_or(false) || !m_pending.isEmpty());
	m_poller->setWanted(ApiClient::Read::PendingMessages, wanted);
}
