#include "auth/token-store.h"
#include "log-capture.h"
#include "obs-host-stand-in.h"
#include "plugin-support.h"
#include "service-addresses.h"
#include "test-main.h"
#include "token-file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <atomic>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {
const QString PREFIX = QStringLiteral("[tiplark-obs-plugin] ");

void writeFile(const QString &path, const QByteArray &content)
{
	QFile file(path);
	QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
	file.write(content);
}

void fill(TokenStore &store, const QString &access, const QString &refresh, const QDateTime &expiry)
{
	store.setAccessToken(access);
	store.setRefreshToken(refresh);
	store.setTokenExpiresAt(expiry);
}

const QDateTime EARLIER(QDate(2020, 1, 2), QTime(3, 4, 5));
} // namespace

class TestTokenStore : public QObject {
	Q_OBJECT

private slots:
	void initTestCase() { m_configDir = ObsHostStandIn::configDir(); }

	void init()
	{
		ObsHostStandIn::setConfigDir(m_configDir);
		QDir(m_configDir).removeRecursively();
		QVERIFY(QDir().mkpath(m_configDir));
	}

	void roundTrip_data()
	{
		QTest::addColumn<QString>("access");
		QTest::addColumn<QString>("refresh");
		QTest::addColumn<QDateTime>("expiry");
		QTest::addColumn<QString>("origin");
		QTest::addColumn<QByteArray>("file");

		QTest::newRow("milliseconds are dropped")
			<< "acc"
			<< "ref" << QDateTime(QDate(2025, 3, 1), QTime(12, 34, 56, 789)) << "https://tiplark.pl"
			<< QByteArray(
				   "{\"access_token\":\"acc\",\"api_origin\":\"https://tiplark.pl\",\"expires_at\":\"2025-03-01T12:34:56\",\"oauth_origin\":\"https://tiplark.pl\",\"refresh_token\":\"ref\"}");
		QTest::newRow("invalid expiry is an empty text")
			<< "a.b-c"
			<< "r/+=" << QDateTime() << "http://127.0.0.1:38201"
			<< QByteArray(
				   "{\"access_token\":\"a.b-c\",\"api_origin\":\"http://127.0.0.1:38201\",\"expires_at\":\"\",\"oauth_origin\":\"http://127.0.0.1:38201\",\"refresh_token\":\"r/+=\"}");
		// An origin recorded empty is no file from before origins were recorded.
		QTest::newRow("quotes and non-ASCII survive")
			<< QString::fromUtf8("z\"ó\\") << "" << QDateTime(QDate(1999, 12, 31), QTime(23, 59, 59)) << ""
			<< QByteArray(
				   "{\"access_token\":\"z\\\"ó\\\\\",\"api_origin\":\"\",\"expires_at\":\"1999-12-31T23:59:59\",\"oauth_origin\":\"\",\"refresh_token\":\"\"}");
	}

	void roundTrip()
	{
		QFETCH(QString, access);
		QFETCH(QString, refresh);
		QFETCH(QDateTime, expiry);
		QFETCH(QString, origin);
		QFETCH(QByteArray, file);

		LogCapture log;
		TokenStore saved;
		fill(saved, access, refresh, expiry);
		saved.setOAuthOrigin(origin);
		saved.setApiOrigin(origin);
		saved.save();
		QCOMPARE(readFile(tokenPath()), file);
		QVERIFY(log.contains(LOG_INFO, PREFIX + "Tiplark: Tokens saved"));

		TokenStore loaded;
		fill(loaded, "old", "old", EARLIER);
		loaded.load();
		QCOMPARE(loaded.accessToken(), access);
		QCOMPARE(loaded.refreshToken(), refresh);
		QCOMPARE(loaded.oauthOrigin(), origin);
		QCOMPARE(loaded.apiOrigin(), origin);
		if (expiry.isValid()) {
			QCOMPARE(loaded.tokenExpiresAt(), expiry.addMSecs(-expiry.time().msec()));
		} else {
			// An empty expiry leaves the member as it was.
			QCOMPARE(loaded.tokenExpiresAt(), EARLIER);
		}
		QVERIFY(log.contains(LOG_INFO, PREFIX + "Tiplark: Tokens loaded"));
	}

