#pragma once

#include <util/base.h>

#ifdef __cplusplus
extern "C" {
#endif

extern const char *PLUGIN_NAME;
extern const char *PLUGIN_VERSION;

// printf-style; every line is prefixed with "[PLUGIN_NAME] ". Callable from any thread.
void obs_log(int log_level, const char *format, ...);

#ifdef __cplusplus
}
#endif
