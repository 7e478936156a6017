#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>

namespace Sandbox {
class Server;

// For the demo: a new made-up donation arrives every intervalMs (into the pending queue while moderation
// is on) until the script is destroyed.
class DonationScript {
public:
	DonationScript(Server &server, int intervalMs);
	~DonationScript();
	DonationScript(const DonationScript &) = delete;
	DonationScript &operator=(const DonationScript &) = delete;

private:
	std::mutex m_mutex;
	std::condition_variable m_wake;
	bool m_stopping = false;
	std::thread m_thread;
};
} // namespace Sandbox
