#include "tiplark-dock.h"

#include "api/service-poller.h"
#include "api/update-info.h"
#include "auth/auth-manager.h"
#include "dock-state.h"
#include "dock-style.h"
#include "donation-pane.h"
#include "log-text.h"
#include "plugin-support.h"
#include "row-list-accessibility.h"
#include "tiplark-settings.h"

#include <QDesktopServices>
#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSplitter>
#include <QUrl>
#include <QVBoxLayout>

namespace {
const char *const SPLITTER_STATE_KEY = "SplitterState";
const char *const DISMISSED_UPDATE_KEY = "DismissedUpdate";
} // namespace

TiplarkDock::TiplarkDock(const ServiceAddresses &addresses, QWidget *parent)
	: QWidget(parent),
	  m_localService(addresses.apiBaseUrl != ServiceAddresses::production().apiBaseUrl)
{
	m_authManager = new AuthManager(addresses, this);
	m_apiClient = new ApiClient(m_authManager, addresses, this);
	m_apiClient->setListLimit(DonationPane::MAX_ROWS);
	m_poller = new ServicePoller(m_apiClient, this);
	m_state = new DockState(this);

	connect(m_authManager, &AuthManager::authenticationComplete, this, &TiplarkDock::onAuthenticationComplete);
	connect(m_authManager, &AuthManager::tokensNotSaved, this, [this] {
		onTokenFileFailed(tr("Nie udało się zapisać danych logowania. Po ponownym uruchomieniu OBS "
				     "trzeba będzie zalogować się jeszcze raz."));
	});
	connect(m_authManager, &AuthManager::tokensNotDeleted, this, [this] {
		onTokenFileFailed(tr("Nie udało się usunąć zapisanych danych logowania. Po ponownym "
				     "uruchomieniu OBS możesz zostać zalogowany ponownie."));
	});
	// A user read refused for a stale token is asked again with the new one, not a tick later.
	connect(m_authManager, &AuthManager::accessTokenRefreshed, this, [this] {
		if (m_poller->isActive() && m_poller->isWanted(ApiClient::Read::UserInfo))
			m_poller->ask(ApiClient::Read::UserInfo);
	});
	connect(m_apiClient, &ApiClient::userInfoReceived, this, &TiplarkDock::onUserInfoReceived);
	connect(m_apiClient, &ApiClient::moderationStatusReceived, this, &TiplarkDock::onModerationStatusReceived);
	connect(m_apiClient, &ApiClient::pendingMessagesReceived, this, &TiplarkDock::onPendingMessagesReceived);
	connect(m_apiClient, &ApiClient::donationsReceived, this, &TiplarkDock::onDonationsReceived);
	connect(m_apiClient, &ApiClient::actionFinished, this, &TiplarkDock::onActionFinished);
	connect(m_apiClient, &ApiClient::apiError, this, [](const QString &error) {
		obs_log(LOG_WARNING, "Tiplark API error: %s", logText(error).constData());
	});
	connect(m_apiClient, &ApiClient::updateAvailable, this, &TiplarkDock::onUpdateAvailable);
	connect(m_poller, &ServicePoller::healthChanged, this, &TiplarkDock::showConnectionState);
	connect(m_poller, &ServicePoller::ticking, this, [this] {
		if (m_state->signedIn() && !m_authManager->isAuthenticated())
			onSessionLost();
	});

	installRowListAccessibility();
	setupUi();

	if (m_authManager->isAuthenticated())
		beginSession();

	m_apiClient->checkForUpdates();
}

TiplarkDock::~TiplarkDock()
{
	shutdown();
}

void TiplarkDock::changeEvent(QEvent *event)
{
	if (event->type() == QEvent::PaletteChange && m_splitter)
		DockStyle::install(this);
	QWidget::changeEvent(event);
}

