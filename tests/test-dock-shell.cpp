#include "sandbox-server.h"
#include "sandbox-sign-in.h"
#include "test-main.h"
#include "streamer-session.h"
#include "tiplark-dock.h"
#include "tiplark-settings.h"

#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
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

	Sandbox::Server m_sandbox;

private slots:
	void initTestCase() { QVERIFY(startWithoutNewerVersion(m_sandbox)); }
	void init() { clearSettings(); }

	void lookAfterConstruction()
	{
		StreamerSession session(sandboxAddresses(m_sandbox));
		TiplarkDock dock(&session);
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

		auto *splitter = dock.findChild<QSplitter *>();
		QCOMPARE(qobject_cast<QGroupBox *>(splitter->widget(0))->title(),
			 QStringLiteral("Oczekujące na moderację"));
		QCOMPARE(qobject_cast<QGroupBox *>(splitter->widget(1))->title(), QStringLiteral("Ostatnie wpłaty"));
		for (auto *list : dock.findChildren<QListWidget *>())
			QCOMPARE(list->count(), 0);
	}

	void firstRunSplitFollowsStretchFactors()
	{
		StreamerSession session(sandboxAddresses(m_sandbox));
		TiplarkDock dock(&session);
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
			StreamerSession session(sandboxAddresses(m_sandbox));
			TiplarkDock dock(&session);
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

		StreamerSession session(sandboxAddresses(m_sandbox));
		TiplarkDock again(&session);
		again.resize(300, 700);
		again.show();
		QVERIFY(QTest::qWaitForWindowExposed(&again));
		QCOMPARE(again.findChild<QSplitter *>()->sizes(), wanted);
	}

	void damagedSplitterStateIsIgnored()
	{
		openTiplarkSettings()->setValue("SplitterState", QByteArray("not a splitter state"));
		StreamerSession session(sandboxAddresses(m_sandbox));
		TiplarkDock dock(&session);
		dock.resize(300, 700);
		dock.show();
		QVERIFY(QTest::qWaitForWindowExposed(&dock));
		const auto sizes = dock.findChild<QSplitter *>()->sizes();
		QVERIFY(sizes[0] >= 80 && sizes[1] > sizes[0]);
	}
};

TIPLARK_TEST_MAIN(TestDockShell)
#include "test-dock-shell.moc"