	void loadIgnoresUnusableFiles_data()
	{
		QTest::addColumn<QByteArray>("content");
		QTest::addColumn<bool>("readsFile");
		QTest::addColumn<QString>("access");
		QTest::addColumn<QString>("refresh");
		QTest::addColumn<QDateTime>("expiry");
		// A file from before the origin was recorded holds production's tokens.
		QTest::addColumn<QString>("origin");

		const QString production = ServiceAddresses::production().oauthOrigin();
		QTest::newRow("invalid JSON") << QByteArray(R"({"access_token":"x",)") << false << "old-a"
					      << "old-r" << EARLIER << "old-o";
		QTest::newRow("array") << QByteArray(R"([{"access_token":"x"}])") << false << "old-a"
				       << "old-r" << EARLIER << "old-o";
		QTest::newRow("empty file") << QByteArray() << false << "old-a"
					    << "old-r" << EARLIER << "old-o";
		QTest::newRow("wrong member types")
			<< QByteArray(R"({"access_token":12,"refresh_token":"r2","expires_at":false,"oauth_origin":1})")
			<< true << ""
			<< "r2" << EARLIER << "";
		QTest::newRow("members missing") << QByteArray("{}") << true << ""
						 << "" << EARLIER << production;
		QTest::newRow("unparsable expiry")
			<< QByteArray(R"({"access_token":"a2","refresh_token":"r2","expires_at":"soon"})") << true
			<< "a2"
			<< "r2" << QDateTime() << production;
	}

	void loadIgnoresUnusableFiles()
	{
		QFETCH(QByteArray, content);
		QFETCH(bool, readsFile);
		QFETCH(QString, access);
		QFETCH(QString, refresh);
		QFETCH(QDateTime, expiry);
		QFETCH(QString, origin);

		writeFile(tokenPath(), content);
		LogCapture log;
		TokenStore store;
		fill(store, "old-a", "old-r", EARLIER);
		store.setOAuthOrigin("old-o");
		store.load();
		QCOMPARE(store.accessToken(), access);
		QCOMPARE(store.refreshToken(), refresh);
		QCOMPARE(store.oauthOrigin(), origin);
		QCOMPARE(store.tokenExpiresAt().isValid(), expiry.isValid());
		if (expiry.isValid())
			QCOMPARE(store.tokenExpiresAt(), expiry);
		QCOMPARE(log.texts(), readsFile ? QStringList{PREFIX + "Tiplark: Tokens loaded"} : QStringList());
	}

	void missingFileLoadsNothing()
	{
		LogCapture log;
		TokenStore store;
		store.load();
		QVERIFY(store.accessToken().isEmpty());
		QVERIFY(store.refreshToken().isEmpty());
		QVERIFY(!store.tokenExpiresAt().isValid());
		QVERIFY(log.texts().isEmpty());
	}

	void unreadableAndUnwritablePathKeepsMembers()
	{
		// A folder where the file should be can be neither read nor replaced, not even by root.
		QVERIFY(QDir().mkpath(tokenPath()));
		LogCapture log;
		TokenStore store;
		fill(store, "a", "r", EARLIER);
		store.load();
		store.save();
		QCOMPARE(store.accessToken(), QStringLiteral("a"));
		QCOMPARE(store.refreshToken(), QStringLiteral("r"));
		QCOMPARE(store.tokenExpiresAt(), EARLIER);
		const QList<LogCapture::Line> lines = log.lines();
		QCOMPARE(lines.size(), 3);
		QCOMPARE(lines[0].level, LOG_WARNING);
		QCOMPARE(lines[0].text, PREFIX + "Tiplark: Failed to open token file");
		QCOMPARE(lines[1].level, LOG_WARNING);
		QCOMPARE(lines[1].text, PREFIX + "Tiplark: Failed to save token file");
		QCOMPARE(lines[2].level, LOG_WARNING);
		QVERIFY(lines[2].text.startsWith(PREFIX + "Tiplark: Token file error: "));
	}

	void refusedTokenFile_data()
	{
		QTest::addColumn<bool>("link");
		QTest::addColumn<QString>("reason");
		QTest::newRow("symbolic link to a sign-in")
			<< true << "Tiplark: The token file is a symbolic link, not followed";
		QTest::newRow("larger than 64 KiB")
			<< false << "Tiplark: The token file is larger than 65536 bytes, not read";
	}

