#include "dock-placement.h"
#include "log-capture.h"
#include "plugin-support.h"
#include "settle.h"
#include "sandbox-server.h"
#include "sandbox-sign-in.h"
#include "test-main.h"
#include "streamer-session.h"
#include "tiplark-dock.h"
#include "tiplark-settings.h"

#include <QDockWidget>
#include <QMainWindow>

// The placement store of OBS 29, where the plug-in hosts and places its dock itself.
class TestDockPlacement : public QObject {
	Q_OBJECT

	Sandbox::Server m_sandbox;

private slots:
	void initTestCase() { QVERIFY(startWithoutNewerVersion(m_sandbox)); }
	void init() { openTiplarkSettings()->clear(); }

	void placementRestore_data()
	{
		QTest::addColumn<QVariantMap>("stored");
		QTest::addColumn<bool>("visible");
		QTest::addColumn<int>("area");
		QTest::addColumn<bool>("floating");
		QTest::newRow("empty store") << QVariantMap() << true << int(Qt::LeftDockWidgetArea) << false;
		QTest::newRow("hidden")
			<< QVariantMap{{"DockVisible", false}} << false << int(Qt::LeftDockWidgetArea) << false;
		QTest::newRow("area 2")
			<< QVariantMap{{"DockArea", 2}} << true << int(Qt::RightDockWidgetArea) << false;
		QTest::newRow("area 0 ignored")
			<< QVariantMap{{"DockArea", 0}} << true << int(Qt::LeftDockWidgetArea) << false;
		QTest::newRow("floating") << QVariantMap{{"DockFloating", true}, {"DockArea", 8}} << true
					  << int(Qt::BottomDockWidgetArea) << true;
	}

	void placementRestore()
	{
		QFETCH(QVariantMap, stored);
		QFETCH(bool, visible);
		QFETCH(int, area);
		QFETCH(bool, floating);
		{
			auto settings = openTiplarkSettings();
			for (auto it = stored.cbegin(); it != stored.cend(); ++it)
				settings->setValue(it.key(), it.value());
		}

		StreamerSession session(sandboxAddresses(m_sandbox));
		session.start();
		QMainWindow window;
		window.setCentralWidget(new QWidget);
		auto *host = new QDockWidget("Tiplark", &window);
		auto *panel = new TiplarkDock(&session, nullptr, nullptr, &window);
		host->setWidget(panel);
		window.addDockWidget(Qt::LeftDockWidgetArea, host);
		window.show();

		QVERIFY(settleBackgroundRequests()); // the dock's update check logs too
		LogCapture log;
		QCOMPARE(restoreDockPlacement(&window, panel), host);
		QCOMPARE(host->isVisible(), visible);
		QCOMPARE(int(window.dockWidgetArea(host)), area);
		QCOMPARE(host->isFloating(), floating);
		QCOMPARE(log.texts(LOG_INFO),
			 QStringList(QStringLiteral("[tiplark-obs-plugin] Tiplark dock created, visible: ") +
				     (visible ? "true" : "false")));
	}

	void placementSaveReportsStateAtExit()
	{
		StreamerSession session(sandboxAddresses(m_sandbox));
		session.start();
		QMainWindow window;
		window.setCentralWidget(new QWidget);
		auto *host = new QDockWidget("Tiplark", &window);
		host->setWidget(new TiplarkDock(&session, nullptr, nullptr, &window));
		window.addDockWidget(Qt::RightDockWidgetArea, host);
		window.show();
		host->setFloating(true);

		QVERIFY(settleBackgroundRequests());
		LogCapture log;
		saveDockPlacement(&window, host);
		QCOMPARE(log.texts(LOG_INFO),
			 QStringList("[tiplark-obs-plugin] Tiplark dock saved: visible=true, area=2, floating=true"));
		auto settings = openTiplarkSettings();
		QCOMPARE(settings->value("DockVisible").toBool(), true);
		QCOMPARE(settings->value("DockFloating").toBool(), true);
		QCOMPARE(settings->value("DockArea").toInt(), 2);
		QVERIFY(!settings->value("DockGeometry").toByteArray().isEmpty());
	}

	void panelOutsideADockWidgetStillLogs()
	{
		openTiplarkSettings()->setValue("DockVisible", false);
		StreamerSession session(sandboxAddresses(m_sandbox));
		session.start();
		QMainWindow window;
		auto *panel = new TiplarkDock(&session, nullptr, nullptr, &window);
		QVERIFY(settleBackgroundRequests());
		LogCapture log;
		QCOMPARE(restoreDockPlacement(&window, panel), nullptr);
		QCOMPARE(log.texts(), QStringList("[tiplark-obs-plugin] Tiplark dock created, visible: false"));
	}
};

TIPLARK_TEST_MAIN(TestDockPlacement)
#include "test-dock-placement.moc"
