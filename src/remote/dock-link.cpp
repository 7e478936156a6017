#include "dock-link.h"

#include "dock-state.h"
#include "donation-pane.h"
#include "new-message-chime.h"
#include "remote/remote-control.h"
#include "remote/websocket-vendor.h"
#include "tiplark-dock.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QLabel>

namespace {
void addBelow(QWidget *pane, QWidget *widget)
{
	if (auto *layout = qobject_cast<QBoxLayout *>(pane->layout()))
		layout->addWidget(widget);
}
} // namespace

DockLink::DockLink(TiplarkDock *dock, RemoteControl *control, NewMessageChime *chime, WebsocketVendor *vendor)
	: QObject(dock),
	  m_dock(dock),
	  m_control(control)
{
	const DockState *state = dock->state();
	connect(state, &DockState::signedInChanged, this, &DockLink::showState);
	connect(state, &DockState::userNameChanged, this, &DockLink::showState);
	connect(state, &DockState::moderationChanged, this, &DockLink::showState);
	connect(state, &DockState::serviceAnsweringChanged, this, &DockLink::showState);
	connect(state, &DockState::pendingChanged, this, [this, state] { m_control->showPending(state->pending()); });
	connect(state, &DockState::donationsChanged, this,
		[this, state] { m_control->showDonations(state->donations()); });
	showState();
	// A list the dock already shows is what was waiting before anyone looked: it sets what counts as new.
	// An empty one has not been answered yet.
	if (!state->pending().isEmpty())
		m_control->showPending(state->pending());
	if (!state->donations().isEmpty())
		m_control->showDonations(state->donations());

	connect(control, &RemoteControl::skipRequested, this, [this] {
		start(ApiClient::Action::Skip, QString(), QStringLiteral("SkipAlert"), m_dock->skipAlert());
	});
	connect(control, &RemoteControl::moderateRequested, this, [this](const QString &id, bool accept) {
		start(ApiClient::Action::Decision, id, QStringLiteral("ModerateMessage"), m_dock->decide(id, accept));
	});
	connect(control, &RemoteControl::moderationRequested, this, [this](bool enabled) {
		start(ApiClient::Action::ModerationSwitch, enabled ? QStringLiteral("on") : QStringLiteral("off"),
		      QStringLiteral("SetModeration"), m_dock->setModeration(enabled));
	});
	connect(dock, &TiplarkDock::actionFinished, this, &DockLink::onActionFinished);

	auto *totals = new QLabel(control->totalsSummary());
	totals->setObjectName(QStringLiteral("sessionTotals"));
	addBelow(dock->donationsPane(), totals);
	connect(control, &RemoteControl::totalsChanged, totals, &QLabel::setText);

	auto *chimeBox = new QCheckBox(tr("Dźwięk przy nowej wiadomości"));
	chimeBox->setChecked(chime->isEnabled());
	addBelow(dock->pendingPane(), chimeBox);
	connect(chimeBox, &QCheckBox::toggled, chime, &NewMessageChime::setEnabled);

	auto *vendorBox = new QCheckBox(tr("Zdalne sterowanie przez obs-websocket"));
	vendorBox->setObjectName(QStringLiteral("websocketVendorSwitch"));
	vendorBox->setToolTip(tr("Klienci obs-websocket (np. Stream Deck, skrypty) widzą wiadomości, także te "
				 "czekające na moderację, i mogą pomijać alerty oraz moderować."));
	vendorBox->setChecked(vendor->isEnabled());
	addBelow(dock->pendingPane(), vendorBox);
	connect(vendorBox, &QCheckBox::toggled, vendor, &WebsocketVendor::setEnabled);
}

void DockLink::showState()
{
	const DockState *state = m_dock->state();
	m_control->setSignedIn(state->signedIn(), state->userName());
	switch (state->moderation()) {
	case DockState::Moderation::Unknown:
		m_control->setModerationEnabled(std::nullopt);
		break;
	case DockState::Moderation::On:
		m_control->setModerationEnabled(true);
		break;
	case DockState::Moderation::Off:
		m_control->setModerationEnabled(false);
		break;
	}
	m_control->setServiceAnswering(state->serviceAnswering());
}

void DockLink::start(ApiClient::Action action, const QString &subject, const QString &name, bool started)
{
	if (started)
		m_remoteActions.insert({int(action), subject}, name);
	else
		m_control->finishAction(name, false,
					QStringLiteral("not possible now: the same action awaits its answer"));
}

void DockLink::onActionFinished(ApiClient::Action action, const QString &subject, bool succeeded)
{
	const QString name = m_remoteActions.take({int(action), subject});
	if (!name.isEmpty())
		m_control->finishAction(name, succeeded,
					succeeded ? QString() : QStringLiteral("the service call failed"));
}
