#pragma once

// What the fuzz targets share: a quiet log, a check that stops the run, and a sink for results.
#include <util/base.h>

#include <cerrno>
#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstdlib>

// Formats each line as OBS's own handler does, then drops it: the format path runs, the output stays quiet.
inline void formatAndDrop(int, const char *format, va_list args, void *)
{
	char buffer[4096];
	vsnprintf(buffer, sizeof(buffer), format, args);
}

// A broken property stops the run; libFuzzer keeps the input that broke it.
inline void check(bool condition, const char *what)
{
	if (!condition) {
		fprintf(stderr, "%s: %s\n", program_invocation_short_name, what);
		abort();
	}
}

// Keeps the results alive so that nothing is optimised away.
inline volatile size_t g_sink;
