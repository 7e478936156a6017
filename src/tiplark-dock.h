#pragma once

#include <QString>
#include <QWidget>

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
	explicit TiplarkDock(QWidget *parent = nullptr);
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
	void onUpdateClicked();
	void pollData();

private:
	void setupUi();

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
};
