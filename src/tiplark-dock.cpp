#include "tiplark-dock.h"

#include "api/api-client.h"
#include "auth/auth-manager.h"
#include "log-text.h"
#include "plugin-support.h"
#include "row-list-accessibility.h"
#include "tiplark-settings.h"

#include <QCursor>
#include <QDesktopServices>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHash>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QSplitter>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

namespace {
const char *const SPLITTER_STATE_KEY = "SplitterState";
const int POLL_INTERVAL_MS = 5000;
// Ticks a read may stay unanswered before the dock tells the streamer; one may pass, as a read can be
// sent just before a tick (the pending list, after a decision).
const int HANGING_TICKS = 2;

// Texts from the service are shown as they are, never as markup (which could load files or images), and a
// very long one is cut, with the whole text in its tooltip, so that it cannot stretch the dock.
const int MAX_LINE_CHARS = 80;
const int MAX_MESSAGE_CHARS = 500;

void showServiceText(QLabel *label, const QString &text, int maxChars = MAX_LINE_CHARS)
{
	label->setTextFormat(Qt::PlainText);
	if (text.size() <= maxChars) {
		label->setText(text);
		label->setToolTip(QString());
		return;
	}
	label->setText(text.left(maxChars - 1) + QChar(0x2026));
	label->setToolTip(text);
}

QLabel *serviceLabel(const QString &text, int maxChars = MAX_LINE_CHARS)
{
	auto *label = new QLabel;
	showServiceText(label, text, maxChars);
	return label;
}

// Only web addresses go to the desktop: anything else could start a local program or open a file.
bool isWebAddress(const QUrl &url)
{
	const QString scheme = url.scheme().toLower();
	return url.isValid() && (scheme == QLatin1String("https") || scheme == QLatin1String("http"));
}
} // namespace

