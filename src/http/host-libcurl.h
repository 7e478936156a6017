#pragma once

#include <curl/curl.h>

#include <QString>
#include <QStringList>

#include <optional>

// The libcurl functions the transport calls, taken at run time from the host's libcurl. Every OBS on Linux
// links a libcurl itself, either OpenSSL's flavour, libcurl.so.4 (Fedora, Arch, OBS's Flatpak and its own
// builds), or GnuTLS's, libcurl-gnutls.so.4 (Debian's and Ubuntu's packages): same ABI, other names. The
// module names neither, so it loads wherever OBS does, and takes the one OBS has loaded already, so no
// second TLS stack comes into OBS's memory.
struct HostLibcurl {
	// clang-format off
#define TIPLARK_LIBCURL_FUNCTIONS(X)                                                                   \
	X(global_init) X(global_cleanup) X(version_info)                                                \
	X(easy_init) X(easy_setopt) X(easy_getinfo) X(easy_strerror) X(easy_cleanup)                    \
	X(multi_init) X(multi_setopt) X(multi_add_handle) X(multi_perform) X(multi_poll)                \
	X(multi_info_read) X(multi_remove_handle) X(multi_cleanup)                                      \
	X(share_init) X(share_setopt) X(share_cleanup) X(slist_append) X(slist_free_all)
	// clang-format on
	// Each member is the function of the same name with "curl_" before it (curl_easy_init: easy_init).
#define TIPLARK_LIBCURL_MEMBER(name) decltype(&::curl_##name) name = nullptr;
	TIPLARK_LIBCURL_FUNCTIONS(TIPLARK_LIBCURL_MEMBER)
#undef TIPLARK_LIBCURL_MEMBER

	// The soname taken, and what the library says of itself ("libcurl 8.14.1, GnuTLS/3.8.9").
	QString library;
	QString version;

	// Where OBS finds neither, the plug-in reaches nothing; it says so, with what to install.
	static const QStringList SONAMES;

	// From the first of sonames that the process has loaded already, else the first that loads and has
	// every function; none when none does. Says in OBS's log which it took, or why none. The library
	// stays loaded for the rest of the process: a lookup thread that an aborted transfer left behind may
	// still run in it after the module unloads.
	static std::optional<HostLibcurl> resolve(const QStringList &sonames);
	// The process's one, resolved from SONAMES at the first call (module load); null where the system
	// has none.
	static const HostLibcurl *host();
};
