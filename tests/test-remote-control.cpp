#include "session-action.h"
#include "session-totals.h"
#include "test-main.h"

#include <QFile>
#include <QRegularExpression>

namespace {
DonationMessage record(const QString &id, const QString &amount = QStringLiteral("10.00"),
		       const QString &currency = QStringLiteral("PLN"))
{
	DonationMessage message;
	message.id = id;
	message.amount = amount;
	message.currency = currency;
	return message;
}
} // namespace

class TestRemoteControl : public QObject {
	Q_OBJECT

private slots:
	// What controllers are told is what the documentation's list of codes says, row for row.
	void codesAsDocumented()
	{
		QFile doc(QStringLiteral(TIPLARK_REMOTE_CONTROL_DOC));
		QVERIFY(doc.open(QIODevice::ReadOnly));
		const QString text = QString::fromUtf8(doc.readAll());
		const QString section = text.mid(text.indexOf(QStringLiteral("## Codes")));
		// The table: from its first line to the blank line after it.
		const QString table =
			section.left(section.indexOf(QStringLiteral("\n\n"), section.indexOf(QLatin1Char('|'))));
		QStringList documented;
		// Rows below the heading row, whose second column is a code too.
		const QRegularExpression row(QStringLiteral("^\\| `(\\w+)` \\| ([^|`][^|]*) \\|"),
					     QRegularExpression::MultilineOption);
		for (auto it = row.globalMatch(table); it.hasNext();) {
			const QRegularExpressionMatch match = it.next();
			documented << match.captured(1) + QStringLiteral(": ") + match.captured(2);
		}
		QStringList told;
		for (const OutcomeRow &outcome : OUTCOME_ROWS)
			told << outcomeCode(outcome.outcome) + QStringLiteral(": ") + outcomeText(outcome.outcome);
		QCOMPARE(documented, told);
	}

	void summary_data()
	{
		QTest::addColumn<QList<DonationMessage>>("donations");
		QTest::addColumn<QString>("summary");

		QTest::newRow("none") << QList<DonationMessage>{} << QStringLiteral("Ta sesja: 0 wpłat");
		// Amounts as the rows write them ("33.00 PLN").
		QTest::newRow("one")
			<< QList<DonationMessage>{record("a", "5")} << QStringLiteral("Ta sesja: 1 wpłata · 5.00 PLN");
		QTest::newRow("sums without rounding drift")
			<< QList<DonationMessage>{record("a", "0.10"), record("b", "0.20"), record("c", "0,7")}
			<< QStringLiteral("Ta sesja: 3 wpłaty · 1.00 PLN");
		QTest::newRow("currencies apart, first seen first")
			<< QList<DonationMessage>{record("a", "2", "EUR"), record("b", "12345.5"),
						  record("c", "3", "EUR"), record("d", "1")}
			<< QStringLiteral("Ta sesja: 4 wpłaty · 5.00 EUR · 12346.50 PLN");
		QTest::newRow("unreadable amount counts, adds nothing")
			<< QList<DonationMessage>{record("a", "dziesięć"), record("b", "-3"), record("c", "1.005")}
			<< QStringLiteral("Ta sesja: 3 wpłaty · 0.00 PLN");
		QList<DonationMessage> currencies;
		for (const char *currency : {"PLN", "EUR", "USD", "GBP", "CZK", "CHF", "SEK"})
			currencies << record(currency, "1", currency);
		currencies << record("x", "2", "SEK");
		QTest::newRow("five currencies apart, the others counted")
			<< currencies
			<< QStringLiteral("Ta sesja: 8 wpłat · 1.00 PLN · 1.00 EUR · 1.00 USD · 1.00 GBP · 1.00 CZK · "
					  "+ 3 wpłaty w innych walutach");
		QList<DonationMessage> many;
		for (int i = 0; i < 12; ++i)
			many << record(QString::number(i), "28.79");
		QTest::newRow("12 takes the many form") << many << QStringLiteral("Ta sesja: 12 wpłat · 345.48 PLN");
		many << record("12", "1") << record("13", "1") << record("14", "1") << record("15", "1")
		     << record("16", "1") << record("17", "1") << record("18", "1") << record("19", "1")
		     << record("20", "1") << record("21", "1");
		QTest::newRow("22 takes the few form") << many << QStringLiteral("Ta sesja: 22 wpłaty · 355.48 PLN");
	}

	void summary()
	{
		QFETCH(QList<DonationMessage>, donations);
		QFETCH(QString, summary);
		SessionTotals totals;
		for (const DonationMessage &donation : donations)
			totals.add(donation);
		QCOMPARE(totals.summary(), summary);
	}
};

TIPLARK_TEST_MAIN(TestRemoteControl)
#include "test-remote-control.moc"