TiplarkDock::TiplarkDock(const ServiceAddresses &addresses, QWidget *parent) : QWidget(parent)
{
	m_authManager = new AuthManager(addresses, this);
	m_apiClient = new ApiClient(m_authManager, addresses, this);

	connect(m_authManager, &AuthManager::authenticationComplete, this, &TiplarkDock::onAuthenticationComplete);
	connect(m_authManager, &AuthManager::tokensNotSaved, this, [this] {
		onTokenFileFailed(tr("Nie udało się zapisać danych logowania. Po ponownym uruchomieniu OBS "
				     "trzeba będzie zalogować się jeszcze raz."));
	});
	connect(m_authManager, &AuthManager::tokensNotDeleted, this, [this] {
		onTokenFileFailed(tr("Nie udało się usunąć zapisanych danych logowania. Po ponownym "
				     "uruchomieniu OBS możesz zostać zalogowany ponownie."));
	});
	connect(m_apiClient, &ApiClient::userInfoReceived, this, &TiplarkDock::onUserInfoReceived);
	connect(m_apiClient, &ApiClient::moderationStatusReceived, this, &TiplarkDock::onModerationStatusReceived);
	connect(m_apiClient, &ApiClient::pendingMessagesReceived, this, &TiplarkDock::onPendingMessagesReceived);
	connect(m_apiClient, &ApiClient::donationsReceived, this, &TiplarkDock::onDonationsReceived);
	connect(m_apiClient, &ApiClient::apiError, this, &TiplarkDock::onApiError);
	connect(m_apiClient, &ApiClient::updateAvailable, this, &TiplarkDock::onUpdateAvailable);
	connect(m_apiClient, &ApiClient::serviceAnswered, this, &TiplarkDock::onServiceAnswered);
	connect(m_apiClient, &ApiClient::serviceFailing, this, &TiplarkDock::onServiceFailing);
	connect(m_authManager, &AuthManager::accessTokenRefreshed, this, &TiplarkDock::onAccessTokenRefreshed);

	installRowListAccessibility();
	setupUi();

	m_pollTimer = new QTimer(this);
	connect(m_pollTimer, &QTimer::timeout, this, &TiplarkDock::pollData);

	if (m_authManager->isAuthenticated()) {
		updateLoginState();
		m_apiClient->fetchUserInfo();
		m_apiClient->fetchModerationStatus();
		m_pollTimer->start(POLL_INTERVAL_MS);
	}

	m_apiClient->checkForUpdates();
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
	m_statusLabel->setTextFormat(Qt::PlainText);
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

	// Its own colours, readable on OBS's dark and light themes alike.
	m_connectionLabel = new QLabel(this);
	m_connectionLabel->setTextFormat(Qt::PlainText);
	m_connectionLabel->setWordWrap(true);
	m_connectionLabel->setStyleSheet(
		"background-color: #c0392b; color: white; border-radius: 4px; padding: 4px 8px;");
	m_connectionLabel->setVisible(false);
	mainLayout->addWidget(m_connectionLabel);

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

void TiplarkDock::onLoginClicked()
{
	m_authManager->startLogin();
}

void TiplarkDock::onLogoutClicked()
{
	m_authManager->logout();
	updateLoginState();
}

void TiplarkDock::onEnableModerationClicked()
{
	m_apiClient->setModerationStatus(true);
}

void TiplarkDock::onDisableModerationClicked()
{
	m_apiClient->setModerationStatus(false);
}

void TiplarkDock::onSkipNotificationClicked()
{
	m_apiClient->skipCurrentDonation();
}

void TiplarkDock::onToggleModerationClicked()
{
	m_apiClient->setModerationStatus(!m_moderationEnabled);
}

void TiplarkDock::onAuthenticationComplete(bool success)
{
	if (success) {
		obs_log(LOG_INFO, "Tiplark: Authentication successful, fetching user info...");
		updateLoginState();
		m_apiClient->fetchUserInfo();
		m_apiClient->fetchModerationStatus();
		m_pollTimer->start(POLL_INTERVAL_MS);
	} else {
		obs_log(LOG_WARNING, "Tiplark: Authentication failed");
		QMessageBox::warning(this, tr("Błąd logowania"), tr("Nie udało się zalogować do Tiplark"),
				     QMessageBox::Ok, QMessageBox::NoButton);
	}
}

void TiplarkDock::updateLoginState()
{
	const bool authenticated = m_authManager->isAuthenticated();
	m_loginButton->setVisible(!authenticated);
	m_logoutButton->setVisible(authenticated);
	m_enableModerationButton->setEnabled(authenticated);
	m_skipButton->setEnabled(authenticated);
	m_disableModerationButton->setEnabled(authenticated);

	if (!authenticated) {
		m_statusLabel->setText(tr("Nie zalogowano"));
		m_userName.clear();
		m_failingReads.reset();
		m_lastGoodAnswer = QDateTime();
		showConnectionState();
		m_pendingList->clear();
		m_donationsList->clear();
		m_pendingMessages.clear();
		m_donations.clear();
		m_pollTimer->stop();
	}
}

namespace {
// True when no request of this kind is still waiting for its answer.
bool isAnswered(const ApiClient *client, ApiClient::Read read, const char *what)
{
	if (client->inFlight(read) == 0)
		return true;
	obs_log(LOG_DEBUG, "Tiplark: Previous %s request still unanswered, not asking again this tick", what);
	return false;
}
} // namespace

void TiplarkDock::pollData()
{
	if (!m_authManager->isAuthenticated()) {
		// The sign-in was lost (a refused token refresh): show it at once rather than keep the
		// signed-in controls with nothing behind them.
		updateLoginState();
		return;
	}

	poll(ApiClient::Read::ModerationStatus, "moderation status", &ApiClient::fetchModerationStatus);
	if (m_moderationEnabled)
		poll(ApiClient::Read::PendingMessages, "pending messages", &ApiClient::fetchPendingMessages);
	poll(ApiClient::Read::Donations, "donations", &ApiClient::fetchDonations);
}

void TiplarkDock::poll(ApiClient::Read read, const char *what, void (ApiClient::*fetch)())
{
	// A service that accepts connections but does not answer would otherwise collect a request per
	// kind and tick on the read threads, and get all of them at once when it comes back.
	int &passed = m_ticksUnanswered[size_t(read)];
	if (isAnswered(m_apiClient, read, what)) {
		passed = 0;
		(m_apiClient->*fetch)();
	} else if (++passed >= HANGING_TICKS) {
		// The service hangs: say so long before the transport gives up on the request.
		onServiceFailing(read);
	}
}

void TiplarkDock::updateModerationButtons(bool enabled)
{
	m_moderationEnabled = enabled;
	// No longer read, the pending list cannot come back as answered.
	if (!enabled) {
		m_failingReads.reset(size_t(ApiClient::Read::PendingMessages));
		showConnectionState();
	}
	m_enableModerationButton->setEnabled(!enabled);
	m_disableModerationButton->setEnabled(enabled);
	if (enabled) {
		m_enableModerationButton->setStyleSheet(QString());
		m_disableModerationButton->setStyleSheet("background-color: #c0392b;");
	} else {
		m_enableModerationButton->setStyleSheet("background-color: #27ae60;");
		m_disableModerationButton->setStyleSheet(QString());
	}
}

void TiplarkDock::onUserInfoReceived(const QString &username)
{
	m_userName = username;
	showServiceText(m_statusLabel, QStringLiteral("%1").arg(username));
}

void TiplarkDock::onAccessTokenRefreshed()
{
	// Started with a token the service no longer took, the user read failed before this refresh.
	if (m_userName.isEmpty() && m_authManager->isAuthenticated() &&
	    isAnswered(m_apiClient, ApiClient::Read::UserInfo, "user info"))
		m_apiClient->fetchUserInfo();
}

void TiplarkDock::onServiceAnswered(ApiClient::Read read)
{
	m_lastGoodAnswer = QDateTime::currentDateTime();
	m_failingReads.reset(size_t(read));
	showConnectionState();
}

void TiplarkDock::onServiceFailing(ApiClient::Read read)
{
	m_failingReads.set(size_t(read));
	showConnectionState();
}

void TiplarkDock::showConnectionState()
{
	// The lists keep what they show; this says why they no longer change.
	const bool failing = m_failingReads.any() && m_authManager->isAuthenticated();
	if (failing && m_lastGoodAnswer.isValid())
		m_connectionLabel->setText(tr("Tiplark nie odpowiada, ponawiam próby. Ostatnia odpowiedź o %1.")
						   .arg(m_lastGoodAnswer.toString(QStringLiteral("HH:mm:ss"))));
	else if (failing)
		m_connectionLabel->setText(tr("Tiplark nie odpowiada, ponawiam próby."));
	m_connectionLabel->setVisible(failing);
}

void TiplarkDock::onModerationStatusReceived(bool enabled)
{
	updateModerationButtons(enabled);
}

void TiplarkDock::onPendingMessagesReceived(const QList<DonationMessage> &messages)
{
	populatePendingList(messages);
}

void TiplarkDock::onDonationsReceived(const QList<DonationMessage> &donations)
{
	populateDonationsList(donations);
}

void TiplarkDock::onApiError(const QString &error)
{
	obs_log(LOG_WARNING, "Tiplark API error: %s", logText(error).constData());
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
	if (!isWebAddress(QUrl(downloadUrl, QUrl::TolerantMode))) {
		obs_log(LOG_WARNING, "Tiplark: Update download address is not a web address, not offered: %s",
			logText(downloadUrl).constData());
		return;
	}
	if (m_updateBanner)
		m_updateBanner->setVisible(true);
}

void TiplarkDock::onUpdateClicked()
{
	if (m_updateUrl.isEmpty())
		return;
	const QUrl url(m_updateUrl, QUrl::TolerantMode);
	if (!isWebAddress(url)) {
		obs_log(LOG_WARNING, "Tiplark: Update download address is not a web address, not opened: %s",
			logText(m_updateUrl).constData());
		return;
	}
	QDesktopServices::openUrl(url);
}

void TiplarkDock::populatePendingList(const QList<DonationMessage> &messages)
{
	updateList(m_pendingList, m_pendingMessages, messages, true);
}

void TiplarkDock::populateDonationsList(const QList<DonationMessage> &donations)
{
	updateList(m_donationsList, m_donations, donations, false);
}

namespace {
// Two records that would be drawn alike: the row of one serves the other.
bool sameOnScreen(const DonationMessage &a, const DonationMessage &b)
{
	return a.id == b.id && a.nickname == b.nickname && a.message == b.message && a.amount == b.amount &&
	       a.currency == b.currency && a.goalName == b.goalName && a.createdAt == b.createdAt &&
	       a.createdAt.offsetFromUtc() == b.createdAt.offsetFromUtc();
}

bool pointedAt(const QListWidget *list)
{
	const QWidget *viewport = list->viewport();
	return viewport->isVisible() && viewport->rect().contains(viewport->mapFromGlobal(QCursor::pos()));
}
} // namespace

void TiplarkDock::updateList(QListWidget *list, QList<DonationMessage> &shown, const QList<DonationMessage> &records,
			     bool withActions)
{
	// The row at the top of the view stays there while the streamer has scrolled down or points into
	// the list, so that rows added above move nothing under the cursor. At the top and not pointed
	// at, the view stays at the top and shows what came in.
	QListWidgetItem *anchor = nullptr;
	if (list->verticalScrollBar()->value() > 0 || pointedAt(list))
		anchor = list->itemAt(1, 1);

	// Records not placed yet, by id: a row whose record comes later waits for it.
	QHash<QString, int> ahead;
	for (const DonationMessage &record : records)
		++ahead[record.id];
	auto removeRow = [&](int row) {
		if (list->item(row) == anchor)
			anchor = nullptr;
		list->model()->removeRow(row);
		shown.removeAt(row);
	};

	int row = 0;
	for (const DonationMessage &record : records) {
		while (row < shown.size() && shown.at(row).id != record.id && ahead.value(shown.at(row).id) == 0)
			removeRow(row);
		if (row < shown.size() && shown.at(row).id == record.id) {
			if (!sameOnScreen(shown.at(row), record)) {
				createMessageWidget(list, list->item(row), record, withActions);
				shown[row] = record;
			}
		} else {
			auto *item = new QListWidgetItem;
			list->insertItem(row, item);
			createMessageWidget(list, item, record, withActions);
			shown.insert(row, record);
		}
		--ahead[record.id];
		++row;
	}
	while (shown.size() > row)
		removeRow(row);

	if (anchor)
		list->scrollToItem(anchor, QAbstractItemView::PositionAtTop);
}

void TiplarkDock::createMessageWidget(QListWidget *list, QListWidgetItem *item, const DonationMessage &msg,
				      bool withActions)
{
	auto *row = new QWidget;
	auto *rowLayout = new QVBoxLayout(row);
	rowLayout->setContentsMargins(8, 6, 8, 6);
	rowLayout->setSpacing(4);

	auto *nickname = serviceLabel(msg.nickname);
	nickname->setStyleSheet("font-weight: bold; font-size: 13px;");
	rowLayout->addWidget(nickname);

	if (!msg.message.isEmpty()) {
		auto *message = serviceLabel(msg.message, MAX_MESSAGE_CHARS);
		message->setWordWrap(true);
		message->setStyleSheet("color: #bdc3c7;");
		rowLayout->addWidget(message);
	}

	auto *info = new QHBoxLayout();
	info->setSpacing(8);
	auto *amount = serviceLabel(QStringLiteral("%1 %2").arg(msg.amount, msg.currency));
	amount->setStyleSheet("color: #27ae60; font-weight: bold;");
	info->addWidget(amount);
	// Shown in the zone the timestamp carries, as the service sent it.
	auto *time = serviceLabel(msg.createdAt.toString(QStringLiteral("dd.MM HH:mm")));
	time->setStyleSheet("color: gray; font-size: 11px;");
	info->addWidget(time);
	if (!msg.goalName.isEmpty()) {
		auto *goal = serviceLabel(QStringLiteral("| %1").arg(msg.goalName));
		goal->setStyleSheet("color: #3498db; font-size: 11px;");
		info->addWidget(goal);
	}
	info->addStretch(0);

	if (withActions) {
		auto addAction = [&](const QString &text, const char *style, bool accept) {
			auto *button = new QPushButton(text);
			button->setFixedSize(28, 28);
			button->setStyleSheet(QString::fromLatin1(style));
			button->setProperty("messageId", msg.id);
			connect(button, &QPushButton::clicked, this,
				[this, msg, accept]() { m_apiClient->moderateMessage(msg.id, accept); });
			info->addWidget(button);
		};
		// OBS's theme pads push buttons enough to clip a glyph in 28 pixels: no padding here.
		addAction(QStringLiteral("✓"),
			  "background-color: #27ae60; color: white; font-weight: bold; padding: 0px;", true);
		addAction(QStringLiteral("✗"),
			  "background-color: #c0392b; color: white; font-weight: bold; padding: 0px;", false);
	}
	rowLayout->addLayout(info);

	row->adjustSize();
	QSize hint = row->sizeHint();
	hint.setHeight(hint.height() + 8);
	item->setSizeHint(hint);
	// A widget the item showed before goes with this call.
	list->setItemWidget(item, row);
}
