#pragma once

#include <QLayout>
#include <QList>

// Lays its items out in a line, left to right, and wraps onto the next line what has no room. An item
// wider than a whole line gets the line's width and, a label that wraps, the height it needs there. Given
// more height than its lines take, it centres them.
class FlowLayout : public QLayout {
public:
	explicit FlowLayout(int spacing);
	~FlowLayout() override;

	void addItem(QLayoutItem *item) override;
	int count() const override;
	QLayoutItem *itemAt(int index) const override;
	QLayoutItem *takeAt(int index) override;
	Qt::Orientations expandingDirections() const override;
	bool hasHeightForWidth() const override;
	int heightForWidth(int width) const override;
	void setGeometry(const QRect &rect) override;
	// All items on one line.
	QSize sizeHint() const override;
	// The widest item, each on a line of its own.
	QSize minimumSize() const override;

private:
	// Places the items in rect (or only measures, when place is false); returns the height they take.
	int arrange(const QRect &rect, bool place) const;

	QList<QLayoutItem *> m_items;
};
