#pragma once

#include <curl/curl.h>

#include <vector>

// Connections, TLS sessions and name lookups kept between requests, so that a polling dock does not
// open a connection and make a TLS handshake for every call. libcurl does not support one connection
// cache used by several threads at the same time, so the cache is a set of libcurl shares, each lent
// to one request at a time: a request that finds none free gets a new one, so there are never more
// shares (and rarely more idle connections) than requests that ran at once.
//
// One exists from module load, after curl_global_init, to module unload, once no request runs. While
// none exists, every request connects afresh.
class ConnectionCache {
public:
	ConnectionCache();
	~ConnectionCache();
	ConnectionCache(const ConnectionCache &) = delete;
	ConnectionCache &operator=(const ConnectionCache &) = delete;

	// A share for one request's easy handle, or null when no cache exists. Give it back once the easy
	// handle is cleaned up.
	static CURLSH *lend();
	static void giveBack(CURLSH *share);

private:
	std::vector<CURLSH *> m_idle; // the share given back last is lent first: its connection is warmest
};
