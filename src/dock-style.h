#pragma once

#include <QString>

class QLabel;
class QWidget;

// How the dock's widgets look under OBS's themes, in one place. Colours come from the theme: the palette,
// and the hints OBS's style sheets select on (themeID up to OBS 30, the class property from OBS 31 on).
// Only the colours that carry a meaning of their own are fixed (the amount, a donation's goal, accept and
// reject, the moderation switch, the line that says what fails, the update banner), each readable on dark
// and light themes alike. One style sheet on the dock gives every role its look: a row is cheap to make, as none of
// its widgets parses a sheet of its own.
namespace DockStyle {
enum class Role {
	None,
	Title,         // the streamer's name
	Nickname,      // the donor's name on a row
	Muted,         // secondary text: a message, a time, a goal
	Small,         // secondary text in the small size: a time, a goal
	Amount,        // the amount of a donation
	Goal,          // the goal a donation is for, in the small size
	Danger,        // the line that says what fails
	Notice,        // the update banner
	Accept,        // ✓ on a pending message
	Reject,        // ✗ on a pending message
	ModerationOn,  // "Wyłącz moderację" while moderation is on
	ModerationOff, // "Włącz moderację" while moderation is off
};

// Gives the dock (and so everything inside it) the style sheet of the roles, from its palette; again
// when the theme changes the palette.
void install(QWidget *dock);
// Gives the widget its role; a role set before is replaced.
void apply(QWidget *widget, Role role);
Role roleOf(const QWidget *widget);

// Text from the service is shown as it is, never as markup (which could load files or images), and a very
// long one is cut, with the whole text in its tooltip (itself escaped and capped), so that it cannot
// stretch the dock.
constexpr int MAX_LINE_CHARS = 80;
constexpr int MAX_MESSAGE_CHARS = 500;
constexpr int MAX_TOOLTIP_CHARS = 2000;
void showServiceText(QLabel *label, const QString &text, int maxChars = MAX_LINE_CHARS);
// Wraps the label's text at its width. Qt wraps only between words: a run wider than the label (a text
// without spaces, a link) would be cut at its edge, and the streamer would decide on what they could not
// read. A run longer than any word may break between any two of its characters.
void wrapServiceText(QLabel *label);
} // namespace DockStyle
