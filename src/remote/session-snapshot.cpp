#include "session-snapshot.h"

#include "streamer-session.h"

#include <QMutexLocker>

SessionSnapshot::SessionSnapshot(StreamerSession *session, QObject *parent) : QObject(parent), m_session(session)
{
	for (auto changed : {&StreamerSession::stateChanged, &StreamerSession::healthChanged,
			     &StreamerSession::pendingChanged, &StreamerSession::totalsChanged})
		connect(session, changed, this, &SessionSnapshot::publish);
	publish();
}

RemoteState SessionSnapshot::state() const
{
	QMutexLocker lock(&m_mutex);
	return m_state;
}

void SessionSnapshot::publish()
{
	RemoteState state;
	state.signedIn = m_session->signedIn();
	state.userName = m_session->userName();
	state.moderationEnabled = m_session->moderationEnabled();
	state.serviceAnswering = m_session->serviceAnswering();
	state.pending = m_session->pending();
	state.sessionTotals = m_session->totals().totals();
	QMutexLocker lock(&m_mutex);
	m_state = state;
}
