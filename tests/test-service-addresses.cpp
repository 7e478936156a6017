#include "log-capture.h"
#include "service-addresses.h"
#include "test-main.h"

#include <util/base.h>

// The environment's override of the service addresses: what the module accepts, and what it logs.
class TestServiceAddresses : public QObject {
	Q_OBJECT

private slots:
	void override_data()
	{
		QTest::addColumn<QString>("api");
		QTest::addColumn<QString>("oauth");
		QTest::addColumn<QString>("apiInEffect"); // empty: refused, production stays
		QTest::addColumn<QString>("oauthInEffect");

		QTest::newRow("sandbox on loopback") << "http://127.0.0.1:38201" << "http://127.0.0.1:38201/oauth/"
						     << "http://127.0.0.1:38201" << "http://127.0.0.1:38201/oauth";
		QTest::newRow("another loopback address and IPv6")
			<< "http://127.0.0.2:8080/" << "http://[::1]:8080/oauth" << "http://127.0.0.2:8080"
			<< "http://[::1]:8080/oauth";
		QTest::newRow("https anywhere") << "https://staging.example/" << "https://staging.example/oauth"
						<< "https://staging.example" << "https://staging.example/oauth";
		QTest::newRow("one of the two") << "http://127.0.0.1:1" << "" << "" << "";
		QTest::newRow("http off loopback") << "http://192.0.2.1" << "https://staging.example/oauth" << ""
						   << "";
		QTest::newRow("http to a name") << "http://localhost:1" << "http://127.0.0.1:1/oauth" << "" << "";
		QTest::newRow("relative") << "https://staging.example" << "/oauth" << "" << "";
		QTest::newRow("another scheme") << "file:///tmp/api" << "https://staging.example/oauth" << "" << "";
		QTest::newRow("credentials") << "https://user:pw@staging.example" << "https://staging.example/oauth"
					     << "" << "";
		QTest::newRow("query") << "https://staging.example" << "https://staging.example/oauth?x=1" << ""
				       << "";
		QTest::newRow("line break")
			<< "https://staging.example\nTiplark: forged" << "https://staging.example/oauth"
			<< "" << "";
	}

	void override()
	{
		QFETCH(QString, api);
		QFETCH(QString, oauth);
		QFETCH(QString, apiInEffect);
		QFETCH(QString, oauthInEffect);
		qputenv(TIPLARK_API_BASE_URL_VARIABLE, api.toUtf8());
		qputenv(TIPLARK_OAUTH_BASE_URL_VARIABLE, oauth.toUtf8());

		LogCapture log;
		const ServiceAddresses inEffect = serviceAddressesFromEnvironment();
		const QStringList warnings = log.texts(LOG_WARNING);
		QCOMPARE(log.texts().size(), 1);
		QCOMPARE(warnings.size(), 1);
		if (apiInEffect.isEmpty()) {
			QCOMPARE(inEffect.apiBaseUrl, QStringLiteral("https://api.tiplark.pl"));
			QCOMPARE(inEffect.oauthBaseUrl, QStringLiteral("https://tiplark.pl/oauth"));
			QVERIFY2(warnings[0].contains("Service address override ignored"), qPrintable(warnings[0]));
			// The refused value is outside text: it never starts a line of its own.
			QVERIFY2(!warnings[0].contains('\n'), qPrintable(warnings[0]));
		} else {
			QCOMPARE(inEffect.apiBaseUrl, apiInEffect);
			QCOMPARE(inEffect.oauthBaseUrl, oauthInEffect);
			QCOMPARE(warnings[0], "[tiplark-obs-plugin] Tiplark: Service addresses overridden by the "
					      "environment: API " +
						      apiInEffect + ", OAuth " + oauthInEffect);
		}
	}

	void withoutOverrideProductionAndNoLogLine()
	{
		qunsetenv(TIPLARK_API_BASE_URL_VARIABLE);
		qunsetenv(TIPLARK_OAUTH_BASE_URL_VARIABLE);
		LogCapture log;
		const ServiceAddresses inEffect = serviceAddressesFromEnvironment();
		QCOMPARE(inEffect.apiBaseUrl, QStringLiteral("https://api.tiplark.pl"));
		QCOMPARE(inEffect.oauthBaseUrl, QStringLiteral("https://tiplark.pl/oauth"));
		QVERIFY(log.texts().isEmpty());
	}
};

TIPLARK_TEST_MAIN(TestServiceAddresses)
#include "test-service-addresses.moc"
