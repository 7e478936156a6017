#include "connection-cache.h"

namespace {
CURLSH *newShare(const HostLibcurl &libcurl)
{
	CURLSH *share = libcurl.share_init();
	if (!share)
		return nullptr;
	// No lock callbacks: a share is only ever in one request's hands, and the cache's mutex orders the
	// hand-overs.
	libcurl.share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_CONNECT);
	libcurl.share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
	libcurl.share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
	return share;
}
} // namespace

ConnectionCache::~ConnectionCache()
{
	// Closes the cached connections too.
	for (CURLSH *share : m_idle)
		m_libcurl.share_cleanup(share);
}

CURLSH *ConnectionCache::lend()
{
	std::lock_guard<std::mutex> lock(m_mutex);
	if (m_idle.empty())
		return newShare(m_libcurl);
	CURLSH *share = m_idle.back();
	m_idle.pop_back();
	return share;
}

void ConnectionCache::giveBack(CURLSH *share)
{
	if (!share)
		return;
	std::lock_guard<std::mutex> lock(m_mutex);
	m_idle.push_back(share);
}
