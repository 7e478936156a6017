#include "donation-pane.h"

#include "dock-style.h"
#include "flow-layout.h"
#include "polish-plural.h"
#include "session-totals.h"

#include <QCursor>
#include <QEvent>
#include <QHBoxLayout>
#include <QHash>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QResizeEvent>
#include <QScrollBar>
#include <QTimer>
#include <QVBoxLayout>

#include <memory>

namespace {
// Two records that would be drawn alike: the row of one serves the other.
bool sameOnScreen(const DonationMessage &a, const DonationMessage &b)
{
	return a.id == b.id && a.nickname == b.nickname && a.message == b.message && a.amount == b.amount &&
	       a.currency == b.currency && a.goalName == b.goalName && a.createdAt == b.createdAt;
}

bool pointedAt(const QListWidget *list)
{
	const QWidget *viewport = list->viewport();
	return viewport->isVisible() && viewport->rect().contains(viewport->mapFromGlobal(QCursor::pos()));
}

// "+ 10 kolejnych czeka", in the Polish form the count takes.
QString waitingText(int count)
{
	return QStringLiteral("+ %1 %2").arg(count).arg(polishPlural(count, QStringLiteral("kolejna czeka"),
								     QStringLiteral("kolejne czekają"),
								     QStringLiteral("kolejnych czeka")));
}

QLabel *serviceLabel(const QString &text, DockStyle::Role role, int maxChars = DockStyle::MAX_LINE_CHARS)
{
	auto *label = new QLabel;
	DockStyle::showServiceText(label, text, maxChars);
	DockStyle::apply(label, role);
	return label;
}

// A donor's text takes the width the row has: a long one, or one without spaces, neither widens the row
// past the dock nor pushes the buttons out of view.
void fitToRow(QLabel *label)
{
	QSizePolicy policy = label->sizePolicy();
	policy.setHorizontalPolicy(QSizePolicy::Ignored);
	label->setSizePolicy(policy);
}
} // namespace

DonationPane::DonationPane(const QString &title, const QString &emptyText, bool withActions, QWidget *parent)
	: QGroupBox(title, parent),
	  m_withActions(withActions),
	  m_nextTurn(new QTimer(this))
{
	m_nextTurn->setSingleShot(true);
	m_nextTurn->setInterval(0);
	connect(m_nextTurn, &QTimer::timeout, this, [this] { setRecords(m_target, m_total); });
	// The list first: the accessibility code knows it as the pane's first widget.
	m_list = new QListWidget(this);
	m_list->setAlternatingRowColors(true);
	m_list->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
	// Rows wrap to the view's width instead.
	m_list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
	m_list->viewport()->installEventFilter(this);
	connect(m_list->verticalScrollBar(), &QScrollBar::valueChanged, this, [this](int value) {
		// Scrolled by the streamer, the view stays where they put it.
		if (!m_anchoring)
			m_heldForPointer = false;
		if (value == 0 && (m_newAbove > 0 || m_heldForPointer)) {
			m_newAbove = 0;
			m_heldForPointer = false;
			showCounts();
		}
	});
	m_newCue = new QPushButton(this);
	m_newCue->setVisible(false);
	connect(m_newCue, &QPushButton::clicked, this, &DonationPane::scrollToTop);
	m_emptyLabel = new QLabel(emptyText, this);
	m_emptyLabel->setAlignment(Qt::AlignCenter);
	m_emptyLabel->setWordWrap(true);
	DockStyle::apply(m_emptyLabel, DockStyle::Role::Muted);
	m_moreLabel = new QLabel(this);
	m_moreLabel->setWordWrap(true);
	DockStyle::apply(m_moreLabel, DockStyle::Role::Muted);

	auto *layout = new QVBoxLayout(this);
	layout->setContentsMargins(4, 4, 4, 4);
	layout->addWidget(m_newCue);
	layout->addWidget(m_emptyLabel, 1);
	layout->addWidget(m_list, 1);
	layout->addWidget(m_moreLabel);

	for (QWidget *line : {static_cast<QWidget *>(m_newCue), static_cast<QWidget *>(m_emptyLabel),
			      static_cast<QWidget *>(m_moreLabel)})
		line->setVisible(false);
	fitMinimumToWidth(NARROWEST_ROW);
	m_oneRowHeight = minimumSizeHint().height();

	showCounts();
}

