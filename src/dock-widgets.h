#pragma once

#include <QLabel>
#include <QWidget>

class QBoxLayout;
class QCheckBox;

// The text of a check box, wrapped in a narrow dock (a QCheckBox's own text is one line); a click on it
// works the box, as on the box's own text.
class CheckBoxText : public QLabel {
public:
	CheckBoxText(QCheckBox *box, const QString &text, QWidget *parent);

protected:
	void mouseReleaseEvent(QMouseEvent *event) override;

private:
	QCheckBox *m_box;
};

// A check box with its wrapped text beside it, added to layout; the box is named by its text for screen
// readers.
QCheckBox *addCheckBox(QBoxLayout *layout, const QString &text, const QString &toolTip = {});

// What a scroll area scrolls. A scroll area gives its widget at least the height the widget asks for at
// its width: asked, this one asks for the least its layout fits in (lists inside scroll by themselves),
// not for their preferred heights, so that the area scrolls only when those are at their smallest.
class ScrolledContent : public QWidget {
public:
	using QWidget::QWidget;
	int heightForWidth(int width) const override;
};
