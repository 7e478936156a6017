#include "api/service-poller.h"

#include "plugin-support.h"

#include <QTimer>

namespace {
const char *describe(ApiClient::Read read)
{
	switch (read) {
	case ApiClient::Read::UserInfo:
		return "user info";
	case ApiClient::Read::ModerationStatus:
		return "moderation status";
	case ApiClient::Read::PendingMessages:
		return "pending messages";
	case ApiClient::Read::Donations:
		return "donations";
	}
	return "";
}

const ApiClient::Read READS[] = {ApiClient::Read::UserInfo, ApiClient::Read::ModerationStatus,
				 ApiClient::Read::PendingMessages, ApiClient::Read::Donations};
} // namespace

ServicePoller::ServicePoller(ApiClient *client, QObject *parent)
	: QObject(parent),
	  m_client(client),
	  m_timer(new QTimer(this))
{
	m_wanted.set(size_t(ApiClient::Read::ModerationStatus));
	m_wanted.set(size_t(ApiClient::Read::Donations));
	connect(m_timer, &QTimer::timeout, this, &ServicePoller::tick);
	connect(m_client, &ApiClient::serviceAnswered, this, [this](ApiClient::Read read) {
		m_lastGoodAnswer = QDateTime::currentDateTime();
		m_unauthorized.reset(size_t(read));
		m_refused.reset(size_t(read));
		setFailing(read, false);
	});
	connect(m_client, &ApiClient::serviceFailing, this, [this](ApiClient::Read read) { setFailing(read, true); });
	connect(m_client, &ApiClient::serviceRefused, this, &ServicePoller::onRefused);
}

void ServicePoller::start()
{
	m_client->endSession();
	m_failing.reset();
	m_refused.reset();
	m_unauthorized.reset();
	m_ticksUnanswered.fill(0);
	m_lastGoodAnswer = QDateTime();
	m_timer->start(INTERVAL_MS);
	emit healthChanged();
	for (ApiClient::Read read : {ApiClient::Read::UserInfo, ApiClient::Read::ModerationStatus})
		if (isWanted(read))
			ask(read);
}

void ServicePoller::stop()
{
	m_timer->stop();
	m_client->endSession();
	m_failing.reset();
	m_refused.reset();
	m_unauthorized.reset();
	emit healthChanged();
}

bool ServicePoller::isActive() const
{
	return m_timer->isActive();
}

void ServicePoller::setWanted(ApiClient::Read read, bool wanted)
{
	m_wanted.set(size_t(read), wanted);
	// No longer read, it cannot come back as answered.
	if (!wanted && (m_failing.test(size_t(read)) || m_refused.test(size_t(read)))) {
		m_failing.reset(size_t(read));
		m_refused.reset(size_t(read));
		emit healthChanged();
	}
}

void ServicePoller::tick()
{
	emit ticking();
	if (!isActive())
		return;
	for (ApiClient::Read read : READS)
		if (isWanted(read))
			poll(read);
}

void ServicePoller::poll(ApiClient::Read read)
{
	// A service that accepts connections but does not answer would otherwise collect a request per
	// kind and tick on the read threads, and get all of them at once when it comes back.
	int &passed = m_ticksUnanswered[size_t(read)];
	if (m_client->inFlight(read) > 0) {
		obs_log(LOG_DEBUG, "Tiplark: Previous %s request still unanswered, not asking again this tick",
			describe(read));
		// The service hangs: say so long before the transport gives up on the request.
		if (++passed >= HANGING_TICKS)
			setFailing(read, true);
		return;
	}
	passed = 0;
	ask(read);
}

void ServicePoller::ask(ApiClient::Read read)
{
	if (m_client->inFlight(read) > 0)
		return;
	switch (read) {
	case ApiClient::Read::UserInfo:
		m_client->fetchUserInfo();
		break;
	case ApiClient::Read::ModerationStatus:
		m_client->fetchModerationStatus();
		break;
	case ApiClient::Read::PendingMessages:
		m_client->fetchPendingMessages();
		break;
	case ApiClient::Read::Donations:
		m_client->fetchDonations();
		break;
	}
}

ServicePoller::Health ServicePoller::health() const
{
	const std::bitset<4> wanted = m_wanted;
	if ((m_failing & wanted).any())
		return Health::Failing;
	if ((m_refused & wanted).any())
		return Health::Refused;
	return Health::Answering;
}

void ServicePoller::setFailing(ApiClient::Read read, bool failing)
{
	if (failing)
		m_refused.reset(size_t(read));
	const bool changed = m_failing.test(size_t(read)) != failing;
	m_failing.set(size_t(read), failing);
	// The time of the last good answer changes the line as well.
	if (changed || !failing)
		emit healthChanged();
}

void ServicePoller::onRefused(ApiClient::Read read, int status)
{
	m_failing.reset(size_t(read));
	if (status == 401 && !m_unauthorized.test(size_t(read))) {
		m_unauthorized.set(size_t(read));
		return;
	}
	m_refused.set(size_t(read));
	m_refusedStatus = status;
	emit healthChanged();
}
