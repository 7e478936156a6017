#pragma once

#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>

#include "streamer-session.h"

class DonationPane;
class NewMessageChime;
class QLabel;
class QPushButton;
class QScrollArea;
class QSplitter;
class RemoteControlSetting;

// The panel shown inside OBS: a view of the streamer's session. It shows the sign-in row, the moderation
// controls, the update banner, the line about the service, the two lists, the session totals and the
// settings behind "⚙" (the chime, remote control), and its buttons hand the session their actions. The
// session, the chime and the setting may go before the panel (OBS destroys its main window after the
// module unloaded): the panel then shows what it last showed.
class TiplarkDock : public QWidget {
	Q_OBJECT

public:
	// remoteControl and chime: the choices behind "⚙", each left out when null.
	TiplarkDock(StreamerSession *session, RemoteControlSetting *remoteControl = nullptr,
		    NewMessageChime *chime = nullptr, QWidget *parent = nullptr);
	~TiplarkDock() override;

	// Remembers the splitter position; safe to call more than once.
	void shutdown();

	DonationPane *pendingPane() const { return m_pendingPane; }
	DonationPane *donationsPane() const { return m_donationsPane; }

	// Room for one whole pending row, at about the width of OBS's docks, as OBS's own docks shrink to a
	// row: the rest scrolls.
	QSize minimumSizeHint() const override;

protected:
	// A new theme brings new colours for the secondary text.
	void changeEvent(QEvent *event) override;
	// A dock made too short for all it holds shows the moderation queue.
	bool eventFilter(QObject *watched, QEvent *event) override;

private:
	void setupUi(RemoteControlSetting *remoteControl, NewMessageChime *chime);
	// The chime's and the remote control's check boxes, shown while "⚙" is pressed.
	QWidget *makeSettings(QWidget *parent, RemoteControlSetting *remoteControl, NewMessageChime *chime);
	// Brings the sign-in row and the controls in line with the session.
	void showState();
	// The line below the controls: what fails, or that the session ended; hidden when all is well.
	void showConnectionState();
	void showTotals();
	void act(const SessionAction &action);
	void onActionStarted(const SessionAction &action);
	void onActionFinished(const SessionAction &action);
	void onSignInFailed();
	void showUpdateOffer();
	void onUpdateClicked();
	// Tells the streamer, once per run for each text, that the token file could not be saved or deleted.
	void onTokenFileFailed(const QString &text);
	// Scrolls the least that shows the whole pending pane, its top first.
	void keepQueueInView();

	QPointer<StreamerSession> m_session;
	QLabel *m_statusLabel = nullptr;
	QPushButton *m_loginButton = nullptr;
	QPushButton *m_cancelButton = nullptr;
	QPushButton *m_logoutButton = nullptr;
	QPushButton *m_enableModerationButton = nullptr;
	QPushButton *m_disableModerationButton = nullptr;
	QPushButton *m_skipButton = nullptr;
	DonationPane *m_pendingPane = nullptr;
	DonationPane *m_donationsPane = nullptr;
	QLabel *m_totalsLabel = nullptr;
	QSplitter *m_splitter = nullptr;
	QScrollArea *m_scrollArea = nullptr;
	QWidget *m_updateBanner = nullptr;
	QPushButton *m_updateButton = nullptr;
	// Shown while a read fails, or once the session ended by itself.
	QLabel *m_connectionLabel = nullptr;
	// Shown after an action failed, until it succeeds.
	QLabel *m_feedbackLabel = nullptr;
	QString m_failedAction;
	// Texts of token-file failures already shown: each is told once per run.
	QStringList m_toldFailures;
};