void TiplarkDock::setupUi()
{
	DockStyle::install(this);
	auto *mainLayout = new QVBoxLayout(this);
	mainLayout->setContentsMargins(8, 8, 8, 8);
	mainLayout->setSpacing(8);

	m_updateBanner = new QWidget(this);
	m_updateBanner->setAttribute(Qt::WA_StyledBackground);
	DockStyle::apply(m_updateBanner, DockStyle::Role::Notice);
	m_updateBanner->setVisible(false);
	auto *bannerLayout = new QHBoxLayout(m_updateBanner);
	bannerLayout->setContentsMargins(8, 6, 8, 6);
	m_updateLabel = new QLabel(m_updateBanner);
	m_updateLabel->setTextFormat(Qt::PlainText);
	m_updateLabel->setWordWrap(true);
	bannerLayout->addWidget(m_updateLabel, 1);
	m_updateButton = new QPushButton(tr("Pobierz"), m_updateBanner);
	connect(m_updateButton, &QPushButton::clicked, this, &TiplarkDock::onUpdateClicked);
	bannerLayout->addWidget(m_updateButton, 0);
	auto *dismissButton = new QPushButton(tr("Ukryj"), m_updateBanner);
	connect(dismissButton, &QPushButton::clicked, this, &TiplarkDock::onUpdateDismissed);
	bannerLayout->addWidget(dismissButton, 0);
	mainLayout->addWidget(m_updateBanner);

	auto *loginRow = new QHBoxLayout();
	m_statusLabel = new QLabel(tr("Nie zalogowano"), this);
	m_statusLabel->setTextFormat(Qt::PlainText);
	DockStyle::apply(m_statusLabel, DockStyle::Role::Title);
	loginRow->addWidget(m_statusLabel, 1);
	m_loginButton = new QPushButton(tr("Zaloguj"), this);
	connect(m_loginButton, &QPushButton::clicked, this, &TiplarkDock::signIn);
	loginRow->addWidget(m_loginButton, 0);
	m_cancelButton = new QPushButton(tr("Anuluj"), this);
	m_cancelButton->setVisible(false);
	connect(m_cancelButton, &QPushButton::clicked, this, &TiplarkDock::cancelSignIn);
	loginRow->addWidget(m_cancelButton, 0);
	m_logoutButton = new QPushButton(tr("Wyloguj"), this);
	m_logoutButton->setVisible(false);
	connect(m_logoutButton, &QPushButton::clicked, this, &TiplarkDock::signOut);
	loginRow->addWidget(m_logoutButton, 0);
	mainLayout->addLayout(loginRow);

	auto *separator = new QFrame(this);
	separator->setFrameShape(QFrame::HLine);
	separator->setFrameShadow(QFrame::Sunken);
	mainLayout->addWidget(separator);

	auto *moderationRow = new QHBoxLayout();
	m_enableModerationButton = new QPushButton(tr("Włącz moderację"), this);
	connect(m_enableModerationButton, &QPushButton::clicked, this, [this] { setModeration(true); });
	moderationRow->addWidget(m_enableModerationButton, 0);
	m_skipButton = new QPushButton(tr("Pomiń"), this);
	connect(m_skipButton, &QPushButton::clicked, this, &TiplarkDock::skipAlert);
	moderationRow->addWidget(m_skipButton, 0);
	m_disableModerationButton = new QPushButton(tr("Wyłącz moderację"), this);
	connect(m_disableModerationButton, &QPushButton::clicked, this, [this] { setModeration(false); });
	moderationRow->addWidget(m_disableModerationButton, 0);
	mainLayout->addLayout(moderationRow);

	for (QLabel **line : {&m_connectionLabel, &m_feedbackLabel}) {
		*line = new QLabel(this);
		(*line)->setTextFormat(Qt::PlainText);
		(*line)->setWordWrap(true);
		DockStyle::apply(*line, DockStyle::Role::Danger);
		(*line)->setVisible(false);
		mainLayout->addWidget(*line);
	}

	m_splitter = new QSplitter(Qt::Vertical, this);
	m_splitter->setChildrenCollapsible(false);
	m_pendingPane = new DonationPane(tr("Oczekujące na moderację"), tr("Brak wiadomości czekających na moderację"),
					 true, this);
	connect(m_pendingPane, &DonationPane::decisionRequested, this, &TiplarkDock::decide);
	connect(m_pendingPane, &DonationPane::shownChanged, this, [this] {
		m_state->setPending(m_pendingPane->records(), m_pendingPane->total());
		updatePendingWanted();
	});
	m_donationsPane = new DonationPane(tr("Ostatnie wpłaty"), tr("Brak wpłat"), false, this);
	connect(m_donationsPane, &DonationPane::shownChanged, this,
		[this] { m_state->setDonations(m_donationsPane->records(), m_donationsPane->total()); });
	m_splitter->addWidget(m_pendingPane);
	m_splitter->addWidget(m_donationsPane);
	m_splitter->setStretchFactor(0, 1);
	m_splitter->setStretchFactor(1, 2);
	{
		auto settings = openTiplarkSettings();
		if (settings->contains(SPLITTER_STATE_KEY))
			m_splitter->restoreState(settings->value(SPLITTER_STATE_KEY).toByteArray());
	}
	mainLayout->addWidget(m_splitter, 1);
	updateControls();
}

