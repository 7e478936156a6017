#pragma once

#include "http/transport.h"
#include "obs-host-stand-in.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QTest>

#include <optional>

// The test process's transport, made as the module makes it at load; a test may replace it for a while.
inline std::optional<Transport> &testTransport()
{
	static std::optional<Transport> transport;
	return transport;
}

// Like QTEST_MAIN, but every test process gets its own settings store and module config folder,
// so tests never touch the user's own files and can run side by side, and a transport for its requests,
// as the module makes at load.
#define TIPLARK_TEST_MAIN(TestClass)                              \
	int main(int argc, char **argv)                           \
	{                                                         \
		QTemporaryDir home;                               \
		ObsHostStandIn::useConfigHome(home.path());       \
		QApplication app(argc, argv);                     \
		testTransport().emplace();                        \
		int status;                                       \
		{                                                 \
			TestClass test;                           \
			QTEST_SET_MAIN_SOURCE_PATH                \
			status = QTest::qExec(&test, argc, argv); \
		}                                                 \
		testTransport().reset();                          \
		return status;                                    \
	}
