#pragma once

#include "api/api-client.h"
#include "service-addresses.h"

#include <QString>
#include <QStringList>
#include <QWidget>

class AuthManager;
class DockState;
class DonationPane;
class QLabel;
class QPushButton;
class QSplitter;
class ServicePoller;

// The panel shown inside OBS: the sign-in row, the moderation controls, the update banner and the two
// lists. It composes the list panes and the poller, and keeps what it shows in its state object, where
// anything else in the plug-in can read and follow it; the actions below are the ones its buttons take.
class TiplarkDock : public QWidget {
	Q_OBJECT

public:
	explicit TiplarkDock(const ServiceAddresses &addresses, QWidget *parent = nullptr);
	~TiplarkDock() override;

	// Stops polling and remembers the splitter position; safe to call more than once.
	void shutdown();

	DockState *state() const { return m_state; }
	DonationPane *pendingPane() const { return m_pendingPane; }
	DonationPane *donationsPane() const { return m_donationsPane; }
	ServicePoller *poller() const { return m_poller; }

	// What the streamer can do. Each returns false, and sends nothing, while it cannot be done: signed
	// out, or the same action still waiting for its answer (one press, one request). A failure is shown
	// in the dock, and the action can be tried again.
	bool decide(const QString &messageId, bool accept);
	bool skipAlert();
	bool setModeration(bool enabled);
	void signIn();
	void cancelSignIn();
	void signOut();

protected:
	// A new theme brings new colours for the secondary text.
	void changeEvent(QEvent *event) override;

signals:
	// An action (a decision, a skip, a moderation switch) got its answer, or failed.
	void actionFinished(ApiClient::Action action, const QString &subject, bool succeeded);

private:
	void setupUi();
	void onAuthenticationComplete(bool success);
	void onUserInfoReceived(const QString &username);
	void onModerationStatusReceived(bool enabled);
	void onPendingMessagesReceived(const QList<DonationMessage> &messages, int total);
	void onDonationsReceived(const QList<DonationMessage> &donations, int total);
	void onActionFinished(ApiClient::Action action, const QString &subject, bool succeeded);
	void onUpdateAvailable(const QString &version, const QString &downloadUrl);
	void onUpdateClicked();
	void onUpdateDismissed();
	// Brings every control in line with the sign-in, the moderation state and the actions under way.
	void updateControls();
	// The line below the controls: what fails, or that the session ended; hidden when all is well.
	void showConnectionState();
	// Shows the signed-in look and starts polling.
	void beginSession();
	// Shows the signed-out look, with nothing of the session left on screen.
	void endSession();
	// The poller found the sign-in gone (a refused token refresh).
	void onSessionLost();
	// The pending list is read while moderation is on, and while it still shows rows (they must not go
	// stale with live buttons once moderation is switched off).
	void updatePendingWanted();
	// Tells the streamer, once per run for each text, that the token file could not be saved or deleted.
	void onTokenFileFailed(const QString &text);

	AuthManager *m_authManager = nullptr;
	ApiClient *m_apiClient = nullptr;
	ServicePoller *m_poller = nullptr;
	DockState *m_state = nullptr;
	QLabel *m_statusLabel = nullptr;
	QPushButton *m_loginButton = nullptr;
	QPushButton *m_cancelButton = nullptr;
	QPushButton *m_logoutButton = nullptr;
	QPushButton *m_enableModerationButton = nullptr;
	QPushButton *m_disableModerationButton = nullptr;
	QPushButton *m_skipButton = nullptr;
	DonationPane *m_pendingPane = nullptr;
	DonationPane *m_donationsPane = nullptr;
	QSplitter *m_splitter = nullptr;
	QWidget *m_updateBanner = nullptr;
	QLabel *m_updateLabel = nullptr;
	QPushButton *m_updateButton = nullptr;
	QString m_updateUrl;
	QString m_updateVersion;
	// Shown while a read fails, or once the session ended by itself.
	QLabel *m_connectionLabel = nullptr;
	// Shown after an action failed, until it succeeds.
	QLabel *m_feedbackLabel = nullptr;
	QString m_failedAction;
	// http download addresses to a loopback host are offered only against a local stand-in service.
	bool m_localService = false;
	bool m_signingIn = false;
	bool m_sessionLost = false;
	bool m_skipRunning = false;
	bool m_switchRunning = false;
	// Texts of token-file failures already shown: each is told once per run.
	QStringList m_toldFailures;
};
