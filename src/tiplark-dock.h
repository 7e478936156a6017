#pragma once

#include "api/donation-model.h"
#include "service-addresses.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QWidget>

class ApiClient;
class AuthManager;
class QGroupBox;
class QLabel;
class QListWidget;
class QPushButton;
class QSplitter;
class QTimer;

// The panel shown inside OBS: login row, moderation controls and the two lists.
class TiplarkDock : public QWidget {
	Q_OBJECT

public:
	explicit TiplarkDock(const ServiceAddresses &addresses, QWidget *parent = nullptr);
	~TiplarkDock() override;

	// Stops polling and remembers the splitter position; safe to call more than once.
	void shutdown();

private slots:
	void onLoginClicked();
	void onLogoutClicked();
	void onEnableModerationClicked();
	void onDisableModerationClicked();
	void onSkipNotificationClicked();
	void onToggleModerationClicked();
	void onAuthenticationComplete(bool success);
	void onUserInfoReceived(const QString &username);
	void onModerationStatusReceived(bool enabled);
	void onPendingMessagesReceived(const QList<DonationMessage> &messages);
	void onDonationsReceived(const QList<DonationMessage> &donations);
	void onApiError(const QString &error);
	void onUpdateAvailable(const QString &version, const QString &downloadUrl);
	void onUpdateClicked();
	void pollData();

private:
	void setupUi();
	void updateLoginState();
	void updateModerationButtons(bool enabled);
	void populatePendingList();
	void populateDonationsList();
	void createMessageWidget(QListWidget *list, const DonationMessage &msg, bool withActions);
	// Tells the streamer, once per run for each text, that the token file could not be saved or deleted.
	void onTokenFileFailed(const QString &text);

	AuthManager *m_authManager = nullptr;
	ApiClient *m_apiClient = nullptr;
	QLabel *m_statusLabel = nullptr;
	QPushButton *m_loginButton = nullptr;
	QPushButton *m_logoutButton = nullptr;
	QPushButton *m_enableModerationButton = nullptr;
	QPushButton *m_disableModerationButton = nullptr;
	QPushButton *m_skipButton = nullptr;
	QGroupBox *m_pendingGroup = nullptr;
	QListWidget *m_pendingList = nullptr;
	QGroupBox *m_donationsGroup = nullptr;
	QListWidget *m_donationsList = nullptr;
	QTimer *m_pollTimer = nullptr;
	QSplitter *m_splitter = nullptr;
	QWidget *m_updateBanner = nullptr;
	QPushButton *m_updateButton = nullptr;
	QString m_updateUrl;
	QList<DonationMessage> m_pendingMessages;
	QList<DonationMessage> m_donations;
	bool m_moderationEnabled = false;
	// Texts of token-file failures already shown: each is told once per run.
	QStringList m_toldFailures;
};
