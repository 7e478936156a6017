#include "api/update-info.h"
#include "test-main.h"

#include <QJsonDocument>
#include <QJsonObject>

Q_DECLARE_METATYPE(UpdatePlatform)

namespace {
QByteArray answer(QJsonObject members)
{
	if (!members.contains(QStringLiteral("version")))
		members.insert(QStringLiteral("version"), QStringLiteral("1.0.1"));
	return QJsonDocument(members).toJson();
}
} // namespace

class TestUpdateInfo : public QObject {
	Q_OBJECT

private slots:
	void versionOrder_data()
	{
		QTest::addColumn<QString>("published");
		QTest::addColumn<bool>("newer");

		QTest::newRow("same") << "1.0.0" << false;
		QTest::newRow("patch newer") << "1.0.1" << true;
		QTest::newRow("shorter is older") << "1.0" << false;
		QTest::newRow("trailing zero segment is newer") << "1.0.0.0" << true;
		QTest::newRow("numeric, not text order") << "1.0.10" << true;
		QTest::newRow("minor two digits") << "1.10.0" << true;
		QTest::newRow("suffix ignored") << "1.2.0-beta" << true;
		QTest::newRow("suffix on same version") << "1.0.0-rc1" << false;
		QTest::newRow("leading letter is the empty version") << "v2.0" << false;
		QTest::newRow("older major") << "0.9.9" << false;
		QTest::newRow("newer major") << "2" << true;
		QTest::newRow("empty") << "" << false;
	}

	void versionOrder()
	{
		QFETCH(QString, published);
		QTEST(isNewerVersion(published, QStringLiteral("1.0.0")), "newer");
	}

	void fieldsReadAsText_data()
	{
		QTest::addColumn<QByteArray>("body");
		QTest::addColumn<QString>("version");
		QTest::addColumn<QString>("downloadUrl");

		QTest::newRow("strings") << answer({{"version", "1.2.0"}, {"download_url", "https://d/x"}}) << "1.2.0"
					 << "https://d/x";
		QTest::newRow("numeric version is missing") << QByteArray(R"({"version":1.2,"download_url":7})") << ""
							    << "";
		QTest::newRow("enveloped answer is not read") << QByteArray(R"({"data":{"version":"1.2.0"}})") << ""
							      << "";
		QTest::newRow("array") << QByteArray(R"([{"version":"1.2.0"}])") << ""
				       << "";
		QTest::newRow("not JSON") << QByteArray("<html>") << ""
					  << "";
	}

	void fieldsReadAsText()
	{
		QFETCH(QByteArray, body);
		const UpdateInfo info = UpdateInfo::fromJson(body);
		QTEST(info.version, "version");
		QTEST(info.downloadUrl, "downloadUrl");
	}

	void downloadUrlChoice_data()
	{
		QTest::addColumn<QByteArray>("body");
		QTest::addColumn<UpdatePlatform>("platform");
		QTest::addColumn<QString>("url");

		const QByteArray all = answer({{"download_url", "https://d/any"},
					       {"download_url_windows", "https://d/win"},
					       {"download_url_macos", "https://d/mac"},
					       {"download_url_linux", "https://d/linux"}});
		const QByteArray genericOnly = answer({{"download_url", "https://d/any"},
						       {"download_url_windows", ""},
						       {"download_url_macos", ""},
						       {"download_url_linux", ""}});
		const QByteArray ownOnly = answer({{"download_url_windows", "https://d/win"},
						   {"download_url_macos", "https://d/mac"},
						   {"download_url_linux", "https://d/linux"}});

		QTest::newRow("macOS own") << all << UpdatePlatform::MacOS << "https://d/mac";
		QTest::newRow("Windows own") << all << UpdatePlatform::Windows << "https://d/win";
		QTest::newRow("Linux own") << all << UpdatePlatform::Linux << "https://d/linux";
		QTest::newRow("other platform generic") << all << UpdatePlatform::Other << "https://d/any";
		QTest::newRow("macOS empty falls back") << genericOnly << UpdatePlatform::MacOS << "https://d/any";
		QTest::newRow("Windows empty falls back") << genericOnly << UpdatePlatform::Windows << "https://d/any";
		QTest::newRow("Linux empty falls back") << genericOnly << UpdatePlatform::Linux << "https://d/any";
		QTest::newRow("Linux without generic") << ownOnly << UpdatePlatform::Linux << "https://d/linux";
		QTest::newRow("other without generic") << ownOnly << UpdatePlatform::Other << "";
		QTest::newRow("no URL at all") << answer({}) << UpdatePlatform::Linux << "";
		QTest::newRow("numeric Linux URL falls back")
			<< answer({{"download_url", "https://d/any"}, {"download_url_linux", 1}})
			<< UpdatePlatform::Linux << "https://d/any";
	}

	void downloadUrlChoice()
	{
		QFETCH(QByteArray, body);
		QFETCH(UpdatePlatform, platform);
		QTEST(UpdateInfo::fromJson(body).downloadUrlFor(platform), "url");
	}
};

TIPLARK_TEST_MAIN(TestUpdateInfo)
#include "test-update-info.moc"
