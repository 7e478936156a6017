// Feeds arbitrary bodies as the answer of the update check, and compares the version they publish with
// the running one and with itself: the comparison must be a strict order whatever the texts.
#include "api/update-info.h"

#include "fuzz-support.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
	base_set_log_handler(formatAndDrop, nullptr);
	return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
	const QByteArray body(reinterpret_cast<const char *>(data), static_cast<int>(size));
	const UpdateInfo info = UpdateInfo::fromJson(body);
	size_t sink = 0;
	for (UpdatePlatform platform :
	     {UpdatePlatform::Windows, UpdatePlatform::MacOS, UpdatePlatform::Linux, UpdatePlatform::Other})
		sink += info.downloadUrlFor(platform).size();

	// The body's last line stands for a second published version.
	const QString other = QString::fromUtf8(body.mid(body.lastIndexOf('\n') + 1));
	for (const QString &running : {QStringLiteral("1.0.0"), QStringLiteral("0.9"), other}) {
		const bool newer = isNewerVersion(info.version, running);
		check(!(newer && isNewerVersion(running, info.version)), "two versions each newer than the other");
		sink += newer ? 1 : 0;
	}
	check(!isNewerVersion(info.version, info.version), "a version newer than itself");

	g_sink = g_sink + sink;
	return 0;
}
