#pragma once

#include <QString>

// Tests run without a running OBS. These stand in for the two host calls that need one: the module
// handle and the module's configuration directory (by default a fresh temporary folder per process).
namespace ObsHostStandIn {
// Folder that obs_module_get_config_path() resolves into; an empty text makes it return null.
void setConfigDir(const QString &dir);
QString configDir();
// Puts the whole user configuration (the settings store and the module's folder, as OBS lays it out)
// below home, so that a test or benchmark never touches the user's own files. Before QApplication.
void useConfigHome(const QString &home);
// What obs_get_version_string() returns; a null text makes it return a null pointer.
void setVersionString(const char *version);
} // namespace ObsHostStandIn
