#pragma once

#include "labels/label-text.h"

#include <QObject>

class LabelSources;
class StreamerSession;

// Follows the session on the GUI thread and hands the labels what has reached the stream: the donations
// list and the session's totals, never the pending list. At sign-out the labels show their nothing-yet text; they
// keep their text while the service does not answer, as the session keeps its lists.
class LabelFeed : public QObject {
	Q_OBJECT

public:
	// session and sources must outlive this object. When it goes, the labels show nothing-yet.
	LabelFeed(StreamerSession *session, LabelSources *sources, QObject *parent = nullptr);
	~LabelFeed() override;

private:
	// The labels are told once everything the session heard at once has been taken in: one answer's
	// donations come one signal each, and every label composes its text anew each time it is told.
	void refreshSoon();
	void refresh();

	StreamerSession *m_session;
	LabelSources *m_sources;
	bool m_refreshDue = false;
};
