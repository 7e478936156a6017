#include "obs-host-stand-in.h"

#include <obs-module.h>

#include <QByteArray>
#include <QDir>

namespace {
QString g_configDir;
const char *g_versionString = "29.0.2-test";
// Any non-null handle will do: it is only handed back to the stand-in below.
int g_moduleTag;
} // namespace

void ObsHostStandIn::setConfigDir(const QString &dir)
{
	g_configDir = dir;
}

QString ObsHostStandIn::configDir()
{
	return g_configDir;
}

void ObsHostStandIn::useConfigHome(const QString &home)
{
	const QDir config(QDir(home).filePath(QStringLiteral("config")));
	qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
	setConfigDir(config.filePath(QStringLiteral("obs-studio/plugin_config/tiplark-obs-plugin")));
}

void ObsHostStandIn::setVersionString(const char *version)
{
	g_versionString = version;
}

extern "C" {

obs_module_t *obs_current_module(void)
{
	return reinterpret_cast<obs_module_t *>(&g_moduleTag);
}

// These definitions in the test executable take precedence over libobs's own.
char *obs_module_get_config_path(obs_module_t *module, const char *file)
{
	if (!module || g_configDir.isEmpty())
		return nullptr;
	const QByteArray path = QDir(g_configDir).filePath(QString::fromUtf8(file)).toUtf8();
	return bstrdup(path.constData());
}

const char *obs_get_version_string(void)
{
	return g_versionString;
}
}