	void refusedTokenFile()
	{
		// A link would lend the sign-in to a file elsewhere, written at every save and kept at sign-out;
		// a huge file would be read whole on the GUI thread at OBS's start.
		QFETCH(bool, link);
		QFETCH(QString, reason);
		const QString target = QDir(m_configDir).filePath("elsewhere.json");
		const QByteArray signIn = R"({"access_token":"t-a","refresh_token":"t-r"})";
		if (link) {
			writeFile(target, signIn);
			QVERIFY(QFile::link(target, tokenPath()));
		} else {
			writeFile(tokenPath(), signIn + QByteArray(70 * 1024, ' '));
		}

		LogCapture log;
		TokenStore store;
		store.load();
		QVERIFY(store.refreshToken().isEmpty());
		QCOMPARE(log.texts(), (QStringList{PREFIX + "Tiplark: Failed to open token file", PREFIX + reason}));

		fill(store, "a", "r", EARLIER);
		QVERIFY(store.save());
		QVERIFY(!QFileInfo(tokenPath()).isSymLink());
		QVERIFY(readFile(tokenPath()).contains(R"("refresh_token":"r")"));
		if (link)
			QCOMPARE(readFile(target), signIn);

		QVERIFY(store.clear());
		QVERIFY(!QFileInfo::exists(tokenPath()));
		if (link)
			QCOMPARE(readFile(target), signIn);
	}

	void pipeIsNoTokenFile_data()
	{
		QTest::addColumn<bool>("throughLink");
		QTest::newRow("named pipe") << false;
		QTest::newRow("link to a named pipe") << true;
	}

