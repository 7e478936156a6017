#pragma once

#include "api/donation-model.h"

#include <QGroupBox>
#include <QList>
#include <QSet>
#include <QString>

class QLabel;
class QListWidget;
class QListWidgetItem;
class QPushButton;
class QTimer;

// One of the dock's two lists in its titled frame: the rows of the records last received, each answer
// brought in place (only the rows that changed are redrawn), a line when the list is empty, and a line
// for the records beyond the rows shown. While the streamer points into the list or
// has scrolled down, the top row stays where it is and a cue tells of rows that arrived above it. Rows of
// the pending list carry ✓ and ✗, which ask for a decision through decisionRequested.
class DonationPane : public QGroupBox {
	Q_OBJECT

public:
	// Rows shown at most: a row is a few widgets, about a millisecond to make, and a list of thousands
	// would hold the GUI thread for seconds. The records beyond come up as the ones above are decided or
	// drop off the service's list.
	static constexpr int MAX_ROWS = 30;

	DonationPane(const QString &title, const QString &emptyText, bool withActions, QWidget *parent = nullptr);

	// Shows the first MAX_ROWS records (the session hands in no more), in order; total is how many the
	// service holds (at least
	// records.size()). At most ROWS_PER_TURN rows are drawn at once: more come in on the next turns of the
	// event loop, so that the GUI thread is never held long. Returns whether anything on screen changed
	// now; shownChanged follows each change, now or later.
	bool setRecords(const QList<DonationMessage> &records, int total);
	static constexpr int ROWS_PER_TURN = 8;
	// The records shown, top row first.
	const QList<DonationMessage> &records() const { return m_shown; }
	int total() const { return m_total; }
	QListWidget *list() const { return m_list; }
	// The height the pane takes to show its title and one whole row in the dock at its narrowest.
	int oneRowHeight() const { return m_oneRowHeight; }
	// True while later turns still have rows to draw.
	bool isFilling() const;

	// While a decision on the message runs, its row's buttons are disabled.
	void setBusy(const QString &messageId, bool busy);
	bool isBusy(const QString &messageId) const { return m_busy.contains(messageId); }
	// Rows that arrived above the view while it held its top row; 0 once the view is back at the top.
	int newAbove() const { return m_newAbove; }
	void scrollToTop();

signals:
	void decisionRequested(const QString &messageId, bool accept);
	// The records shown (or their total) changed.
	void shownChanged();

protected:
	bool eventFilter(QObject *watched, QEvent *event) override;

private:
	// Room between two rows.
	static constexpr int ROW_GAP = 8;
	// Draws msg into the list's item, in place of whatever the item showed.
	void drawRow(QListWidgetItem *item, const DonationMessage &msg);
	QWidget *makeRow(const DonationMessage &msg);
	// The view's width, and the height the row's wrapped text needs at that width.
	QSize rowSize(QWidget *row) const;
	void fitRowsToWidth();
	// The list's least height: one whole row of a sample message at that width.
	void fitMinimumToWidth(int width);
	// A row's width in the dock at its narrowest, where rows are tallest.
	static constexpr int NARROWEST_ROW = 170;
	void updateButtons(QWidget *row, const QString &messageId);
	void showCounts();

	const bool m_withActions;
	QListWidget *m_list;
	QLabel *m_emptyLabel;
	QLabel *m_moreLabel;
	QPushButton *m_newCue;
	QList<DonationMessage> m_shown;
	int m_total = 0;
	// What the rows are being brought to, a turn at a time.
	QList<DonationMessage> m_target;
	QTimer *m_nextTurn;
	QSet<QString> m_busy;
	int m_newAbove = 0;
	int m_oneRowHeight = 0;
	// The top row is held only because the pointer is in the list: it goes back up when the pointer leaves.
	bool m_heldForPointer = false;
	bool m_anchoring = false;
};
