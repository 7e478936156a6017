#include "label-feed.h"

#include "labels/label-sources.h"
#include "streamer-session.h"

LabelFeed::LabelFeed(StreamerSession *session, LabelSources *sources, QObject *parent)
	: QObject(parent),
	  m_session(session),
	  m_sources(sources)
{
	connect(session, &StreamerSession::stateChanged, this, &LabelFeed::refresh);
	connect(session, &StreamerSession::donationsChanged, this, &LabelFeed::refresh);
	connect(session, &StreamerSession::totalsChanged, this, &LabelFeed::refresh);
	connect(session, &StreamerSession::donationAdded, this, &LabelFeed::onDonationAdded);
	refresh();
}

LabelFeed::~LabelFeed()
{
	m_sources->publish(LabelFacts());
}

void LabelFeed::refresh()
{
	m_facts.signedIn = m_session->signedIn();
	m_facts.totals = m_session->totals().totals();
	// The arrivals are forgotten with the session's totals (a sign-out, a new sign-in).
	if (m_facts.totals.isEmpty())
		m_facts.arrivals.clear();
	// The service lists the newest first, as the dock shows them.
	const QList<DonationMessage> donations = m_session->donations();
	m_facts.newest.reset();
	if (!donations.isEmpty())
		m_facts.newest = donations.first();
	m_sources->publish(m_facts);
}

void LabelFeed::onDonationAdded(const DonationMessage &donation)
{
	m_facts.addArrival(donation);
	m_sources->publish(m_facts);
}
