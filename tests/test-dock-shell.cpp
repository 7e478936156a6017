#include "dock-placement.h"
#include "log-capture.h"
#include "plugin-support.h"
#include "settle.h"
#include "api-state.h"
#include "sandbox-server.h"
#include "sandbox-sign-in.h"
#include "test-main.h"
#include "tiplark-dock.h"
#include "tiplark-settings.h"

#include <QDockWidget>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QMainWindow>
#include <QPushButton>
#include <QSplitter>

namespace {
QPushButton *button(QWidget *root, const QString &text)
{
	for (auto *candidate : root->findChildren<QPushButton *>())
		if (candidate->text() == text)
			return candidate;
	return nullptr;
}

void clearSettings()
{
	openTiplarkSettings()->clear();
}
} // namespace

class TestDockShell : public QObject {
	Q_OBJECT

	// A dock sends its update check as soon as it exists; no newer version, so no banner changes the layout.
	Sandbox::Server m_sandbox;

private slots:
	void initTestCase()
	{
		m_sandbox.addResetHook([](Sandbox::State &state) {
			state.values.insert(Sandbox::ApiState::UPDATE, QVariantMap{{"version", "1.0.0"}});
		});
		QVERIFY(m_sandbox.start());
	}
	void init() { clearSettings(); }

	void lookAfterConstruction()
	{
		TiplarkDock dock(sandboxAddresses(m_sandbox));
		auto *status = dock.findChild<QLabel *>();
		QVERIFY(status);
		QStringList labels;
		for (auto *label : dock.findChildren<QLabel *>())
			labels << label->text();
		QVERIFY(labels.contains("Nie zalogowano"));
		// Empty lists say so rather than look broken.
		QVERIFY(labels.contains("Brak wiadomości czekających na moderację"));
		QVERIFY(labels.contains("Brak wpłat"));

		QVERIFY(!button(&dock, "Zaloguj")->isHidden());
		QVERIFY(button(&dock, "Wyloguj")->isHidden());
		for (const char *text : {"Włącz moderację", "Pomiń", "Wyłącz moderację"}) {
			QVERIFY2(button(&dock, text), text);
			QVERIFY2(!button(&dock, text)->isEnabled(), text);
			QVERIFY2(!button(&dock, text)->isHidden(), text);
		}
		QVERIFY(button(&dock, "Pobierz")->parentWidget()->isHidden());

		const auto groups = dock.findChildren<QGroupBox *>();
		QCOMPARE(groups.size(), 2);
		auto *splitter = dock.findChild<QSplitter *>();
		QCOMPARE(splitter->orientation(), Qt::Vertical);
		QVERIFY(!splitter->childrenCollapsible());
		QCOMPARE(qobject_cast<QGroupBox *>(splitter->widget(0))->title(),
			 QStringLiteral("Oczekujące na moderację"));
		QCOMPARE(qobject_cast<QGroupBox *>(splitter->widget(1))->title(), QStringLiteral("Ostatnie wpłaty"));
		for (auto *list : dock.findChildren<QListWidget *>()) {
			QCOMPARE(list->count(), 0);
			QVERIFY(list->alternatingRowColors());
		}
	}

	void firstRunSplitFollowsStretchFactors()
	{
		TiplarkDock dock(sandboxAddresses(m_sandbox));
		dock.resize(300, 700);
		dock.show();
		QVERIFY(QTest::qWaitForWindowExposed(&dock));
		const auto sizes = dock.findChild<QSplitter *>()->sizes();
		QCOMPARE(sizes.size(), 2);
		// The donations pane gets twice the pending pane's share of the spare height.
		QVERIFY2(sizes[1] > sizes[0], qPrintable(QString("%1 %2").arg(sizes[0]).arg(sizes[1])));
	}

	void splitterStateSurvivesRestart()
	{
		QList<int> wanted;
		{
			TiplarkDock dock(sandboxAddresses(m_sandbox));
			dock.resize(300, 700);
			dock.show();
			QVERIFY(QTest::qWaitForWindowExposed(&dock));
			auto *splitter = dock.findChild<QSplitter *>();
			const int total = splitter->sizes()[0] + splitter->sizes()[1];
			splitter->setSizes({total - 100, 100});
			wanted = splitter->sizes();
			dock.shutdown();
			dock.shutdown();
		}
		QVERIFY(openTiplarkSettings()->contains("SplitterState"));

		TiplarkDock again(sandboxAddresses(m_sandbox));
		again.resize(300, 700);
		again.show();
		QVERIFY(QTest::qWaitForWindowExposed(&again));
		QCOMPARE(again.findChild<QSplitter *>()->sizes(), wanted);
	}

	void damagedSplitterStateIsIgnored()
	{
		openTiplarkSettings()->setValue("SplitterState", QByteArray("not a splitter state"));
		TiplarkDock dock(sandboxAddresses(m_sandbox));
		dock.resize(300, 700);
		dock.show();
		QVERIFY(QTest::qWaitForWindowExposed(&dock));
		const auto sizes = dock.findChild<QSplitter *>()->sizes();
		QVERIFY(sizes[0] >= 80 && sizes[1] > sizes[0]);
	}

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

		QMainWindow window;
		window.setCentralWidget(new QWidget);
		auto *host = new QDockWidget("Tiplark", &window);
		auto *panel = new TiplarkDock(sandboxAddresses(m_sandbox), &window);
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
		QMainWindow window;
		window.setCentralWidget(new QWidget);
		auto *host = new QDockWidget("Tiplark", &window);
		host->setWidget(new TiplarkDock(sandboxAddresses(m_sandbox), &window));
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
		QMainWindow window;
		auto *panel = new TiplarkDock(sandboxAddresses(m_sandbox), &window);
		QVERIFY(settleBackgroundRequests());
		LogCapture log;
		QCOMPARE(restoreDockPlacement(&window, panel), nullptr);
		QCOMPARE(log.texts(), QStringList("[tiplark-obs-plugin] Tiplark dock created, visible: false"));
	}
};

TIPLARK_TEST_MAIN(TestDockShell)
#include "test-dock-shell.moc"
