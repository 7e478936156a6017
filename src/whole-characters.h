#pragma once

#include <QString>
#include <QTextBoundaryFinder>

// At most the first count code units of text, cut between characters as a reader sees them: never inside
// an emoji or before an accent.
inline QString wholeCharactersOf(const QString &text, int count)
{
	QTextBoundaryFinder characters(QTextBoundaryFinder::Grapheme, text);
	characters.setPosition(count);
	if (!characters.isAtBoundary())
		characters.toPreviousBoundary();
	return text.left(characters.position());
}
