#pragma once

#include "http/transport.h"
#include "obs-host-stand-in.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QTest>

// Like QTEST_MAIN, but every test process gets its own settings store and module config folder,
// so tests never touch the user's own files and can run side by side, and a transport for its requests,
// as the module makes at load.
#define TIPLARK_TEST_MAIN(TestClass)                        \
	int main(int argc, char **argv)                     \
	{                                                   \
		QTemporaryDir home;                         \
		ObsHostStandIn::useConfigHome(home.path()); \
		QApplication app(argc, argv);               \
		Transport transport;                        \
		TestClass test;                             \
		QTEST_SET_MAIN_SOURCE_PATH                  \
		return QTest::qExec(&test, argc, argv);     \
	}
