#include "donation-script.h"

#include "api-state.h"
#include "sandbox-server.h"

#include <chrono>

namespace Sandbox {

DonationScript::DonationScript(Server &server, int intervalMs)
{
	m_thread = std::thread([this, &server, intervalMs] {
		std::unique_lock<std::mutex> lock(m_mutex);
		while (!m_wake.wait_for(lock, std::chrono::milliseconds(intervalMs), [this] { return m_stopping; }))
			ApiState::receiveDonation(server.state());
	});
}

DonationScript::~DonationScript()
{
	{
		std::lock_guard<std::mutex> lock(m_mutex);
		m_stopping = true;
	}
	m_wake.notify_all();
	m_thread.join();
}

} // namespace Sandbox
