#include "dock-style.h"

#include "whole-characters.h"

#include <QColor>
#include <QLabel>
#include <QPalette>
#include <QStyle>
#include <QTextBoundaryFinder>
#include <QTextDocument>
#include <QVariant>
#include <QWidget>

namespace {
const char *const ROLE_PROPERTY = "tiplarkRole";

// Mid-tone colours: readable as text on Yami's dark grey and on Light's white, and white text on them.
const char *const GREEN = "#1e8449";
const char *const RED = "#c0392b";
const char *const ORANGE = "#b9550b";
// A goal's name, as text only.
const char *const BLUE = "#3498db";

// Longer than the longest Polish word: a run of this many characters without a space is no word.
constexpr int LONGEST_WORD = 32;

struct Hint {
	const char *name;     // the value of the role property the dock's sheet selects on
	const char *themeId;  // OBS 29 and 30
	const char *obsClass; // OBS 31 and later
};

Hint hintOf(DockStyle::Role role)
{
	switch (role) {
	case DockStyle::Role::None:
		return {"", nullptr, nullptr};
	case DockStyle::Role::Title:
		return {"title", nullptr, nullptr};
	case DockStyle::Role::Nickname:
		return {"nickname", nullptr, nullptr};
	case DockStyle::Role::Muted:
		return {"muted", nullptr, "text-muted"};
	case DockStyle::Role::Small:
		return {"small", nullptr, "text-muted"};
	case DockStyle::Role::Amount:
		return {"amount", "good", "text-success"};
	case DockStyle::Role::Goal:
		return {"goal", nullptr, nullptr};
	case DockStyle::Role::Danger:
		return {"danger", "error", "text-danger"};
	case DockStyle::Role::Notice:
		return {"notice", nullptr, "frame-notice"};
	case DockStyle::Role::Accept:
		return {"accept", nullptr, nullptr};
	case DockStyle::Role::Reject:
		return {"reject", nullptr, nullptr};
	case DockStyle::Role::ModerationOn:
		return {"moderationOn", nullptr, "button-danger"};
	case DockStyle::Role::ModerationOff:
		return {"moderationOff", nullptr, "button-primary"};
	}
	return {"", nullptr, nullptr};
}

// A third of the way from the text to the background of a list, where secondary text mostly stands:
// readable on any theme (a fixed light grey vanishes on a light one). Text and Base, as OBS's themes set
// them for lists and fields; their window text is not always the colour the theme draws text in.
QString mutedColour(const QPalette &palette)
{
	const QColor text = palette.color(QPalette::Text);
	const QColor back = palette.color(QPalette::Base);
	return QColor((text.red() * 2 + back.red()) / 3, (text.green() * 2 + back.green()) / 3,
		      (text.blue() * 2 + back.blue()) / 3)
		.name();
}
} // namespace

void DockStyle::install(QWidget *dock)
{
	const QString muted = mutedColour(dock->palette());
	const QString sheet =
		QStringLiteral(
			"[tiplarkRole=\"title\"] { font-weight: bold; font-size: 14px; }"
			"[tiplarkRole=\"nickname\"] { font-weight: bold; font-size: 13px; }"
			"[tiplarkRole=\"muted\"] { color: %1; }"
			"[tiplarkRole=\"small\"] { color: %1; font-size: 11px; }"
			"[tiplarkRole=\"amount\"] { color: %2; font-weight: bold; }"
			"[tiplarkRole=\"goal\"] { color: %5; font-size: 11px; }"
			"[tiplarkRole=\"danger\"] { background-color: %3; color: white; border-radius: 4px;"
			" padding: 4px 8px; }"
			"[tiplarkRole=\"notice\"] { background-color: %4; border-radius: 4px; }"
			"[tiplarkRole=\"notice\"] QLabel { color: white; font-weight: bold; }"
			// OBS's theme pads push buttons enough to clip a glyph in a small square: no padding.
			"QPushButton[tiplarkRole=\"accept\"] { background-color: %2; color: white;"
			" font-weight: bold; padding: 0px; }"
			"QPushButton[tiplarkRole=\"reject\"] { background-color: %3; color: white;"
			" font-weight: bold; padding: 0px; }"
			"QPushButton[tiplarkRole=\"accept\"]:disabled, QPushButton[tiplarkRole=\"reject\"]:disabled"
			" { background-color: %1; color: palette(window); }"
			// Disabled (signed out, or a switch under way), it looks like any disabled button.
			"QPushButton[tiplarkRole=\"moderationOn\"]:enabled { background-color: %3; color: white; }"
			"QPushButton[tiplarkRole=\"moderationOff\"]:enabled { background-color: %2; color: white; }")
			.arg(muted, QLatin1String(GREEN), QLatin1String(RED), QLatin1String(ORANGE),
			     QLatin1String(BLUE));
	// Setting a sheet changes the palette again: only a new one is set.
	if (dock->styleSheet() != sheet)
		dock->setStyleSheet(sheet);
}

