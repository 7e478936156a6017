#include "labels/label-text.h"
#include "test-main.h"

namespace {
using Show = LabelSettings::Show;

// "nickname|amount|currency|message"
DonationMessage donation(const QString &fields)
{
	const QStringList parts = fields.split(QLatin1Char('|'));
	DonationMessage record;
	record.nickname = parts.value(0);
	record.amount = parts.value(1);
	record.currency = parts.value(2);
	record.message = parts.value(3);
	return record;
}

const QString LONG_MESSAGE = QStringLiteral("Pozdrawiam ") + QString(100, QLatin1Char('x'));
} // namespace

Q_DECLARE_METATYPE(LabelSettings::Show)

class TestLabelText : public QObject {
	Q_OBJECT

private slots:
	void text_data()
	{
		QTest::addColumn<Show>("show");
		QTest::addColumn<QString>("prefix");
		QTest::addColumn<QString>("suffix");
		QTest::addColumn<bool>("withMessage");
		QTest::addColumn<bool>("signedIn");
		// The donations that arrived this session, oldest first; the last is the newest of the list.
		QTest::addColumn<QStringList>("arrivals");
		QTest::addColumn<QString>("expected");

		const QStringList one{"Ola|33.00|PLN|Dzięki za stream!"};
		const QStringList mixed{"Ala|10.00|PLN|", "Ewa|100.00|EUR|", "Ola|50.00|PLN|", "Iza|20.00|PLN|"};
		QTest::newRow("newest") << Show::Last << "" << "" << false << true << one << "Ola 33.00 PLN";
		QTest::newRow("prefix and suffix") << Show::Last << "Ostatni donator: " << "!" << false << true << one
						   << "Ostatni donator: Ola 33.00 PLN!";
		QTest::newRow("message when ticked")
			<< Show::Last << "" << "" << true << true << one << "Ola 33.00 PLN: Dzięki za stream!";
		QTest::newRow("message one line, cut")
			<< Show::Last << "" << "" << true << true << QStringList{"Ola|5.00|PLN|A\nB\t" + LONG_MESSAGE}
			<< "Ola 5.00 PLN: A B " + LONG_MESSAGE.left(75) + QChar(0x2026);
		QTest::newRow("nothing yet: signed in, no donation")
			<< Show::Last << "Ostatni: " << "" << false << true << QStringList() << "—";
		QTest::newRow("count of none is zero")
			<< Show::Count << "" << "" << false << true << QStringList() << "0";
		QTest::newRow("total of none is nothing yet")
			<< Show::Total << "" << "" << false << true << QStringList() << "—";
		QTest::newRow("signed out: nothing yet, whatever came before")
			<< Show::Count << "Wpłat: " << "" << false << false << one << "—";
		QTest::newRow("largest of the currency with the most donations")
			<< Show::Largest << "" << "" << false << true << mixed << "Ola 50.00 PLN";
		QTest::newRow("largest: as many per currency, the first to arrive")
			<< Show::Largest << "" << "" << false << true << QStringList{"Ewa|1.00|EUR|", "Ala|9.00|PLN|"}
			<< "Ewa 1.00 EUR";
		QTest::newRow("largest: of equal amounts the first")
			<< Show::Largest << "" << "" << true << true
			<< QStringList{"Ala|7,5|PLN|pierwsza", "Ola|7.50|PLN|druga"} << "Ala 7,5 PLN: pierwsza";
		QTest::newRow("total, currencies side by side") << Show::Total << "" << " zebrane" << false << true
								<< mixed << "80.00 PLN · 100.00 EUR zebrane";
		QTest::newRow("count") << Show::Count << "Wpłat: " << "" << false << true << mixed << "Wpłat: 4";
	}

	void text()
	{
		QFETCH(Show, show);
		QFETCH(QString, prefix);
		QFETCH(QString, suffix);
		QFETCH(bool, withMessage);
		QFETCH(bool, signedIn);
		QFETCH(QStringList, arrivals);

		SessionTotals totals;
		LabelFacts facts;
		facts.signedIn = signedIn;
		for (const QString &fields : arrivals) {
			const DonationMessage record = donation(fields);
			totals.add(record);
			facts.addArrival(record);
			facts.newest = record;
		}
		facts.totals = totals.totals();
		const LabelSettings settings{show, prefix, suffix, QStringLiteral("—"), withMessage};
		QTEST(labelText(settings, facts), "expected");
	}
};

TIPLARK_TEST_MAIN(TestLabelText)
#include "test-label-text.moc"
