#include "http/host-libcurl.h"

#include "plugin-support.h"

#include <dlfcn.h>

const QStringList HostLibcurl::SONAMES = {QStringLiteral("libcurl.so.4"), QStringLiteral("libcurl-gnutls.so.4")};

namespace {
// Fills every function from handle; the name of the first one missing, or an empty text.
QByteArray take(void *handle, HostLibcurl &libcurl)
{
#define TIPLARK_LIBCURL_TAKE(name)                                                             \
	libcurl.name = reinterpret_cast<decltype(libcurl.name)>(dlsym(handle, "curl_" #name)); \
	if (!libcurl.name)                                                                     \
		return QByteArrayLiteral("curl_" #name);
	TIPLARK_LIBCURL_FUNCTIONS(TIPLARK_LIBCURL_TAKE)
#undef TIPLARK_LIBCURL_TAKE
	return QByteArray();
}
} // namespace

std::optional<HostLibcurl> HostLibcurl::resolve(const QStringList &sonames)
{
	// OBS's own first: a library it has loaded costs nothing more and is the TLS stack it uses itself.
	for (const bool loadedAlready : {true, false}) {
		for (const QString &soname : sonames) {
			const QByteArray name = soname.toUtf8();
			void *handle =
				dlopen(name.constData(), RTLD_NOW | RTLD_LOCAL | (loadedAlready ? RTLD_NOLOAD : 0));
			if (!handle)
				continue;
			HostLibcurl libcurl;
			const QByteArray missing = take(handle, libcurl);
			if (!missing.isEmpty()) {
				obs_log(LOG_WARNING, "Tiplark HTTP: %s has no %s; not used", name.constData(),
					missing.constData());
				continue;
			}
			const curl_version_info_data *info = libcurl.version_info(CURLVERSION_NOW);
			libcurl.library = soname;
			libcurl.version = QStringLiteral("libcurl %1, %2")
						  .arg(QString::fromUtf8(info ? info->version : "?"),
						       QString::fromUtf8(info && info->ssl_version ? info->ssl_version
												   : "no TLS"));
			obs_log(LOG_INFO, "Tiplark HTTP: Using %s (%s), %s", name.constData(),
				libcurl.version.toUtf8().constData(),
				loadedAlready ? "loaded by OBS already" : "loaded from the system");
			return libcurl;
		}
	}
	obs_log(LOG_ERROR,
		"Tiplark HTTP: No libcurl found (%s): Tiplark cannot be reached until one is installed "
		"(libcurl4 or libcurl3-gnutls on Debian and Ubuntu, libcurl on Fedora, curl on Arch)",
		sonames.join(QStringLiteral(", ")).toUtf8().constData());
	return std::nullopt;
}

const HostLibcurl *HostLibcurl::host()
{
	static const std::optional<HostLibcurl> libcurl = resolve(SONAMES);
	return libcurl ? &*libcurl : nullptr;
}
