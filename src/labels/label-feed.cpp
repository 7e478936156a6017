#include "label-feed.h"

#include "labels/label-sources.h"
#include "streamer-session.h"

LabelFeed::LabelFeed(StreamerSession *session, LabelSources *sources, QObject *parent)
	: QObject(parent),
	  m_session(session),
	  m_sources(sources)
{
	connect(session, &StreamerSession::stateChanged, this, &LabelFeed::refreshSoon);
	connect(session, &StreamerSession::donationsChanged, this, &LabelFeed::refreshSoon);
	connect(session, &StreamerSession::totalsChanged, this, [this] {
		// The arrivals are forgotten with the session's totals (a sign-out, a new sign-in).
		if (m_session->totals().count() == 0)
			m_facts.arrivals.clear();
		refreshSoon();
	});
	connect(session, &StreamerSession::donationAdded, this, &LabelFeed::onDonationAdded);
	refresh();
}

LabelFeed::~LabelFeed()
{
	m_sources->publish(LabelFacts());
}

void LabelFeed::refreshSoon()
{
	if (m_refreshDue)
		return;
	m_refreshDue = true;
	QMetaObject::invokeMethod(this, &LabelFeed::refresh, Qt::QueuedConnection);
}

void LabelFeed::refresh()
{
	m_refreshDue = false;
	m_facts.signedIn = m_session->signedIn();
	m_facts.totals = m_session->totals();
	m_facts.newest = newestDonation(m_session->donations());
	m_sources->publish(m_facts);
}

void LabelFeed::onDonationAdded(const DonationMessage &donation)
{
	m_facts.addArrival(donation);
	refreshSoon();
}
