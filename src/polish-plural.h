#pragma once

#include <QString>

// The form a Polish noun takes after a count: one for 1 ("1 wpłata"), few for 2-4 but not 12-14
// ("3 wpłaty", "22 wpłaty"), many for the rest ("5 wpłat", "12 wpłat", "0 wpłat").
inline QString polishPlural(int count, const QString &one, const QString &few, const QString &many)
{
	if (count == 1)
		return one;
	const int lastDigit = count % 10;
	const int lastTwo = count % 100;
	return lastDigit >= 2 && lastDigit <= 4 && (lastTwo < 12 || lastTwo > 14) ? few : many;
}