void TiplarkDock::shutdown()
{
	if (m_poller)
		m_poller->stop();
	if (m_splitter)
		openTiplarkSettings()->setValue(SPLITTER_STATE_KEY, m_splitter->saveState());
}

bool TiplarkDock::decide(const QString &messageId, bool accept)
{
	if (!m_state->signedIn() || m_pendingPane->isBusy(messageId))
		return false;
	// The row's buttons wait for the answer: one press, one request.
	m_pendingPane->setBusy(messageId, true);
	m_apiClient->moderateMessage(messageId, accept);
	return true;
}

bool TiplarkDock::skipAlert()
{
	if (!m_state->signedIn() || m_skipRunning)
		return false;
	m_skipRunning = true;
	updateControls();
	m_apiClient->skipCurrentDonation();
	return true;
}

bool TiplarkDock::setModeration(bool enabled)
{
	if (!m_state->signedIn() || m_switchRunning)
		return false;
	m_switchRunning = true;
	updateControls();
	m_apiClient->setModerationStatus(enabled);
	return true;
}

void TiplarkDock::signIn()
{
	if (m_state->signedIn() || m_signingIn)
		return;
	m_signingIn = true;
	m_sessionLost = false;
	m_statusLabel->setText(tr("Czekam na zalogowanie w przeglądarce…"));
	updateControls();
	showConnectionState();
	m_authManager->startLogin();
}

void TiplarkDock::cancelSignIn()
{
	if (!m_signingIn)
		return;
	m_authManager->cancelLogin();
	m_signingIn = false;
	m_statusLabel->setText(tr("Nie zalogowano"));
	updateControls();
}

void TiplarkDock::signOut()
{
	m_authManager->logout();
	endSession();
}

void TiplarkDock::onAuthenticationComplete(bool success)
{
	m_signingIn = false;
	if (success) {
		obs_log(LOG_INFO, "Tiplark: Authentication successful, fetching user info...");
		beginSession();
	} else {
		obs_log(LOG_WARNING, "Tiplark: Authentication failed");
		m_statusLabel->setText(tr("Nie zalogowano"));
		updateControls();
		QMessageBox::warning(this, tr("Błąd logowania"), tr("Nie udało się zalogować do Tiplark"),
				     QMessageBox::Ok, QMessageBox::NoButton);
	}
}

void TiplarkDock::beginSession()
{
	m_sessionLost = false;
	m_state->setSignedIn(true);
	m_poller->setWanted(ApiClient::Read::UserInfo, true);
	m_poller->start();
	updateControls();
}

void TiplarkDock::endSession()
{
	// Answers still on their way belong to the session that ends here: none of them reaches the screen.
	m_poller->stop();
	m_signingIn = false;
	m_skipRunning = false;
	m_switchRunning = false;
	m_statusLabel->setText(tr("Nie zalogowano"));
	m_feedbackLabel->clear();
	m_feedbackLabel->setVisible(false);
	m_pendingPane->setRecords({}, 0);
	m_donationsPane->setRecords({}, 0);
	m_state->setUserName(QString());
	m_state->setModeration(DockState::Moderation::Unknown);
	m_state->setSignedIn(false);
	updatePendingWanted();
	updateControls();
	showConnectionState();
}

