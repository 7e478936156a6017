#pragma once

#include "http/host-libcurl.h"

#include <mutex>
#include <vector>

// Connections, TLS sessions and name lookups kept between requests, so that a polling dock does not
// open a connection and make a TLS handshake for every call. libcurl does not support one connection
// cache used by several threads at the same time, so the cache is a set of libcurl shares, each lent
// to one request at a time: a request that finds none free gets a new one, so there are never more
// shares (and rarely more idle connections) than requests that ran at once.
//
// The Transport owns the one the requests use, from after curl_global_init until no request runs.
class ConnectionCache {
public:
	explicit ConnectionCache(const HostLibcurl &libcurl) : m_libcurl(libcurl) {}
	~ConnectionCache();
	ConnectionCache(const ConnectionCache &) = delete;
	ConnectionCache &operator=(const ConnectionCache &) = delete;

	// A share for one request's easy handle, from any thread; null when libcurl cannot make one. Give it
	// back once the easy handle is cleaned up.
	CURLSH *lend();
	void giveBack(CURLSH *share);

private:
	const HostLibcurl &m_libcurl;
	// Guards m_idle; requests lend and give back from any worker thread.
	std::mutex m_mutex;
	std::vector<CURLSH *> m_idle; // the share given back last is lent first: its connection is warmest
};