void DockStyle::apply(QWidget *widget, Role role)
{
	const Hint hint = hintOf(role);
	// Polishing under the dock's sheet is costly and the state is shown again with every answer: a role
	// the widget already has is left as it is.
	const QVariant current = widget->property(ROLE_PROPERTY);
	if (current.isValid() && current.toString() == QLatin1String(hint.name))
		return;
	widget->setProperty(ROLE_PROPERTY, QString::fromLatin1(hint.name));
	widget->setProperty("themeID", hint.themeId ? QString::fromLatin1(hint.themeId) : QString());
	widget->setProperty("class", hint.obsClass ? QString::fromLatin1(hint.obsClass) : QString());
	// A sheet selects on properties when it polishes a widget: one already shown is polished again.
	if (widget->testAttribute(Qt::WA_WState_Polished)) {
		widget->style()->unpolish(widget);
		widget->style()->polish(widget);
	}
}

DockStyle::Role DockStyle::roleOf(const QWidget *widget)
{
	const QString name = widget->property(ROLE_PROPERTY).toString();
	for (Role role : {Role::Title, Role::Nickname, Role::Muted, Role::Small, Role::Amount, Role::Goal, Role::Danger,
			  Role::Notice, Role::Accept, Role::Reject, Role::ModerationOn, Role::ModerationOff})
		if (name == QLatin1String(hintOf(role).name))
			return role;
	return Role::None;
}

void DockStyle::showServiceText(QLabel *label, const QString &text, int maxChars)
{
	label->setTextFormat(Qt::PlainText);
	if (text.size() <= maxChars) {
		label->setText(text);
		label->setToolTip(QString());
		return;
	}
	label->setText(wholeCharactersOf(text, maxChars - 1) + QChar(0x2026));
	// Qt shows a tooltip as rich text whenever it looks like markup: escaped, it is shown as the donor
	// wrote it and loads nothing.
	QString whole = wholeCharactersOf(text, MAX_TOOLTIP_CHARS);
	if (text.size() > MAX_TOOLTIP_CHARS)
		whole += QChar(0x2026);
	label->setToolTip(Qt::convertFromPlainText(whole, Qt::WhiteSpaceNormal));
}

void DockStyle::wrapServiceText(QLabel *label)
{
	label->setWordWrap(true);
	const QString text = label->text();
	// A screen reader reads the text as it was written.
	label->setAccessibleName(text);
	// Characters as the reader sees them: a break never falls inside an emoji or before an accent.
	QStringList characters;
	QTextBoundaryFinder boundaries(QTextBoundaryFinder::Grapheme, text);
	for (int from = 0, to = boundaries.toNextBoundary(); to != -1; from = to, to = boundaries.toNextBoundary())
		characters << text.mid(from, to - from);
	QString wrapped;
	wrapped.reserve(text.size());
	for (int start = 0; start < characters.size();) {
		int end = start;
		while (end < characters.size() && !characters.at(end).at(0).isSpace())
			++end;
		const QStringList run = characters.mid(start, end - start);
		wrapped += run.join(run.size() > LONGEST_WORD ? QString(QChar(0x200B)) : QString()); // zero-width space
		if (end < characters.size())
			wrapped += characters.at(end);
		start = end + 1;
	}
	label->setText(wrapped);
}