	void pipeIsNoTokenFile()
	{
		// Opening a pipe for reading waits for a writer: at OBS's start that would hang the GUI thread.
		QFETCH(bool, throughLink);
		const QString pipe = throughLink ? QDir(m_configDir).filePath("elsewhere") : tokenPath();
		QCOMPARE(mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
		if (throughLink)
			QVERIFY(QFile::link(pipe, tokenPath()));

		// Stands in for the writer that would never come, so that a load stuck in open() still ends.
		std::atomic<bool> loadDone{false};
		std::atomic<bool> readerWasWaiting{false};
		std::thread writer([&] {
			const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
			while (!loadDone && std::chrono::steady_clock::now() < deadline) {
				const int fd = ::open(QFile::encodeName(pipe).constData(), O_WRONLY | O_NONBLOCK);
				if (fd >= 0) {
					readerWasWaiting = true;
					::close(fd);
					return;
				}
				std::this_thread::sleep_for(std::chrono::milliseconds(20));
			}
		});

		LogCapture log;
		TokenStore store;
		fill(store, "a", "r", EARLIER);
		store.load();
		loadDone = true;
		writer.join();
		QVERIFY(!readerWasWaiting);
		QCOMPARE(store.accessToken(), QStringLiteral("a"));
		QCOMPARE(store.tokenExpiresAt(), EARLIER);
		const QList<LogCapture::Line> lines = log.lines();
		QCOMPARE(lines.size(), throughLink ? 2 : 1);
		QCOMPARE(lines[0].level, LOG_WARNING);
		QCOMPARE(lines[0].text, PREFIX + "Tiplark: Failed to open token file");
	}

	void noPathFromTheHost()
	{
		ObsHostStandIn::setConfigDir(QString());
		LogCapture log;
		TokenStore store;
		fill(store, "a", "r", EARLIER);
		store.load();
		QVERIFY(!store.save());
		QVERIFY(store.clear());
		QCOMPARE(log.texts().size(), 3);
		QCOMPARE(log.texts()[0], PREFIX + "Tiplark: Failed to save token file");
		QVERIFY(log.texts()[1].startsWith(PREFIX + "Tiplark: Token file error: "));
		QCOMPARE(log.texts()[2], PREFIX + "Tiplark: Tokens cleared");
	}

	void everyOperationCreatesTheFolder_data()
	{
		QTest::addColumn<int>("operation");
		QTest::newRow("load") << 0;
		QTest::newRow("save") << 1;
		QTest::newRow("clear") << 2;
	}

	void everyOperationCreatesTheFolder()
	{
		QFETCH(int, operation);
		const QString base = ObsHostStandIn::configDir();
		QDir(base).removeRecursively();
		ObsHostStandIn::setConfigDir(QDir(base).filePath("deeper/still"));
		QVERIFY(!QDir(ObsHostStandIn::configDir()).exists());

		TokenStore store;
		if (operation == 0)
			store.load();
		else if (operation == 1)
			store.save();
		else
			store.clear();
		QVERIFY(QDir(ObsHostStandIn::configDir()).exists());
		QCOMPARE(QFile::exists(tokenPath()), operation == 1);
		QCOMPARE(modeBits(ObsHostStandIn::configDir()), 0700u);
	}

	void existingFolderLosesOthersRights()
	{
		QCOMPARE(chmod(QFile::encodeName(m_configDir).constData(), 0775), 0);
		TokenStore().load();
		QCOMPARE(modeBits(m_configDir), 0700u);
	}

	void savedFileIsTheOwnersOnly()
	{
		// Even a file that others could read before is replaced by an owner-only one.
		writeFile(tokenPath(), "{}");
		QVERIFY(QFile::setPermissions(tokenPath(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
								   QFileDevice::ReadGroup | QFileDevice::ReadOther));
		QCOMPARE(modeBits(tokenPath()), 0644u);

		TokenStore store;
		fill(store, "a", "r", EARLIER);
		store.save();
		QCOMPARE(modeBits(tokenPath()), 0600u);
		QFile::remove(tokenPath());
		store.save();
		QCOMPARE(modeBits(tokenPath()), 0600u);
	}

	void failedWriteKeepsTheOldFile()
	{
		TokenStore store;
		fill(store, "good-access", "good-refresh", EARLIER);
		store.save();
		const QByteArray before = readFile(tokenPath());

		// Let the write fail part-way, as on a full disk: the process may write no more than 4 KiB into
		// any file, while the new content is far larger.
		store.setAccessToken(QString(200000, 'x'));
		LogCapture log;
		struct rlimit old{};
		QCOMPARE(getrlimit(RLIMIT_FSIZE, &old), 0);
		const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
		struct rlimit small = old;
		small.rlim_cur = 4096;
		QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
		store.save();
		setrlimit(RLIMIT_FSIZE, &old);
		std::signal(SIGXFSZ, oldHandler);

		QCOMPARE(log.texts().size(), 2);
		QCOMPARE(log.texts()[0], PREFIX + "Tiplark: Failed to save token file");
		QCOMPARE(log.lines().value(0).level, LOG_WARNING);
		QVERIFY(log.texts()[1].startsWith(PREFIX + "Tiplark: Token file error: "));
		QCOMPARE(readFile(tokenPath()), before);
		QCOMPARE(QDir(ObsHostStandIn::configDir()).entryList(QDir::Files | QDir::Hidden),
			 QStringList{"tokens.json"});
		QCOMPARE(store.accessToken().size(), 200000);
	}

	void settersAloneWriteNothing()
	{
		TokenStore store;
		fill(store, "a", "r", EARLIER);
		QVERIFY(!QFile::exists(tokenPath()));
		store.save();
		const QByteArray saved = readFile(tokenPath());
		fill(store, "b", "s", QDateTime());
		QCOMPARE(readFile(tokenPath()), saved);
	}

	void clearForgetsEverything_data()
	{
		QTest::addColumn<bool>("fileThere");
		QTest::newRow("with a file") << true;
		QTest::newRow("without a file") << false;
	}

	void clearForgetsEverything()
	{
		QFETCH(bool, fileThere);
		TokenStore store;
		fill(store, "a", "r", EARLIER);
		store.setOAuthOrigin("https://tiplark.pl");
		if (fileThere)
			store.save();
		LogCapture log;
		store.clear();
		QVERIFY(!QFile::exists(tokenPath()));
		QVERIFY(store.accessToken().isEmpty());
		QVERIFY(store.refreshToken().isEmpty());
		QVERIFY(!store.tokenExpiresAt().isValid());
		QVERIFY(store.oauthOrigin().isEmpty());
		QCOMPARE(log.texts(), QStringList{PREFIX + "Tiplark: Tokens cleared"});
		QCOMPARE(log.lines().value(0).level, LOG_INFO);

		TokenStore reloaded;
		reloaded.load();
		QVERIFY(reloaded.refreshToken().isEmpty());
	}

private:
	QString m_configDir;
};

TIPLARK_TEST_MAIN(TestTokenStore)
#include "test-token-store.moc"
