#include "dock-state.h"

void DockState::setSignedIn(bool signedIn)
{
	if (m_signedIn == signedIn)
		return;
	m_signedIn = signedIn;
	emit signedInChanged(signedIn);
}

void DockState::setUserName(const QString &name)
{
	if (m_userName == name)
		return;
	m_userName = name;
	emit userNameChanged(name);
}

void DockState::setModeration(Moderation moderation)
{
	if (m_moderation == moderation)
		return;
	m_moderation = moderation;
	emit moderationChanged(moderation);
}

void DockState::setServiceAnswering(bool answering)
{
	if (m_serviceAnswering == answering)
		return;
	m_serviceAnswering = answering;
	emit serviceAnsweringChanged(answering);
}

void DockState::setPending(const QList<DonationMessage> &records, int total)
{
	m_pending = records;
	m_pendingTotal = total;
	emit pendingChanged();
}

void DockState::setDonations(const QList<DonationMessage> &records, int total)
{
	m_donations = records;
	m_donationsTotal = total;
	emit donationsChanged();
}
