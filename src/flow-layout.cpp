#include "flow-layout.h"

#include <QLabel>
#include <QWidget>

#include <algorithm>

namespace {
// The width the item takes on a line with room for it. A label that wraps asks for less (a few words a
// line): its whole text on one line instead.
int oneLineWidth(QLayoutItem *item)
{
	const auto *label = qobject_cast<const QLabel *>(item->widget());
	if (!label || !label->wordWrap())
		return item->sizeHint().width();
	const QMargins margins = label->contentsMargins();
	return label->fontMetrics().size(Qt::TextSingleLine, label->text()).width() + margins.left() + margins.right() +
	       2 * label->margin();
}
} // namespace

FlowLayout::FlowLayout(int spacing)
{
	setContentsMargins(0, 0, 0, 0);
	setSpacing(spacing);
}

FlowLayout::~FlowLayout()
{
	while (QLayoutItem *item = takeAt(0))
		delete item;
}

void FlowLayout::addItem(QLayoutItem *item)
{
	m_items.append(item);
}

int FlowLayout::count() const
{
	return int(m_items.size());
}

QLayoutItem *FlowLayout::itemAt(int index) const
{
	return m_items.value(index);
}

QLayoutItem *FlowLayout::takeAt(int index)
{
	return index >= 0 && index < m_items.size() ? m_items.takeAt(index) : nullptr;
}

Qt::Orientations FlowLayout::expandingDirections() const
{
	return {};
}

bool FlowLayout::hasHeightForWidth() const
{
	return true;
}

int FlowLayout::heightForWidth(int width) const
{
	return arrange(QRect(0, 0, width, 0), false);
}

void FlowLayout::setGeometry(const QRect &rect)
{
	QLayout::setGeometry(rect);
	const int spare = rect.height() - heightForWidth(rect.width());
	arrange(rect.adjusted(0, std::max(0, spare / 2), 0, 0), true);
}

QSize FlowLayout::sizeHint() const
{
	QSize line;
	for (QLayoutItem *item : m_items)
		if (!item->isEmpty())
			line = QSize(line.width() + (line.width() ? spacing() : 0) + oneLineWidth(item),
				     std::max(line.height(), item->sizeHint().height()));
	return line;
}

QSize FlowLayout::minimumSize() const
{
	QSize widest;
	for (const QLayoutItem *item : m_items)
		if (!item->isEmpty())
			widest = widest.expandedTo(item->minimumSize());
	return widest;
}

int FlowLayout::arrange(const QRect &rect, bool place) const
{
	const int width = std::max(rect.width(), 1);
	int y = rect.y();
	struct Placed {
		QLayoutItem *item;
		QSize size;
	};
	QList<Placed> line;
	int lineWidth = 0;
	// Each item centred in the height of its line.
	auto endLine = [&] {
		int height = 0;
		for (const Placed &placed : line)
			height = std::max(height, placed.size.height());
		int x = rect.x();
		for (const Placed &placed : line) {
			if (place)
				placed.item->setGeometry(
					QRect(QPoint(x, y + (height - placed.size.height()) / 2), placed.size));
			x += placed.size.width() + spacing();
		}
		y += height + spacing();
		line.clear();
		lineWidth = 0;
	};
	for (QLayoutItem *item : m_items) {
		if (item->isEmpty())
			continue;
		const int itemWidth = std::min(oneLineWidth(item), width);
		if (!line.isEmpty() && lineWidth + spacing() + itemWidth > width)
			endLine();
		const int itemHeight = item->hasHeightForWidth() ? item->heightForWidth(itemWidth)
								 : item->sizeHint().height();
		lineWidth += (line.isEmpty() ? 0 : spacing()) + itemWidth;
		line.append({item, QSize(itemWidth, itemHeight)});
	}
	if (!line.isEmpty())
		endLine();
	return std::max(0, y - spacing() - rect.y());
}
