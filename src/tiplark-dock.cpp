#include "tiplark-dock.h"

#include "dock-style.h"
#include "dock-widgets.h"
#include "donation-pane.h"
#include "flow-layout.h"
#include "new-message-chime.h"
#include "remote/remote-control-setting.h"
#include "row-list-accessibility.h"
#include "tiplark-settings.h"
#include "whole-characters.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QDesktopServices>
#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSplitter>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

namespace {
const char *const SPLITTER_STATE_KEY = "SplitterState";
// About as narrow as OBS's own docks go.
constexpr int MIN_WIDTH = 250;
constexpr int MARGIN = 6;

void addBelow(QWidget *pane, QWidget *widget)
{
	if (auto *layout = qobject_cast<QBoxLayout *>(pane->layout()))
		layout->addWidget(widget);
}

} // namespace

TiplarkDock::TiplarkDock(StreamerSession *session, RemoteControlSetting *remoteControl, NewMessageChime *chime,
			 QWidget *parent)
	: QWidget(parent),
	  m_session(session)
{
	installRowListAccessibility();
	setupUi(remoteControl, chime);

	connect(session, &StreamerSession::stateChanged, this, &TiplarkDock::showState);
	connect(session, &StreamerSession::healthChanged, this, &TiplarkDock::showConnectionState);
	connect(session, &StreamerSession::pendingChanged, this,
		[this] { m_pendingPane->setRecords(m_session->pending(), m_session->pendingTotal()); });
	connect(session, &StreamerSession::donationsChanged, this,
		[this] { m_donationsPane->setRecords(m_session->donations(), m_session->donationsTotal()); });
	connect(session, &StreamerSession::totalsChanged, this, &TiplarkDock::showTotals);
	connect(session, &StreamerSession::actionStarted, this, &TiplarkDock::onActionStarted);
	connect(session, &StreamerSession::actionFinished, this, &TiplarkDock::onActionFinished);
	connect(session, &StreamerSession::signInFailed, this, &TiplarkDock::onSignInFailed);
	connect(session, &StreamerSession::updateOffered, this, &TiplarkDock::showUpdateOffer);
	connect(session, &StreamerSession::tokensNotSaved, this, [this] {
		onTokenFileFailed(tr("Nie udało się zapisać danych logowania. Po ponownym uruchomieniu OBS "
				     "trzeba będzie zalogować się jeszcze raz."));
	});
	connect(session, &StreamerSession::tokensNotDeleted, this, [this] {
		onTokenFileFailed(tr("Nie udało się usunąć zapisanych danych logowania. Po ponownym "
				     "uruchomieniu OBS możesz zostać zalogowany ponownie."));
	});

	// Whatever the session holds already, the panel shows from the start.
	m_pendingPane->setRecords(session->pending(), session->pendingTotal());
	m_donationsPane->setRecords(session->donations(), session->donationsTotal());
	showState();
	showConnectionState();
	showTotals();
	showUpdateOffer();
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

void TiplarkDock::setupUi(RemoteControlSetting *remoteControl, NewMessageChime *chime)
{
	DockStyle::install(this);
	// Whatever room OBS gives the dock, everything stays inside it: what does not fit scrolls.
	auto *outerLayout = new QVBoxLayout(this);
	outerLayout->setContentsMargins(0, 0, 0, 0);
	m_scrollArea = new QScrollArea(this);
	m_scrollArea->setFrameShape(QFrame::NoFrame);
	m_scrollArea->setWidgetResizable(true);
	outerLayout->addWidget(m_scrollArea);
	auto *content = new ScrolledContent(m_scrollArea);
	auto *mainLayout = new QVBoxLayout(content);
	mainLayout->setContentsMargins(MARGIN, MARGIN, MARGIN, MARGIN);
	mainLayout->setSpacing(MARGIN);

	m_updateBanner = new QWidget(content);
	m_updateBanner->setAttribute(Qt::WA_StyledBackground);
	DockStyle::apply(m_updateBanner, DockStyle::Role::Notice);
	m_updateBanner->setVisible(false);
	auto *bannerLayout = new QHBoxLayout(m_updateBanner);
	bannerLayout->setContentsMargins(8, 4, 8, 4);
	auto *updateLabel = new QLabel(tr("Dostępna aktualizacja!"), m_updateBanner);
	updateLabel->setTextFormat(Qt::PlainText);
	updateLabel->setWordWrap(true);
	bannerLayout->addWidget(updateLabel, 1);
	m_updateButton = new QPushButton(tr("Pobierz"), m_updateBanner);
	connect(m_updateButton, &QPushButton::clicked, this, &TiplarkDock::onUpdateClicked);
	bannerLayout->addWidget(m_updateButton, 0);
	mainLayout->addWidget(m_updateBanner);

	auto *loginRow = new QHBoxLayout();
	m_statusLabel = new QLabel(tr("Nie zalogowano"), content);
	m_statusLabel->setTextFormat(Qt::PlainText);
	// A long name wraps rather than widening the dock.
	m_statusLabel->setWordWrap(true);
	DockStyle::apply(m_statusLabel, DockStyle::Role::Title);
	loginRow->addWidget(m_statusLabel, 1);
	m_loginButton = new QPushButton(tr("Zaloguj"), content);
	connect(m_loginButton, &QPushButton::clicked, this, [this] {
		if (m_session)
			m_session->signIn();
	});
	loginRow->addWidget(m_loginButton, 0);
	m_cancelButton = new QPushButton(tr("Anuluj"), content);
	m_cancelButton->setVisible(false);
	connect(m_cancelButton, &QPushButton::clicked, this, [this] {
		if (m_session)
			m_session->cancelSignIn();
	});
	loginRow->addWidget(m_cancelButton, 0);
	m_logoutButton = new QPushButton(tr("Wyloguj"), content);
	m_logoutButton->setVisible(false);
	connect(m_logoutButton, &QPushButton::clicked, this, [this] {
		if (m_session)
			m_session->signOut();
	});
	loginRow->addWidget(m_logoutButton, 0);
	// Choices made once sit behind "⚙", out of the queue's way.
	auto *settingsButton = new QToolButton(content);
	settingsButton->setText(QStringLiteral("⚙"));
	settingsButton->setToolTip(tr("Ustawienia"));
	settingsButton->setAccessibleName(tr("Ustawienia"));
	settingsButton->setCheckable(true);
	loginRow->addWidget(settingsButton, 0);
	mainLayout->addLayout(loginRow);
	QWidget *settings = makeSettings(content, remoteControl, chime);
	settings->setVisible(false);
	connect(settingsButton, &QToolButton::toggled, settings, &QWidget::setVisible);
	mainLayout->addWidget(settings);

	auto *moderationRow = new FlowLayout(4);
	m_enableModerationButton = new QPushButton(tr("Włącz moderację"), content);
	connect(m_enableModerationButton, &QPushButton::clicked, this,
		[this] { act(SessionAction::moderation(true, SessionAction::Origin::Dock)); });
	moderationRow->addWidget(m_enableModerationButton);
	m_skipButton = new QPushButton(tr("Pomiń"), content);
	connect(m_skipButton, &QPushButton::clicked, this,
		[this] { act(SessionAction::skip(SessionAction::Origin::Dock)); });
	moderationRow->addWidget(m_skipButton);
	m_disableModerationButton = new QPushButton(tr("Wyłącz moderację"), content);
	connect(m_disableModerationButton, &QPushButton::clicked, this,
		[this] { act(SessionAction::moderation(false, SessionAction::Origin::Dock)); });
	moderationRow->addWidget(m_disableModerationButton);
	mainLayout->addLayout(moderationRow);

	for (QLabel **line : {&m_connectionLabel, &m_feedbackLabel}) {
		*line = new QLabel(content);
		(*line)->setTextFormat(Qt::PlainText);
		(*line)->setWordWrap(true);
		DockStyle::apply(*line, DockStyle::Role::Danger);
		(*line)->setVisible(false);
		mainLayout->addWidget(*line);
	}

	m_splitter = new QSplitter(Qt::Vertical, content);
	m_splitter->setChildrenCollapsible(false);
	m_pendingPane = new DonationPane(tr("Oczekujące na moderację"), tr("Brak wiadomości czekających na moderację"),
					 true, content);
	connect(m_pendingPane, &DonationPane::decisionRequested, this, [this](const QString &id, bool accept) {
		act(SessionAction::decision(id, accept, SessionAction::Origin::Dock));
	});
	m_donationsPane = new DonationPane(tr("Ostatnie wpłaty"), tr("Brak wpłat"), false, content);
	// Text from the service (a currency) goes into this line too: plain text only.
	m_totalsLabel = new QLabel;
	m_totalsLabel->setTextFormat(Qt::PlainText);
	m_totalsLabel->setWordWrap(true);
	addBelow(m_donationsPane, m_totalsLabel);
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
	m_scrollArea->setWidget(content);
	m_scrollArea->viewport()->installEventFilter(this);
}

QWidget *TiplarkDock::makeSettings(QWidget *parent, RemoteControlSetting *remoteControl, NewMessageChime *chime)
{
	auto *settings = new QWidget(parent);
	auto *layout = new QVBoxLayout(settings);
	layout->setContentsMargins(0, 0, 0, 0);
	if (chime) {
		QCheckBox *chimeBox = addCheckBox(layout, tr("Dźwięk przy nowej wiadomości"));
		chimeBox->setChecked(chime->isEnabled());
		connect(chimeBox, &QCheckBox::toggled, chime, &NewMessageChime::setEnabled);
	}
	if (!remoteControl)
		return settings;
	QCheckBox *remoteBox =
		addCheckBox(layout, tr("Zdalne sterowanie przez obs-websocket"),
			    tr("Klienci obs-websocket (np. Stream Deck, skrypty) widzą wiadomości, także te "
			       "czekające na moderację, i mogą pomijać alerty oraz moderować. Nie wyłącza skrótów "
			       "klawiszowych Tiplark: klienci mogą je nadal naciskać (TriggerHotkeyByName, "
			       "TriggerHotkeyByKeySequence). Aby odciąć klientów całkiem, wyłącz serwer obs-websocket "
			       "lub zmień jego hasło."));
	remoteBox->setChecked(remoteControl->allowed());
	connect(remoteBox, &QCheckBox::toggled, remoteControl, &RemoteControlSetting::setAllowed);
	return settings;
}

QSize TiplarkDock::minimumSizeHint() const
{
	return {MIN_WIDTH, MARGIN + m_pendingPane->oneRowHeight() + MARGIN};
}

bool TiplarkDock::eventFilter(QObject *watched, QEvent *event)
{
	// The content is laid out for the new size after the viewport's resize event.
	if (watched == m_scrollArea->viewport() && event->type() == QEvent::Resize)
		QMetaObject::invokeMethod(this, &TiplarkDock::keepQueueInView, Qt::QueuedConnection);
	return QWidget::eventFilter(watched, event);
}

void TiplarkDock::keepQueueInView()
{
	QScrollBar *scrollBar = m_scrollArea->verticalScrollBar();
	const int top = m_pendingPane->mapTo(m_scrollArea->widget(), QPoint()).y() - MARGIN;
	const int bottom = top + m_pendingPane->height() + 2 * MARGIN;
	const int shown = m_scrollArea->viewport()->height();
	if (bottom - scrollBar->value() > shown)
		scrollBar->setValue(bottom - shown);
	if (top < scrollBar->value())
		scrollBar->setValue(top);
}

void TiplarkDock::shutdown()
{
	if (m_splitter)
		openTiplarkSettings()->setValue(SPLITTER_STATE_KEY, m_splitter->saveState());
}

void TiplarkDock::showState()
{
	const StreamerSession *session = m_session;
	if (!session)
		return;
	const bool signedIn = session->signedIn();
	// The totals begin anew with a sign-in.
	showTotals();
	if (signedIn)
		// Signed in, the name follows once the service gives it.
		m_statusLabel->setText(session->userName().isEmpty()
					       ? tr("Zalogowano")
					       : wholeCharactersOf(session->userName(), DockStyle::MAX_LINE_CHARS));
	else
		m_statusLabel->setText(session->signingIn() ? tr("Czekam na zalogowanie w przeglądarce…")
							    : tr("Nie zalogowano"));
	m_loginButton->setVisible(!signedIn && !session->signingIn());
	m_loginButton->setEnabled(StreamerSession::networkAvailable());
	m_cancelButton->setVisible(session->signingIn());
	m_logoutButton->setVisible(signedIn);

	const std::optional<bool> moderation = session->moderationEnabled();
	const bool switchable = signedIn && !session->ownPressUnderWay(SessionAction::Kind::ModerationSwitch);
	m_enableModerationButton->setEnabled(switchable && moderation != true);
	m_disableModerationButton->setEnabled(switchable && moderation != false);
	m_skipButton->setEnabled(signedIn && !session->ownPressUnderWay(SessionAction::Kind::Skip));
	// The colour marks the button that changes the state in force; it stays while signed out.
	if (moderation == true) {
		DockStyle::apply(m_enableModerationButton, DockStyle::Role::None);
		DockStyle::apply(m_disableModerationButton, DockStyle::Role::ModerationOn);
	} else if (moderation == false) {
		DockStyle::apply(m_enableModerationButton, DockStyle::Role::ModerationOff);
		DockStyle::apply(m_disableModerationButton, DockStyle::Role::None);
	}
	if (!signedIn) {
		m_feedbackLabel->clear();
		m_feedbackLabel->setVisible(false);
	}
}

void TiplarkDock::showTotals()
{
	if (m_session)
		m_totalsLabel->setText(m_session->totals().summary(m_session->totalsSince()));
}

void TiplarkDock::act(const SessionAction &action)
{
	if (m_session)
		m_session->perform(action);
}

void TiplarkDock::onActionStarted(const SessionAction &action)
{
	// The row's buttons wait for the answer: one press, one request.
	if (action.kind == SessionAction::Kind::Decision)
		m_pendingPane->setBusy(action.messageId, true);
	showState();
}

void TiplarkDock::onActionFinished(const SessionAction &action)
{
	QString failure;
	switch (action.kind) {
	case SessionAction::Kind::Decision:
		// A decided row stays disabled until the next list no longer holds it.
		if (!action.ok)
			m_pendingPane->setBusy(action.messageId, false);
		failure = tr("Nie udało się przekazać decyzji o wiadomości. Spróbuj ponownie.");
		break;
	case SessionAction::Kind::Skip:
		failure = tr("Nie udało się pominąć alertu. Spróbuj ponownie.");
		break;
	case SessionAction::Kind::ModerationSwitch:
		failure = action.enabled ? tr("Nie udało się włączyć moderacji. Spróbuj ponownie.")
					 : tr("Nie udało się wyłączyć moderacji. Spróbuj ponownie.");
		break;
	}
	// The line tells of the latest failure, until the action that failed succeeds. One cut short by a
	// sign-out is no failure to tell of: the session has ended.
	const QString key = QString::number(int(action.kind)) + QLatin1Char(' ') + action.messageId;
	if (!action.ok && m_session && m_session->signedIn()) {
		m_failedAction = key;
		m_feedbackLabel->setText(failure);
		m_feedbackLabel->setVisible(true);
	} else if (action.ok && key == m_failedAction) {
		m_feedbackLabel->clear();
		m_feedbackLabel->setVisible(false);
	}
	showState();
}

void TiplarkDock::onSignInFailed()
{
	QMessageBox::warning(this, tr("Błąd logowania"), tr("Nie udało się zalogować do Tiplark"), QMessageBox::Ok,
			     QMessageBox::NoButton);
}

void TiplarkDock::showConnectionState()
{
	QString text;
	const StreamerSession *session = m_session;
	if (!session)
		return;
	const StreamerSession::Health health = session->health();
	if (!StreamerSession::networkAvailable()) {
		text = tr("Wtyczka nie może połączyć się z Tiplark w tym systemie: brakuje biblioteki libcurl. "
			  "Zainstaluj ją (Debian i Ubuntu: pakiet libcurl3-gnutls, Fedora: libcurl, Arch: curl) "
			  "i uruchom OBS ponownie.");
	} else if (session->sessionLost() && !session->signedIn()) {
		text = tr("Sesja wygasła lub została cofnięta. Zaloguj się ponownie.");
	} else if (session->signedIn()) {
		const QDateTime last = health.lastGoodAnswer;
		switch (health.state) {
		case ServicePoller::Health::Answering:
			break;
		case ServicePoller::Health::Failing:
			// The lists keep what they show; this says why they no longer change.
			text = last.isValid() ? tr("Tiplark nie odpowiada, ponawiam próby. Ostatnia odpowiedź o %1.")
							.arg(last.toString(QStringLiteral("HH:mm:ss")))
					      : tr("Tiplark nie odpowiada, ponawiam próby.");
			break;
		case ServicePoller::Health::Refused:
			switch (health.refusedStatus) {
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
					       .arg(health.refusedStatus);
				break;
			}
			text += QLatin1Char(' ') + tr("Listy mogą być nieaktualne.");
			break;
		}
	}
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

void TiplarkDock::showUpdateOffer()
{
	// Once shown, the banner stays for the rest of the run; its text never changes.
	if (m_session && !m_session->updateUrl().isEmpty())
		m_updateBanner->setVisible(true);
}

void TiplarkDock::onUpdateClicked()
{
	// The session offers only an address that is safe to open.
	if (m_session && !m_session->updateUrl().isEmpty())
		QDesktopServices::openUrl(QUrl(m_session->updateUrl(), QUrl::StrictMode));
}
