#include "streamer-session.h"

#include "auth/auth-manager.h"
#include "http/transport.h"
#include "log-text.h"
#include "new-message-chime.h"
#include "plugin-support.h"
#include "tiplark-settings.h"

#include <algorithm>

namespace {
const QString REMOTE_CONTROL_KEY = QStringLiteral("WebsocketVendorEnabled");
const QString CUT_SHORT = QStringLiteral("signed out before the service answered");
const QString SERVICE_FAILED = QStringLiteral("the service call failed");

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

StreamerSession::StreamerSession(const ServiceAddresses &addresses, const QString &chimeFile, QObject *parent)
	: QObject(parent),
	  m_addresses(addresses),
	  m_authManager(new AuthManager(addresses, this)),
	  m_apiClient(new ApiClient(m_authManager, addresses, this)),
	  m_poller(new ServicePoller(m_apiClient, this)),
	  // On unless the streamer switched it off: obs-websocket itself is off until the streamer turns it on,
	  // and asks its clients for a password.
	  m_remoteControlAllowed(openTiplarkSettings()->value(REMOTE_CONTROL_KEY, true).toBool())
{
	m_apiClient->setListLimits(MAX_SHOWN, RecordArrivals::REMEMBERED);
	if (!chimeFile.isEmpty()) {
		m_chime = new NewMessageChime(chimeFile, this);
		connect(this, &StreamerSession::newPendingMessages, m_chime, &NewMessageChime::ring);
	}

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

void StreamerSession::setRemoteControlAllowed(bool allowed)
{
	if (allowed == m_remoteControlAllowed)
		return;
	m_remoteControlAllowed = allowed;
	openTiplarkSettings()->setValue(REMOTE_CONTROL_KEY, allowed);
	emit remoteControlAllowedChanged(allowed);
}

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

QString StreamerSession::refusalText(Refusal refusal)
{
	switch (refusal) {
	case Refusal::None:
		break;
	case Refusal::SignedOut:
		return QStringLiteral("not signed in");
	case Refusal::Busy:
		return QStringLiteral("busy: the same action is already under way");
	case Refusal::NothingPending:
		return QStringLiteral("nothing pending");
	case Refusal::NoSuchMessage:
		return QStringLiteral("no pending message with this messageId");
	}
	return QString();
}

QString StreamerSession::refusalCode(Refusal refusal)
{
	switch (refusal) {
	case Refusal::None:
		break;
	case Refusal::SignedOut:
		return QStringLiteral("notSignedIn");
	case Refusal::Busy:
		return QStringLiteral("busy");
	case Refusal::NothingPending:
		return QStringLiteral("nothingPending");
	case Refusal::NoSuchMessage:
		return QStringLiteral("unknownMessage");
	}
	return QString();
}

StreamerSession::Refusal StreamerSession::decisionRefusal(bool signedIn, const QList<DonationMessage> &pending,
							  const QString &messageId)
{
	if (!signedIn)
		return Refusal::SignedOut;
	return indexOfMessage(pending, messageId) >= 0 ? Refusal::None : Refusal::NoSuchMessage;
}

bool StreamerSession::serviceAnswering() const
{
	return !m_signedIn || m_poller->health() == ServicePoller::Health::Answering;
}

bool StreamerSession::ownPressUnderWay(ApiClient::Action kind, const QString &messageId) const
{
	const auto own = [](const Slot &slot) {
		return (slot.running && streamersOwn(slot.running->origin)) || slot.waiting.has_value();
	};
	switch (kind) {
	case ApiClient::Action::Decision:
		return m_deciding.contains(messageId);
	case ApiClient::Action::Skip:
		return own(m_skip);
	case ApiClient::Action::ModerationSwitch:
		return own(m_switch);
	}
	return false;
}

StreamerSession::Refusal StreamerSession::take(Slot &slot, const Action &action)
{
	if (!m_signedIn)
		return Refusal::SignedOut;
	if (!slot.running) {
		slot.running = action;
		emit actionStarted(action);
		send(action);
		return Refusal::None;
	}
	// A controller repeating its request or a hotkey must not keep the streamer's own button or key from
	// acting: that press goes next. Every other one is turned away while the kind is taken.
	if (!streamersOwn(action.origin) || streamersOwn(slot.running->origin) || slot.waiting)
		return Refusal::Busy;
	slot.waiting = action;
	emit actionStarted(action);
	return Refusal::None;
}

void StreamerSession::send(const Action &action)
{
	switch (action.kind) {
	case ApiClient::Action::Skip:
		m_apiClient->skipCurrentDonation();
		break;
	case ApiClient::Action::ModerationSwitch:
		m_apiClient->setModerationStatus(action.enabled);
		break;
	case ApiClient::Action::Decision:
		break;
	}
}

StreamerSession::Refusal StreamerSession::skipAlert(Origin origin)
{
	return take(m_skip, Action{ApiClient::Action::Skip, QString(), false, false, QString(), QString(), origin});
}

StreamerSession::Refusal StreamerSession::decide(const QString &messageId, bool accept, Origin origin)
{
	const Refusal refusal = decisionRefusal(m_signedIn, m_pending, messageId);
	if (refusal != Refusal::None)
		return refusal;
	// One press, one request: the message waits for its answer.
	if (m_deciding.contains(messageId))
		return Refusal::Busy;
	m_deciding.insert(messageId, origin);
	emit actionStarted(Action{ApiClient::Action::Decision, messageId, false, false, QString(), QString(), origin});
	m_apiClient->moderateMessage(messageId, accept);
	return Refusal::None;
}

StreamerSession::Refusal StreamerSession::decideFirst(bool accept, Origin origin)
{
	if (!m_signedIn)
		return Refusal::SignedOut;
	if (m_pending.isEmpty())
		return Refusal::NothingPending;
	return decide(longestWaiting(m_pending).id, accept, origin);
}

StreamerSession::Refusal StreamerSession::setModeration(bool enabled, Origin origin)
{
	return take(m_switch, Action{ApiClient::Action::ModerationSwitch, QString(), enabled, false, QString(),
				     QString(), origin});
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
	resetArrivals();
	m_poller->setWanted(ApiClient::Read::UserInfo, true);
	m_poller->start();
	emit stateChanged();
}

void StreamerSession::endSession()
{
	// Answers still on their way belong to the session that ends here: none of them reaches anyone.
	m_poller->stop();
	QList<Action> cutShort;
	for (auto it = m_deciding.cbegin(); it != m_deciding.cend(); ++it)
		cutShort << Action{
			ApiClient::Action::Decision, it.key(), false, false, QString(), QString(), it.value()};
	for (Slot *slot : {&m_skip, &m_switch}) {
		for (std::optional<Action> *action : {&slot->running, &slot->waiting})
			if (*action)
				cutShort << **action;
		*slot = Slot();
	}
	m_deciding.clear();
	for (Action &action : cutShort) {
		action.error = CUT_SHORT;
		action.code = QStringLiteral("signedOut");
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
	Action action;
	if (kind == ApiClient::Action::Decision) {
		if (!m_deciding.contains(subject))
			return;
		action = Action{kind, subject, false, false, QString(), QString(), m_deciding.take(subject)};
		if (ok)
			dropDecided(subject);
	} else {
		Slot &slot = kind == ApiClient::Action::Skip ? m_skip : m_switch;
		if (!slot.running)
			return;
		action = *slot.running;
		// The streamer's press that waited for this one goes now.
		slot.running = slot.waiting;
		slot.waiting.reset();
		if (slot.running)
			send(*slot.running);
	}
	action.ok = ok;
	if (!ok) {
		action.error = SERVICE_FAILED;
		action.code = QStringLiteral("serviceFailed");
	}
	emit actionFinished(action);
}

void StreamerSession::onUpdateAvailable(const QString &version, const QString &downloadUrl)
{
	obs_log(LOG_INFO, "Tiplark: Update available: %s", logText(version).constData());
	m_updateVersion = version;
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
