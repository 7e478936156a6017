#pragma once

#include "api/donation-model.h"

#include <QList>
#include <QObject>
#include <QString>

// What the dock shows, in one place, for whatever else wants to read it or follow it (a hotkey, a remote
// control): whether the streamer is signed in and as whom, the moderation state, whether the service
// answers, and the two lists as shown, in the service's order. The dock writes it; readers only read.
class DockState : public QObject {
	Q_OBJECT

public:
	enum class Moderation { Unknown, On, Off };
	Q_ENUM(Moderation)

	using QObject::QObject;

	bool signedIn() const { return m_signedIn; }
	// Empty until the service has named the streamer.
	QString userName() const { return m_userName; }
	Moderation moderation() const { return m_moderation; }
	// False while a read fails, hangs or is refused.
	bool serviceAnswering() const { return m_serviceAnswering; }
	// The rows shown, top first; the service may hold more (its count in pendingTotal, donationsTotal).
	QList<DonationMessage> pending() const { return m_pending; }
	QList<DonationMessage> donations() const { return m_donations; }
	int pendingTotal() const { return m_pendingTotal; }
	int donationsTotal() const { return m_donationsTotal; }

	void setSignedIn(bool signedIn);
	void setUserName(const QString &name);
	void setModeration(Moderation moderation);
	void setServiceAnswering(bool answering);
	void setPending(const QList<DonationMessage> &records, int total);
	void setDonations(const QList<DonationMessage> &records, int total);

signals:
	void signedInChanged(bool signedIn);
	void userNameChanged(const QString &name);
	void moderationChanged(DockState::Moderation moderation);
	void serviceAnsweringChanged(bool answering);
	// The list shown changed (rows, their order or their texts).
	void pendingChanged();
	void donationsChanged();

private:
	bool m_signedIn = false;
	QString m_userName;
	Moderation m_moderation = Moderation::Unknown;
	bool m_serviceAnswering = true;
	QList<DonationMessage> m_pending;
	QList<DonationMessage> m_donations;
	int m_pendingTotal = 0;
	int m_donationsTotal = 0;
};
