#pragma once

#include <cstdarg>
#include <cstdio>

// A libobs log handler that does what OBS does with a line, format it, and leaves out writing it to a
// log file, so that the figures include the plug-in's logging but not a terminal's.
inline void formatAndDrop(int, const char *format, va_list args, void *)
{
	char buffer[4096];
	vsnprintf(buffer, sizeof(buffer), format, args);
}
