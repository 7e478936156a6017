#pragma once

#include "api/api-client.h"

#include <QObject>
#include <QSet>
#include <QString>

#include <utility>

class NewMessageChime;
class RemoteControl;
class TiplarkDock;
class WebsocketVendor;

// Joins the dock and the remote control, on the GUI thread: what the dock shows goes to the control,
// the control's actions go to the dock's own actions, and the outcome of an action a remote control
// started comes back as ActionFinished. Adds the session totals line, the chime's check box and the
// obs-websocket vendor's switch to the dock's panes. A child of the dock: it goes with it.
class DockLink : public QObject {
	Q_OBJECT

public:
	DockLink(TiplarkDock *dock, RemoteControl *control, NewMessageChime *chime, WebsocketVendor *vendor);

private:
	// Hands an action to the dock; a refusal there is the remote action's outcome at once.
	void start(ApiClient::Action action, const QString &subject, const QString &name, bool started);
	void onActionFinished(ApiClient::Action action, const QString &subject, bool succeeded);
	void showState();

	TiplarkDock *m_dock;
	RemoteControl *m_control;
	// Actions that remote controls started and whose answer is awaited: (action, subject) to request name.
	QHash<std::pair<int, QString>, QString> m_remoteActions;
};
