#include "sandbox-server.h"
#include "sandbox-sign-in.h"
#include "test-main.h"
#include "streamer-session.h"
#include "tiplark-dock.h"

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QVBoxLayout>

namespace {
QListWidget *listIn(TiplarkDock &dock, const QString &title)
{
	for (auto *group : dock.findChildren<QGroupBox *>())
		if (group->title() == title)
			return group->findChild<QListWidget *>();
	return nullptr;
}

QPushButton *addRow(QListWidget *list, const QString &text, const QString &buttonText)
{
	auto *row = new QWidget;
	auto *layout = new QVBoxLayout(row);
	layout->addWidget(new QLabel(text));
	auto *button = new QPushButton(buttonText);
	layout->addWidget(button);
	auto *item = new QListWidgetItem(list);
	item->setSizeHint(row->sizeHint());
	list->setItemWidget(item, row);
	return button;
}

// Depth-first search by accessible name and role.
QAccessibleInterface *find(QAccessibleInterface *node, QAccessible::Role role, const QString &name)
{
	if (!node)
		return nullptr;
	if (node->role() == role && node->text(QAccessible::Name) == name)
		return node;
	for (int i = 0; i < node->childCount(); ++i)
		if (QAccessibleInterface *found = find(node->child(i), role, name))
			return found;
	return nullptr;
}
} // namespace

class TestRowAccessibility : public QObject {
	Q_OBJECT

	// A dock sends its update check as soon as it exists.
	Sandbox::Server m_sandbox;

private slots:
	void initTestCase() { QVERIFY(m_sandbox.start()); }
	void rowsOfBothListsAreReachable_data()
	{
		QTest::addColumn<QString>("pane");
		QTest::newRow("pending") << "Oczekujące na moderację";
		QTest::newRow("donations") << "Ostatnie wpłaty";
	}

	void rowsOfBothListsAreReachable()
	{
		QFETCH(QString, pane);
		StreamerSession session(sandboxAddresses(m_sandbox));
		TiplarkDock dock(&session);
		dock.show();
		QListWidget *list = listIn(dock, pane);
		QVERIFY(list);
		QAccessibleInterface *listInterface = QAccessible::queryAccessibleInterface(list);
		QVERIFY(listInterface);
		QCOMPARE(listInterface->role(), QAccessible::List);
		QCOMPARE(listInterface->childCount(), 0);

		addRow(list, "Ala", "✓");
		QPushButton *second = addRow(list, "Olek", "✗");
		QCOMPARE(listInterface->childCount(), 2);
		QCOMPARE(listInterface->indexOfChild(listInterface->child(1)), 1);
		QVERIFY(!listInterface->child(2));

		QVERIFY(find(listInterface->child(0), QAccessible::StaticText, "Ala"));
		QAccessibleInterface *reject = find(listInterface->child(1), QAccessible::Button, "✗");
		QVERIFY(reject);

		QSignalSpy clicked(second, &QPushButton::clicked);
		reject->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
		QTRY_COMPARE(clicked.count(), 1); // the press animates, then clicks

		list->clear();
		QCOMPARE(listInterface->childCount(), 0);
	}

	void otherListsKeepQtsOwnInterface()
	{
		QListWidget plain;
		plain.addItem("x");
		QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(&plain);
		QVERIFY(iface);
		QCOMPARE(iface->childCount() > 0, true);
	}
};

TIPLARK_TEST_MAIN(TestRowAccessibility)
#include "test-row-accessibility.moc"
