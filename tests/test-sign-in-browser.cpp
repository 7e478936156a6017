#include "auth/auth-manager.h"
#include "browser-stand-in.h"
#include "log-capture.h"
#include "plugin-support.h"
#include "sandbox-server.h"
#include "sandbox-sign-in.h"
#include "test-main.h"

#include <QColor>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <sys/stat.h>

// The whole sign-in with a real browser: Chromium opens the sandbox's authorization page, follows its
// redirect to the plug-in's listener and shows the page the listener answers with.
class TestSignInBrowser : public QObject {
	Q_OBJECT

private slots:
	void signInWithChromium()
	{
		const QString chromiumPath = QStringLiteral("/usr/bin/chromium");
		QVERIFY2(QFile::exists(chromiumPath), "chromium is installed by scripts/install-deps.sh");
		Sandbox::Server sandbox;
		QVERIFY(sandbox.start());
		UrlCatcher browser;
		QDesktopServices::setUrlHandler("http", &browser, "open");

		LogCapture log;
		AuthManager auth(sandboxAddresses(sandbox));
		QSignalSpy outcomes(&auth, &AuthManager::authenticationComplete);
		auth.startLogin();
		QDesktopServices::unsetUrlHandler("http");
		QCOMPARE(browser.urls.size(), 1);

		QTemporaryDir profile;
		const QString screenshot = QDir(TIPLARK_TEST_OUTPUT_DIR).filePath("sign-in-success.png");
		QFile::remove(screenshot);
		QProcess chromium;
		chromium.setProcessChannelMode(QProcess::MergedChannels);
		chromium.start(chromiumPath,
			       {"--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
				"--disable-background-networking", "--disable-component-update", "--disable-sync",
				"--no-proxy-server", "--hide-scrollbars", "--window-size=800,600",
				"--user-data-dir=" + profile.path(), "--screenshot=" + screenshot,
				QString::fromLatin1(browser.urls.first().toEncoded())});
		QVERIFY(chromium.waitForStarted());
		QSignalSpy finished(&chromium, qOverload<int, QProcess::ExitStatus>(&QProcess::finished));

		QTRY_VERIFY_WITH_TIMEOUT(outcomes.size() == 1 || finished.size() == 1, 90000);
		QVERIFY2(finished.size() == 1 || finished.wait(60000), chromium.readAll().constData());
		const QByteArray output = chromium.readAll();
		QCOMPARE(outcomes.size(), 1);
		QVERIFY2(outcomes[0][0].toBool(), output.constData());

		// The listener's answer, as Chromium drew it: the green success circle, no red error circle.
		const QImage page(screenshot);
		QVERIFY2(!page.isNull(), output.constData());
		int green = 0, red = 0;
		for (int y = 0; y < page.height(); ++y) {
			for (int x = 0; x < page.width(); ++x) {
				const QColor pixel = page.pixelColor(x, y);
				green += pixel == QColor(0x27, 0xae, 0x60) ? 1 : 0;
				red += pixel == QColor(0xc0, 0x39, 0x2b) ? 1 : 0;
			}
		}
		QVERIFY2(green > 1000, qPrintable(QString::number(green)));
		QCOMPARE(red, 0);

		QVERIFY(auth.isAuthenticated());
		const QString tokens = QDir(ObsHostStandIn::configDir()).filePath("tokens.json");
		struct stat info{};
		QCOMPARE(stat(QFile::encodeName(tokens).constData(), &info), 0);
		QCOMPARE(info.st_mode & 07777, 0600u);
		QVERIFY(log.contains(LOG_INFO,
				     "[tiplark-obs-plugin] Tiplark: Authentication successful, tokens saved"));
		QCOMPARE(sandbox.requests("/oauth/authorize").size(), 1);
		QCOMPARE(sandbox.requests("/oauth/token").size(), 1);
	}
};

TIPLARK_TEST_MAIN(TestSignInBrowser)
#include "test-sign-in-browser.moc"
