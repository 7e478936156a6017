#pragma once

#include "api/api-client.h"

#include <QDateTime>
#include <QObject>

#include <array>
#include <bitset>

class QTimer;

// Asks the service, every few seconds, for what the dock shows: one request of each kind at a time, only
// the reads that are wanted, and sums up how the service answers. Answers of an earlier session never
// arrive (the client drops them once start or stop ended it).
class ServicePoller : public QObject {
	Q_OBJECT

public:
	static constexpr int INTERVAL_MS = 5000;
	// Ticks a read may stay unanswered before the service counts as not answering; one may pass, as a
	// read can be sent just before a tick (the pending list, after a decision).
	static constexpr int HANGING_TICKS = 2;

	// client is not owned.
	explicit ServicePoller(ApiClient *client, QObject *parent = nullptr);

	// A new session: answers to earlier requests are dropped; the wanted reads go out now and every tick.
	void start();
	// Ends the session; no answer to a request sent before reaches anyone.
	void stop();
	bool isActive() const;

	// Which reads the ticks send. The moderation status and the donations are wanted from the start.
	void setWanted(ApiClient::Read read, bool wanted);
	bool isWanted(ApiClient::Read read) const { return m_wanted.test(size_t(read)); }

	// One tick: each wanted read whose last request was answered is asked again.
	void tick();
	// Asks for the read now, unless its last request is still unanswered.
	void ask(ApiClient::Read read);

	// How the service answers the wanted reads.
	enum class Health { Answering, Failing, Refused };
	Health health() const;
	// The HTTP status of the latest refusal while Refused.
	int refusedStatus() const { return m_refusedStatus; }
	// When a read was last answered as it should be; invalid before the first one.
	QDateTime lastGoodAnswer() const { return m_lastGoodAnswer; }

signals:
	void healthChanged();
	// A tick begins; a receiver may stop the poller, and then nothing is asked.
	void ticking();

private:
	void poll(ApiClient::Read read);
	void setFailing(ApiClient::Read read, bool failing);
	void onRefused(ApiClient::Read read, int status);

	ApiClient *m_client;
	QTimer *m_timer;
	std::bitset<4> m_wanted;
	std::bitset<4> m_failing;
	std::bitset<4> m_refused;
	// A 401 is mended by the token refresh; only a second one in a row counts as a refusal.
	std::bitset<4> m_unauthorized;
	int m_refusedStatus = 0;
	std::array<int, 4> m_ticksUnanswered{};
	QDateTime m_lastGoodAnswer;
};
