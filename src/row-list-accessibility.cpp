#include "row-list-accessibility.h"

#include "donation-pane.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QListWidget>

namespace {

// The list's children are the row widgets (each exposing its labels and buttons) instead of the
// bare items that Qt would report.
class RowListAccessible : public QAccessibleWidget {
public:
	explicit RowListAccessible(QWidget *list) : QAccessibleWidget(list, QAccessible::List) {}

	int childCount() const override { return rows().size(); }

	QAccessibleInterface *child(int index) const override
	{
		const QList<QWidget *> widgets = rows();
		if (index < 0 || index >= widgets.size())
			return nullptr;
		return QAccessible::queryAccessibleInterface(widgets[index]);
	}

	int indexOfChild(const QAccessibleInterface *child) const override
	{
		return child ? rows().indexOf(qobject_cast<QWidget *>(child->object())) : -1;
	}

	QAccessibleInterface *childAt(int x, int y) const override
	{
		for (QWidget *row : rows())
			if (row->isVisible() && QRect(row->mapToGlobal(QPoint(0, 0)), row->size()).contains(x, y))
				return QAccessible::queryAccessibleInterface(row);
		return nullptr;
	}

private:
	QList<QWidget *> rows() const
	{
		QList<QWidget *> result;
		// The interface may be created while the list is still being constructed; look at it as a
		// QListWidget only when asked.
		auto *list = qobject_cast<QListWidget *>(object());
		if (!list)
			return result;
		for (int i = 0; i < list->count(); ++i)
			if (QWidget *row = list->itemWidget(list->item(i)))
				result.append(row);
		return result;
	}
};

// Qt may ask for the list's interface from inside the list's constructor, before the object is a
// QListWidget; its place tells it apart already: a pane's first widget.
bool isDockList(QObject *object)
{
	if (!object || !object->isWidgetType() || !qobject_cast<DonationPane *>(object->parent()))
		return false;
	for (QObject *sibling : object->parent()->children())
		if (sibling->isWidgetType())
			return sibling == object;
	return false;
}

QAccessibleInterface *rowListFactory(const QString &, QObject *object)
{
	if (isDockList(object))
		return new RowListAccessible(static_cast<QWidget *>(object));
	return nullptr;
}

bool g_installed = false;

} // namespace

void installRowListAccessibility()
{
	if (g_installed)
		return;
	QAccessible::installFactory(rowListFactory);
	g_installed = true;
}

void removeRowListAccessibility()
{
	if (!g_installed)
		return;
	QAccessible::removeFactory(rowListFactory);
	g_installed = false;
}
