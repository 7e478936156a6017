#include "connection-cache.h"

#include <QtGlobal>

#include <mutex>

namespace {

// Guards g_cache and its idle shares; requests lend and give back from any worker thread.
std::mutex g_mutex;
ConnectionCache *g_cache = nullptr;

CURLSH *newShare()
{
	CURLSH *share = curl_share_init();
	if (!share)
		return nullptr;
	// No lock callbacks: a share is only ever in one request's hands, and g_mutex orders the hand-overs.
	curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_CONNECT);
	curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION);
	curl_share_setopt(share, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
	return share;
}

} // namespace

ConnectionCache::ConnectionCache()
{
	std::lock_guard<std::mutex> lock(g_mutex);
	Q_ASSERT(!g_cache);
	g_cache = this;
}

ConnectionCache::~ConnectionCache()
{
	std::lock_guard<std::mutex> lock(g_mutex);
	g_cache = nullptr;
	// Closes the cached connections too.
	for (CURLSH *share : m_idle)
		curl_share_cleanup(share);
}

CURLSH *ConnectionCache::lend()
{
	std::lock_guard<std::mutex> lock(g_mutex);
	if (!g_cache)
		return nullptr;
	if (g_cache->m_idle.empty())
		return newShare();
	CURLSH *share = g_cache->m_idle.back();
	g_cache->m_idle.pop_back();
	return share;
}

void ConnectionCache::giveBack(CURLSH *share)
{
	if (!share)
		return;
	std::lock_guard<std::mutex> lock(g_mutex);
	if (g_cache)
		g_cache->m_idle.push_back(share);
	else
		curl_share_cleanup(share);
}
