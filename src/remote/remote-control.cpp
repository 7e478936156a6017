#include "remote-control.h"

#include <QMutexLocker>

#include <algorithm>

RemoteControl::RemoteControl(QObject *parent) : QObject(parent) {}

RemoteState RemoteControl::state() const
{
	QMutexLocker lock(&m_mutex);
	return m_shared;
}

QString RemoteControl::refusal(const RemoteState &state)
{
	return state.signedIn ? QString() : QStringLiteral("not signed in");
}

QString RemoteControl::moderationRefusal(const RemoteState &state, const QString &messageId)
{
	if (!state.signedIn)
		return refusal(state);
	const bool shown = std::any_of(state.pending.cbegin(), state.pending.cend(),
				       [&](const DonationMessage &message) { return message.id == messageId; });
	return shown ? QString() : QStringLiteral("no pending message with this messageId");
}

void RemoteControl::setSignedIn(bool signedIn, const QString &userName)
{
	if (signedIn && !m_state.signedIn) {
		m_pendingBaseline = true;
		m_donationsBaseline = true;
	}
	m_state.signedIn = signedIn;
	m_state.userName = signedIn ? userName : QString();
	if (!signedIn) {
		m_state.moderationEnabled.reset();
		m_state.pending.clear();
	}
	publish();
}

void RemoteControl::setModerationEnabled(std::optional<bool> enabled)
{
	const bool changed = enabled && m_state.moderationEnabled != enabled;
	m_state.moderationEnabled = enabled;
	publish();
	if (changed)
		emit moderationChanged(*enabled);
}

void RemoteControl::setServiceAnswering(bool answering)
{
	m_state.serviceAnswering = answering;
	publish();
}

QList<DonationMessage> RemoteControl::arrivals(QSet<QString> &known, const QList<DonationMessage> &records,
					       bool baseline)
{
	QList<DonationMessage> arrived;
	for (const DonationMessage &record : records) {
		if (known.contains(record.id))
			continue;
		known.insert(record.id);
		if (!baseline)
			arrived << record;
	}
	return arrived;
}

void RemoteControl::showPending(const QList<DonationMessage> &shown)
{
	m_state.pending = shown;
	const QList<DonationMessage> arrived = arrivals(m_knownPending, shown, m_pendingBaseline);
	m_pendingBaseline = false;
	publish();
	for (const DonationMessage &message : arrived)
		emit pendingMessageAdded(message);
	if (!arrived.isEmpty())
		emit newPendingMessages();
}

void RemoteControl::showDonations(const QList<DonationMessage> &donations)
{
	const QList<DonationMessage> arrived = arrivals(m_knownDonations, donations, m_donationsBaseline);
	m_donationsBaseline = false;
	bool counted = false;
	for (const DonationMessage &donation : arrived)
		counted = m_totals.add(donation) || counted;
	if (counted) {
		m_state.sessionTotals = m_totals.totals();
		publish();
	}
	for (const DonationMessage &donation : arrived)
		emit donationAdded(donation);
	if (counted)
		emit totalsChanged(m_totals.summary());
}

void RemoteControl::finishAction(const QString &action, bool ok, const QString &error)
{
	emit actionFinished(action, ok, error);
}

QString RemoteControl::skipAlert()
{
	const QString refused = refusal(m_state);
	if (refused.isEmpty())
		emit skipRequested();
	return refused;
}

QString RemoteControl::moderate(const QString &messageId, bool accept)
{
	const QString refused = moderationRefusal(m_state, messageId);
	if (refused.isEmpty())
		emit moderateRequested(messageId, accept);
	return refused;
}

QString RemoteControl::moderateFirst(bool accept)
{
	if (!m_state.signedIn)
		return refusal(m_state);
	if (m_state.pending.isEmpty())
		return QStringLiteral("nothing pending");
	return moderate(m_state.pending.first().id, accept);
}

QString RemoteControl::setModeration(bool enabled)
{
	const QString refused = refusal(m_state);
	if (refused.isEmpty())
		emit moderationRequested(enabled);
	return refused;
}

void RemoteControl::publish()
{
	QMutexLocker lock(&m_mutex);
	m_shared = m_state;
}
