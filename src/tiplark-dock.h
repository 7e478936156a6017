#pragma once

#include "api/api-client.h"
#include "api/donation-model.h"
#include "service-addresses.h"

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <array>
#include <bitset>

class AuthManager;
class QGroupBox;
class QLabel;
class QListWidget;
class QListWidgetItem;
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
	void onServiceAnswered(ApiClient::Read read);
	void onServiceFailing(ApiClient::Read read);
	void onAccessTokenRefreshed();
	void onUpdateAvailable(const QString &version, const QString &downloadUrl);
	void onUpdateClicked();
	void pollData();

private:
	void setupUi();
	void updateLoginState();
	void updateModerationButtons(bool enabled);
	void showConnectionState();
	// Asks for one polled read, unless its last request is still unanswered.
	void poll(ApiClient::Read read, const char *what, void (ApiClient::*fetch)());
	void populatePendingList(const QList<DonationMessage> &messages);
	void populateDonationsList(const QList<DonationMessage> &donations);
	// Brings list and shown (the records its rows show, in order) in line with records.
	void updateList(QListWidget *list, QList<DonationMessage> &shown, const QList<DonationMessage> &records,
			bool withActions);
	// Draws msg into the list's item, in place of whatever the item showed.
	void createMessageWidget(QListWidget *list, QListWidgetItem *item, const DonationMessage &msg,
				 bool withActions);
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
	// Shown while any polled read fails, with the time of the service's last good answer.
	QLabel *m_connectionLabel = nullptr;
	QDateTime m_lastGoodAnswer;
	std::bitset<4> m_failingReads;          // by ApiClient::Read
	std::array<int, 4> m_ticksUnanswered{}; // ticks that passed over a read still waiting, by kind
	QString m_userName;
};
