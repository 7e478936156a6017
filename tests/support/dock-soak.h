#pragma once

#include <QString>

#include <memory>

class StreamerSession;
class TiplarkDock;
namespace Sandbox {
class Server;
}

// Long runs of the dock against the in-process sandbox, for the soak test and the memory benchmark:
// a signed-in dock polling a 100-row donation list and a 20-row pending list, with moderation switched
// on and off and pending rows accepted or rejected along the way. Each tick is one poll, settled.
class DockSoak {
public:
	static constexpr int DONATION_ROWS = 100;
	static constexpr int PENDING_ROWS = 20;

	// The sandbox must be listening on the build's configured port. Creates the dock, signed in.
	explicit DockSoak(Sandbox::Server &sandbox);
	~DockSoak();

	// One poll and, every so often, a moderation switch or a moderated row; false when the requests
	// did not settle.
	bool tick();
	int ticks() const { return m_ticks; }
	TiplarkDock *dock() const { return m_dock.get(); }
	StreamerSession *session() const { return m_session.get(); }

	// Rows now in the dock's lists (of the donations, as many as a list shows).
	int donationRows() const;
	int pendingRows() const;
	// Objects parented somewhere under the dock or the session.
	int dockDescendants() const;

private:
	void restoreLists();

	Sandbox::Server &m_sandbox;
	std::unique_ptr<StreamerSession> m_session;
	std::unique_ptr<TiplarkDock> m_dock;
	int m_ticks = 0;
};

// Counts live QObjects, process-wide, from install() on (Qt's own object hooks; tests only).
namespace QObjectCounter {
void install();
long live();
} // namespace QObjectCounter

// Resident set size of this process in KiB (from /proc/self/statm).
long residentKiB();
// Bytes handed out by malloc and not freed yet, in KiB (glibc's count; 0 under a sanitizer's allocator).
long heapInUseKiB();

// Gives the whole application the style sheet in the file, as OBS gives it its theme; false when the
// file cannot be read.
bool applyStyleSheet(const QString &path);

// Lets the event loop run what is due, deferred deletions included, as the host's loop would.
void processDueEvents();