bool DonationPane::setRecords(const QList<DonationMessage> &all, int total)
{
	const QList<DonationMessage> records = all.mid(0, MAX_ROWS);
	total = std::max(total, int(all.size()));
	m_target = records;
	m_nextTurn->stop();

	// The row at the top of the view stays there while the streamer has scrolled down or points into
	// the list, so that rows added above move nothing under the cursor. At the top and not pointed
	// at, the view stays at the top and shows what came in.
	const bool scrolledDown = m_list->verticalScrollBar()->value() > 0;
	const bool pointed = pointedAt(m_list);
	QListWidgetItem *anchor = nullptr;
	if (scrolledDown || pointed)
		anchor = m_list->itemAt(1, 1);
	const int anchorRowBefore = anchor ? m_list->row(anchor) : -1;

	bool changed = total != m_total;
	// Records not placed yet, by id: a row whose record comes later waits for it.
	QHash<QString, int> ahead;
	for (const DonationMessage &record : records)
		++ahead[record.id];
	// Rows drawn or removed this turn: a removed row's widgets are deleted after the turn, at a cost
	// like a drawn one's.
	int drawn = 0;
	auto removeRow = [&](int row) {
		if (m_list->item(row) == anchor)
			anchor = nullptr;
		m_list->model()->removeRow(row);
		m_shown.removeAt(row);
		changed = true;
		++drawn;
	};

	int row = 0;
	for (const DonationMessage &record : records) {
		while (row < m_shown.size() && m_shown.at(row).id != record.id &&
		       ahead.value(m_shown.at(row).id) == 0 && drawn < ROWS_PER_TURN)
			removeRow(row);
		if (drawn >= ROWS_PER_TURN) {
			m_nextTurn->start();
			break;
		}
		if (row < m_shown.size() && m_shown.at(row).id == record.id) {
			if (!sameOnScreen(m_shown.at(row), record)) {
				drawRow(m_list->item(row), record);
				m_shown[row] = record;
				changed = true;
				++drawn;
			}
		} else {
			auto *item = new QListWidgetItem;
			m_list->insertItem(row, item);
			drawRow(item, record);
			m_shown.insert(row, record);
			changed = true;
			++drawn;
		}
		--ahead[record.id];
		++row;
	}
	// Rows below stay while a later turn may still place them, or remove them.
	while (row < m_shown.size()) {
		if (m_nextTurn->isActive() && ahead.value(m_shown.at(row).id) > 0) {
			++row;
		} else if (drawn >= ROWS_PER_TURN) {
			m_nextTurn->start();
			break;
		} else {
			removeRow(row);
		}
	}
	m_total = total;
	// A decided message stays disabled until it has left the list.
	for (auto it = m_busy.begin(); it != m_busy.end();) {
		if (ahead.contains(*it))
			++it;
		else
			it = m_busy.erase(it);
	}

	if (anchor) {
		m_anchoring = true;
		m_list->scrollToItem(anchor, QAbstractItemView::PositionAtTop);
		m_anchoring = false;
		m_newAbove += std::max(0, m_list->row(anchor) - anchorRowBefore);
		if (!scrolledDown)
			m_heldForPointer = true;
	} else if (!scrolledDown) {
		m_newAbove = 0;
	}
	if (changed) {
		showCounts();
		emit shownChanged();
	}
	return changed;
}

bool DonationPane::isFilling() const
{
	return m_nextTurn->isActive();
}

void DonationPane::setBusy(const QString &messageId, bool busy)
{
	if (busy)
		m_busy.insert(messageId);
	else
		m_busy.remove(messageId);
	for (int row = 0; row < m_shown.size(); ++row)
		if (m_shown.at(row).id == messageId)
			updateButtons(m_list->itemWidget(m_list->item(row)), messageId);
}

void DonationPane::scrollToTop()
{
	m_list->scrollToTop();
	m_newAbove = 0;
	m_heldForPointer = false;
	showCounts();
}

bool DonationPane::eventFilter(QObject *watched, QEvent *event)
{
	// Held only for the pointer, the view shows what came in once the pointer has gone.
	if (watched == m_list->viewport() && event->type() == QEvent::Leave && m_heldForPointer)
		scrollToTop();
	if (watched == m_list->viewport() && event->type() == QEvent::Resize) {
		const auto *resize = static_cast<QResizeEvent *>(event);
		if (resize->size().width() != resize->oldSize().width()) {
			fitRowsToWidth();
			fitMinimumToWidth(resize->size().width());
		}
	}
	return QGroupBox::eventFilter(watched, event);
}

void DonationPane::showCounts()
{
	m_emptyLabel->setVisible(m_shown.isEmpty());
	m_list->setVisible(!m_shown.isEmpty());
	const int beyond = m_total - int(m_shown.size());
	// The pending queue shows those that have waited longest: what is beyond came later.
	m_moreLabel->setText(
		m_withActions ? waitingText(beyond)
			      : QStringLiteral("…i jeszcze %1 %2 (pokazano najnowsze %3)")
					.arg(beyond)
					.arg(polishPlural(beyond, QStringLiteral("starsza"), QStringLiteral("starsze"),
							  QStringLiteral("starszych")))
					.arg(m_shown.size()));
	m_moreLabel->setVisible(beyond > 0);
	m_newCue->setText(QStringLiteral("↑ %1 %2")
				  .arg(m_newAbove)
				  .arg(polishPlural(m_newAbove, QStringLiteral("nowa"), QStringLiteral("nowe"),
						    QStringLiteral("nowych"))));
	m_newCue->setVisible(m_newAbove > 0);
}

