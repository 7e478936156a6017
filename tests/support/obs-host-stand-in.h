#pragma once

#include <QString>

// Tests run without a running OBS. These stand in for the two host calls that need one: the module
// handle and the module's configuration directory (by default a fresh temporary folder per process).
namespace ObsHostStandIn {
// Folder that obs_module_get_config_path() resolves into; an empty text makes it return null.
void setConfigDir(const QString &dir);
QString configDir();
// What obs_get_version_string() returns; a null text makes it return a null pointer.
void setVersionString(const char *version);
} // namespace ObsHostStandIn
