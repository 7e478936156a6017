#include "labels/label-text.h"
#include "test-main.h"

namespace {
using Show = LabelSettings::Show;

// "nickname|amount|currency|message|created_at"
DonationMessage donation(const QString &fields)
{
	const QStringList parts = fields.split(QLatin1Char('|'));
	DonationMessage record;
	record.nickname = parts.value(0);
	record.amount = parts.value(1);
	record.currency = parts.value(2);
	record.message = parts.value(3);
	record.createdAt = QDateTime::fromString(parts.value(4), Qt::ISODate);
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
		// The donations that arrived this session, oldest first; the service lists them newest first.
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
		QTest::newRow("amount one line, cut")
			<< Show::Last << "" << "" << false << true
			<< QStringList{"Ola|1\n" + QString(1000000, QLatin1Char('0')) + "|PLN|"}
			<< "Ola 1 " + QString(21, QLatin1Char('0')) + QChar(0x2026) + " PLN";
		QTest::newRow("no direction override or zero-width character")
			<< Show::Last << "" << "" << true << true
			<< QStringList{QString::fromUtf8("\u202eOla\u200b|5.00|PLN|\u2067Hej")} << "Ola 5.00 PLN: Hej";
		QTest::newRow("whole text cut short") << Show::Last << QString(600, QLatin1Char('p')) << "" << false
						      << true << one << QString(511, QLatin1Char('p')) + QChar(0x2026);
		QTest::newRow("newest by time, whatever the service's order")
			<< Show::Last << "" << "" << false << true
			<< QStringList{"Ala|5.00|PLN||2024-05-01T12:00:00Z", "Ola|7.00|PLN||2024-05-01T11:00:00Z"}
			<< "Ala 5.00 PLN";
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

		LabelFacts facts;
		facts.signedIn = signedIn;
		QList<DonationMessage> listed;
		for (const QString &fields : arrivals) {
			const DonationMessage record = donation(fields);
			facts.totals.add(record);
			listed.prepend(record);
		}
		facts.newest = newestDonation(listed);
		const LabelSettings settings{show, prefix, suffix, QStringLiteral("—"), withMessage};
		QTEST(labelText(settings, facts), "expected");
	}
};

TIPLARK_TEST_MAIN(TestLabelText)
#include "test-label-text.moc"
