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
	connect(session, &StreamerSession::totalsChanged, this, &LabelFeed::refreshSoon);
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
	LabelFacts facts;
	facts.signedIn = m_session->signedIn();
	facts.totals = m_session->totals();
	facts.newest = newestDonation(m_session->donations());
	m_sources->publish(facts);
}
