// Loads arbitrary bytes as the token file, as the plug-in does at start. Whatever it takes from the
// file must survive its own save and a second load unchanged.
#include "auth/token-store.h"
#include "obs-host-stand-in.h"

#include "fuzz-support.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {
QTemporaryDir *g_configDir;

bool sameExpiry(const QDateTime &loaded, const QDateTime &reloaded)
{
	if (loaded.isValid() != reloaded.isValid())
		return false;
	// The file keeps whole seconds.
	return !loaded.isValid() || qAbs(loaded.msecsTo(reloaded)) < 1000;
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
	base_set_log_handler(formatAndDrop, nullptr);
	// The save syncs the file to disk: in memory, where that costs nothing, when the machine has it.
	const QString base = QFileInfo(QStringLiteral("/dev/shm")).isWritable() ? QStringLiteral("/dev/shm")
										: QDir::tempPath();
	g_configDir = new QTemporaryDir(base + QStringLiteral("/fuzz-token-file-XXXXXX"));
	ObsHostStandIn::setConfigDir(g_configDir->path());
	// libFuzzer ends with exit(): the folder goes with it.
	std::atexit([] { delete g_configDir; });
	return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	TokenStore store;
	{
		QFile file(store.getConfigPath());
		check(file.open(QIODevice::WriteOnly | QIODevice::Truncate), "cannot write the token file");
		file.write(reinterpret_cast<const char *>(data), static_cast<qint64>(size));
	}
	store.load();
	if (store.accessToken().isEmpty() && store.refreshToken().isEmpty() && !store.tokenExpiresAt().isValid())
		return 0;

	store.save();
	TokenStore reloaded;
	reloaded.load();
	check(reloaded.accessToken() == store.accessToken(), "access token changed by save and load");
	check(reloaded.refreshToken() == store.refreshToken(), "refresh token changed by save and load");
	check(sameExpiry(store.tokenExpiresAt(), reloaded.tokenExpiresAt()), "expiry changed by save and load");
	check(reloaded.oauthOrigin() == store.oauthOrigin(), "origin changed by save and load");
	check(reloaded.apiOrigin() == store.apiOrigin(), "API origin changed by save and load");
	return 0;
}