void DonationPane::drawRow(QListWidgetItem *item, const DonationMessage &msg)
{
	QWidget *row = makeRow(msg);
	// A widget the item showed before goes with this call.
	m_list->setItemWidget(item, row);
	// Measured in the look of the dock's and OBS's style sheets, which reach the row once it is in the list.
	row->ensurePolished();
	item->setSizeHint(rowSize(row));
}

QSize DonationPane::rowSize(QWidget *row) const
{
	const int width = m_list->viewport()->width();
	const int height = row->hasHeightForWidth() ? row->heightForWidth(width) : row->sizeHint().height();
	return {width, height + ROW_GAP};
}

void DonationPane::fitRowsToWidth()
{
	for (int row = 0; row < m_list->count(); ++row) {
		QListWidgetItem *item = m_list->item(row);
		// An item being inserted has no row yet: the list lays itself out before drawRow gives it one.
		if (QWidget *widget = m_list->itemWidget(item))
			item->setSizeHint(rowSize(widget));
	}
}

void DonationPane::fitMinimumToWidth(int width)
{
	// At least one whole row fits whatever else the dock shows: a pending message of a usual length
	// with its goal, wrapped at the list's width; a donation's row in part. The rest of each list scrolls.
	DonationMessage sample;
	sample.nickname = QStringLiteral("W");
	// An amount, a currency and a goal of usual lengths: in a narrow dock the goal takes a line of its own.
	sample.amount = QStringLiteral("WWWWW");
	sample.currency = QStringLiteral("WWW");
	sample.goalName = QStringLiteral("Wwwwww Wwwwww");
	sample.message = m_withActions ? QStringLiteral("Wwwwww ").repeated(11) : QStringLiteral("W");
	sample.createdAt = QDateTime::currentDateTime();
	const std::unique_ptr<QWidget> row(makeRow(sample));
	// Measured in the list, in the look of the dock's and OBS's style sheets.
	row->setParent(m_list->viewport());
	row->ensurePolished();
	m_list->setMinimumHeight(row->heightForWidth(width) + ROW_GAP + 2 * m_list->frameWidth());
}

QWidget *DonationPane::makeRow(const DonationMessage &msg)
{
	auto *row = new QWidget;
	auto *rowLayout = new QVBoxLayout(row);
	rowLayout->setContentsMargins(6, 4, 6, 4);
	rowLayout->setSpacing(4);

	QLabel *nickname = serviceLabel(msg.nickname, DockStyle::Role::Nickname);
	DockStyle::wrapServiceText(nickname);
	fitToRow(nickname);
	rowLayout->addWidget(nickname);
	if (!msg.message.isEmpty()) {
		auto *message = serviceLabel(msg.message, DockStyle::Role::Muted, DockStyle::MAX_MESSAGE_CHARS);
		DockStyle::wrapServiceText(message);
		fitToRow(message);
		rowLayout->addWidget(message);
	}

	// One line when the row has room for it; where it has not, the texts wrap and the buttons stay at the
	// right. The streamer's own time: the service sends UTC.
	auto *texts = new FlowLayout(8);
	texts->addWidget(serviceLabel(SessionTotals::amountText(msg.amount, msg.currency), DockStyle::Role::Amount));
	texts->addWidget(serviceLabel(msg.createdAt.toLocalTime().toString(QStringLiteral("dd.MM HH:mm")),
				      DockStyle::Role::Small));
	if (!msg.goalName.isEmpty()) {
		QLabel *goal = serviceLabel(QStringLiteral("| ") + msg.goalName, DockStyle::Role::Goal);
		DockStyle::wrapServiceText(goal);
		fitToRow(goal);
		texts->addWidget(goal);
	}
	auto *info = new QHBoxLayout();
	info->setSpacing(8);
	info->addLayout(texts, 1);
	if (m_withActions) {
		auto addAction = [&](const QString &text, const QString &accessibleName, bool accept) {
			auto *button = new QPushButton(text);
			button->setFixedSize(28, 28);
			button->setAccessibleName(accessibleName);
			DockStyle::apply(button, accept ? DockStyle::Role::Accept : DockStyle::Role::Reject);
			button->setProperty("messageId", msg.id);
			const QString id = msg.id;
			connect(button, &QPushButton::clicked, this,
				[this, id, accept] { emit decisionRequested(id, accept); });
			info->addWidget(button);
		};
		addAction(QStringLiteral("✓"), tr("Akceptuj"), true);
		addAction(QStringLiteral("✗"), tr("Odrzuć"), false);
	}
	rowLayout->addLayout(info);
	updateButtons(row, msg.id);
	return row;
}

void DonationPane::updateButtons(QWidget *row, const QString &messageId)
{
	if (!row)
		return;
	for (auto *button : row->findChildren<QPushButton *>())
		button->setEnabled(!m_busy.contains(messageId));
}
