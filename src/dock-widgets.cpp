#include "dock-widgets.h"

#include <QBoxLayout>
#include <QCheckBox>
#include <QLayout>
#include <QMouseEvent>

CheckBoxText::CheckBoxText(QCheckBox *box, const QString &text, QWidget *parent) : QLabel(text, parent), m_box(box)
{
	setTextFormat(Qt::PlainText);
	setWordWrap(true);
	setBuddy(box);
}

void CheckBoxText::mouseReleaseEvent(QMouseEvent *event)
{
	if (event->button() == Qt::LeftButton && rect().contains(event->pos()))
		m_box->click();
	QLabel::mouseReleaseEvent(event);
}

QCheckBox *addCheckBox(QBoxLayout *layout, const QString &text, const QString &toolTip)
{
	QWidget *parent = layout->parentWidget();
	auto *box = new QCheckBox(parent);
	// Screen readers and the end-to-end tests find the box by its text.
	box->setAccessibleName(text);
	auto *label = new CheckBoxText(box, text, parent);
	box->setToolTip(toolTip);
	label->setToolTip(toolTip);
	auto *row = new QHBoxLayout;
	row->addWidget(box, 0, Qt::AlignTop);
	row->addWidget(label, 1);
	layout->addLayout(row);
	return box;
}

int ScrolledContent::heightForWidth(int width) const
{
	return layout() ? layout()->minimumHeightForWidth(width) : QWidget::heightForWidth(width);
}