void TiplarkDock::onSessionLost()
{
	m_sessionLost = true;
	endSession();
}

void TiplarkDock::updateControls()
{
	const bool signedIn = m_state->signedIn();
	m_loginButton->setVisible(!signedIn && !m_signingIn);
	m_cancelButton->setVisible(m_signingIn);
	m_logoutButton->setVisible(signedIn);

	const DockState::Moderation moderation = m_state->moderation();
	const bool switchable = signedIn && !m_switchRunning;
	m_enableModerationButton->setEnabled(switchable && moderation != DockState::Moderation::On);
	m_disableModerationButton->setEnabled(switchable && moderation != DockState::Moderation::Off);
	m_skipButton->setEnabled(signedIn && !m_skipRunning);
	// The colour marks the button that changes the state in force; it stays while signed out.
	if (moderation == DockState::Moderation::On) {
		DockStyle::apply(m_enableModerationButton, DockStyle::Role::None);
		DockStyle::apply(m_disableModerationButton, DockStyle::Role::ModerationOn);
	} else if (moderation == DockState::Moderation::Off) {
		DockStyle::apply(m_enableModerationButton, DockStyle::Role::ModerationOff);
		DockStyle::apply(m_disableModerationButton, DockStyle::Role::None);
	}
}

void TiplarkDock::updatePendingWanted()
{
	const bool wanted = m_state->signedIn() &&
			    (m_state->moderation() == DockState::Moderation::On || !m_pendingPane->records().isEmpty());
	m_poller->setWanted(ApiClient::Read::PendingMessages, wanted);
}

void TiplarkDock::onUserInfoReceived(const QString &username)
{
	m_poller->setWanted(ApiClient::Read::UserInfo, false);
	m_state->setUserName(username);
	DockStyle::showServiceText(m_statusLabel, username);
}

void TiplarkDock::onModerationStatusReceived(bool enabled)
{
	m_state->setModeration(enabled ? DockState::Moderation::On : DockState::Moderation::Off);
	updatePendingWanted();
	updateControls();
}

void TiplarkDock::onPendingMessagesReceived(const QList<DonationMessage> &messages, int total)
{
	m_pendingPane->setRecords(messages, total);
	updatePendingWanted();
}

void TiplarkDock::onDonationsReceived(const QList<DonationMessage> &donations, int total)
{
	m_donationsPane->setRecords(donations, total);
}

void TiplarkDock::onActionFinished(ApiClient::Action action, const QString &subject, bool succeeded)
{
	QString failure;
	switch (action) {
	case ApiClient::Action::Decision:
		// A decided row stays disabled until the next list no longer holds it.
		if (!succeeded)
			m_pendingPane->setBusy(subject, false);
		failure = tr("Nie udało się przekazać decyzji o wiadomości. Spróbuj ponownie.");
		break;
	case ApiClient::Action::Skip:
		m_skipRunning = false;
		failure = tr("Nie udało się pominąć alertu. Spróbuj ponownie.");
		break;
	case ApiClient::Action::ModerationSwitch:
		m_switchRunning = false;
		failure = subject == QLatin1String("on") ? tr("Nie udało się włączyć moderacji. Spróbuj ponownie.")
							 : tr("Nie udało się wyłączyć moderacji. Spróbuj ponownie.");
		break;
	}
	// The line tells of the latest failure, until the action that failed succeeds.
	const QString key = QString::number(int(action)) + QLatin1Char(' ') +
			    (action == ApiClient::Action::Decision ? subject : QString());
	if (!succeeded) {
		m_failedAction = key;
		m_feedbackLabel->setText(failure);
		m_feedbackLabel->setVisible(true);
	} else if (key == m_failedAction) {
		m_feedbackLabel->clear();
		m_feedbackLabel->setVisible(false);
	}
	updateControls();
	emit actionFinished(action, subject, succeeded);
}

