#include "tiplark-dock.h"

#include "row-list-accessibility.h"
#include "tiplark-settings.h"

#include <QDesktopServices>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSplitter>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

namespace {
const char *const SPLITTER_STATE_KEY = "SplitterState";
} // namespace

TiplarkDock::TiplarkDock(QWidget *parent) : QWidget(parent)
{
	installRowListAccessibility();
	setupUi();

	m_pollTimer = new QTimer(this);
	connect(m_pollTimer, &QTimer::timeout, this, &TiplarkDock::pollData);
}

TiplarkDock::~TiplarkDock()
{
	shutdown();
}

void TiplarkDock::setupUi()
{
	auto *mainLayout = new QVBoxLayout(this);
	mainLayout->setContentsMargins(8, 8, 8, 8);
	mainLayout->setSpacing(8);

	m_updateBanner = new QWidget(this);
	m_updateBanner->setStyleSheet("background-color: #e67e22; border-radius: 4px;");
	m_updateBanner->setVisible(false);
	auto *bannerLayout = new QHBoxLayout(m_updateBanner);
	bannerLayout->setContentsMargins(8, 6, 8, 6);
	auto *bannerLabel = new QLabel(tr("Dostępna aktualizacja!"), m_updateBanner);
	bannerLabel->setStyleSheet("color: white; font-weight: bold;");
	bannerLayout->addWidget(bannerLabel, 1);
	m_updateButton = new QPushButton(tr("Pobierz"), m_updateBanner);
	m_updateButton->setStyleSheet("background-color: white; color: #e67e22; font-weight: bold; padding: 4px 12px;");
	connect(m_updateButton, &QPushButton::clicked, this, &TiplarkDock::onUpdateClicked);
	bannerLayout->addWidget(m_updateButton, 0);
	mainLayout->addWidget(m_updateBanner);

	auto *loginRow = new QHBoxLayout();
	m_statusLabel = new QLabel(tr("Nie zalogowano"), this);
	m_statusLabel->setStyleSheet("font-weight: bold; font-size: 14px;");
	loginRow->addWidget(m_statusLabel, 1);
	m_loginButton = new QPushButton(tr("Zaloguj"), this);
	connect(m_loginButton, &QPushButton::clicked, this, &TiplarkDock::onLoginClicked);
	loginRow->addWidget(m_loginButton, 0);
	m_logoutButton = new QPushButton(tr("Wyloguj"), this);
	m_logoutButton->setVisible(false);
	connect(m_logoutButton, &QPushButton::clicked, this, &TiplarkDock::onLogoutClicked);
	loginRow->addWidget(m_logoutButton, 0);
	mainLayout->addLayout(loginRow);

	auto *separator = new QFrame(this);
	separator->setFrameShape(QFrame::HLine);
	separator->setFrameShadow(QFrame::Sunken);
	mainLayout->addWidget(separator);

	auto *moderationRow = new QHBoxLayout();
	m_enableModerationButton = new QPushButton(tr("Włącz moderację"), this);
	m_enableModerationButton->setEnabled(false);
	connect(m_enableModerationButton, &QPushButton::clicked, this, &TiplarkDock::onEnableModerationClicked);
	moderationRow->addWidget(m_enableModerationButton, 0);
	m_skipButton = new QPushButton(tr("Pomiń"), this);
	m_skipButton->setEnabled(false);
	connect(m_skipButton, &QPushButton::clicked, this, &TiplarkDock::onSkipNotificationClicked);
	moderationRow->addWidget(m_skipButton, 0);
	m_disableModerationButton = new QPushButton(tr("Wyłącz moderację"), this);
	m_disableModerationButton->setEnabled(false);
	connect(m_disableModerationButton, &QPushButton::clicked, this, &TiplarkDock::onDisableModerationClicked);
	moderationRow->addWidget(m_disableModerationButton, 0);
	mainLayout->addLayout(moderationRow);

	m_splitter = new QSplitter(Qt::Vertical, this);
	m_splitter->setChildrenCollapsible(false);

	auto makePane = [this](const QString &title, QGroupBox *&group, QListWidget *&list) {
		group = new QGroupBox(title, this);
		auto *paneLayout = new QVBoxLayout(group);
		paneLayout->setContentsMargins(4, 4, 4, 4);
		list = new QListWidget(group);
		list->setAlternatingRowColors(true);
		paneLayout->addWidget(list);
		group->setMinimumHeight(80);
		m_splitter->addWidget(group);
	};
	makePane(tr("Oczekujące na moderację"), m_pendingGroup, m_pendingList);
	makePane(tr("Ostatnie wpłaty"), m_donationsGroup, m_donationsList);
	m_splitter->setStretchFactor(0, 1);
	m_splitter->setStretchFactor(1, 2);

	{
		auto settings = openTiplarkSettings();
		if (settings->contains(SPLITTER_STATE_KEY))
			m_splitter->restoreState(settings->value(SPLITTER_STATE_KEY).toByteArray());
	}

	mainLayout->addWidget(m_splitter, 1);
}

void TiplarkDock::shutdown()
{
	if (m_pollTimer)
		m_pollTimer->stop();
	if (m_splitter) {
		openTiplarkSettings()->setValue(SPLITTER_STATE_KEY, m_splitter->saveState());
	}
}

// The service-facing slots are wired by the constructor once the service objects exist.
void TiplarkDock::onLoginClicked() {}
void TiplarkDock::onLogoutClicked() {}
void TiplarkDock::onEnableModerationClicked() {}
void TiplarkDock::onDisableModerationClicked() {}
void TiplarkDock::onSkipNotificationClicked() {}
void TiplarkDock::onToggleModerationClicked() {}
void TiplarkDock::pollData() {}

void TiplarkDock::onUpdateClicked()
{
	if (!m_updateUrl.isEmpty())
		QDesktopServices::openUrl(QUrl(m_updateUrl, QUrl::TolerantMode));
}