void TiplarkDock::showConnectionState()
{
	QString text;
	if (m_sessionLost && !m_state->signedIn()) {
		text = tr("Sesja wygasła lub została cofnięta. Zaloguj się ponownie.");
	} else if (m_state->signedIn()) {
		const QDateTime last = m_poller->lastGoodAnswer();
		switch (m_poller->health()) {
		case ServicePoller::Health::Answering:
			break;
		case ServicePoller::Health::Failing:
			// The lists keep what they show; this says why they no longer change.
			text = last.isValid() ? tr("Tiplark nie odpowiada, ponawiam próby. Ostatnia odpowiedź o %1.")
							.arg(last.toString(QStringLiteral("HH:mm:ss")))
					      : tr("Tiplark nie odpowiada, ponawiam próby.");
			break;
		case ServicePoller::Health::Refused:
			switch (m_poller->refusedStatus()) {
			case 401:
				text = tr(
					"Tiplark nie przyjmuje logowania, ponawiam próby. Jeśli to potrwa, wyloguj się "
					"i zaloguj ponownie.");
				break;
			case 403:
				text = tr("Tiplark odmawia dostępu do tych danych (brak uprawnień konta).");
				break;
			case 404:
				text = tr("Tiplark nie zna tego zapytania. Możliwe, że wtyczka wymaga aktualizacji.");
				break;
			case 429:
				text = tr("Tiplark prosi o wolniejsze zapytania, ponawiam próby za chwilę.");
				break;
			default:
				text = tr("Tiplark odrzuca zapytania (kod %1), ponawiam próby.")
					       .arg(m_poller->refusedStatus());
				break;
			}
			text += QLatin1Char(' ') + tr("Listy mogą być nieaktualne.");
			break;
		}
	}
	m_state->setServiceAnswering(!m_state->signedIn() || m_poller->health() == ServicePoller::Health::Answering);
	m_connectionLabel->setText(text);
	m_connectionLabel->setVisible(!text.isEmpty());
}

void TiplarkDock::onTokenFileFailed(const QString &text)
{
	if (m_toldFailures.contains(text))
		return;
	m_toldFailures.append(text);
	// Queued: the box's own event loop must not hold up the sign-in or logout that is under way.
	QMetaObject::invokeMethod(
		this,
		[this, text] {
			QMessageBox::warning(this, tr("Dane logowania"), text, QMessageBox::Ok, QMessageBox::NoButton);
		},
		Qt::QueuedConnection);
}

void TiplarkDock::onUpdateAvailable(const QString &version, const QString &downloadUrl)
{
	obs_log(LOG_INFO, "Tiplark: Update available: %s", logText(version).constData());
	m_updateUrl = downloadUrl;
	if (downloadUrl.isEmpty())
		return;
	const QString problem = downloadAddressProblem(downloadUrl, m_localService);
	if (!problem.isEmpty()) {
		obs_log(LOG_WARNING, "Tiplark: Update download address is not a safe web address, not offered: %s (%s)",
			logText(downloadUrl).constData(), problem.toUtf8().constData());
		return;
	}
	if (openTiplarkSettings()->value(DISMISSED_UPDATE_KEY).toString() == version)
		return;
	m_updateVersion = version;
	m_updateLabel->setText(tr("Dostępna aktualizacja: wersja %1").arg(version.left(DockStyle::MAX_LINE_CHARS)));
	m_updateBanner->setVisible(true);
}

void TiplarkDock::onUpdateClicked()
{
	if (!downloadAddressProblem(m_updateUrl, m_localService).isEmpty())
		return;
	QDesktopServices::openUrl(QUrl(m_updateUrl, QUrl::StrictMode));
}

void TiplarkDock::onUpdateDismissed()
{
	// This version is not offered again; a later one is.
	openTiplarkSettings()->setValue(DISMISSED_UPDATE_KEY, m_updateVersion);
	m_updateBanner->setVisible(false);
}
