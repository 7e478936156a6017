#include "log-capture.h"
#include "plugin-support.h"
#include "test-main.h"

#include <QThread>

class TestPluginSupport : public QObject {
	Q_OBJECT

private slots:
	void identity()
	{
		QCOMPARE(QString::fromUtf8(PLUGIN_NAME), QStringLiteral("tiplark-obs-plugin"));
		QCOMPARE(QString::fromUtf8(PLUGIN_VERSION), QStringLiteral("1.0.0"));
	}

	void prefixesEveryLineAndKeepsTheLevel()
	{
		LogCapture log;
		obs_log(LOG_INFO, "Tiplark: Tokens loaded");
		obs_log(LOG_ERROR, "x");
		obs_log(LOG_DEBUG, "");
		const auto lines = log.lines();
		QCOMPARE(lines.size(), 3);
		QCOMPARE(lines[0].level, LOG_INFO);
		QCOMPARE(lines[0].text, QStringLiteral("[tiplark-obs-plugin] Tiplark: Tokens loaded"));
		QCOMPARE(lines[1].level, LOG_ERROR);
		QCOMPARE(lines[1].text, QStringLiteral("[tiplark-obs-plugin] x"));
		QCOMPARE(lines[2].level, LOG_DEBUG);
		QCOMPARE(lines[2].text, QStringLiteral("[tiplark-obs-plugin] "));
	}

	void appliesTheCallersDirectivesOnly()
	{
		LogCapture log;
		obs_log(LOG_WARNING, "Tiplark: %s=%d (%ld) %.2f %%", "key", -7, 123456789012L, 2.5);
		// A directive-looking text passed as an argument must arrive verbatim.
		obs_log(LOG_INFO, "msg: %s", "%s %d %n");
		QCOMPARE(log.texts(),
			 QStringList({QStringLiteral("[tiplark-obs-plugin] Tiplark: key=-7 (123456789012) 2.50 %"),
				      QStringLiteral("[tiplark-obs-plugin] msg: %s %d %n")}));
	}

	void longFormatIsNotCut()
	{
		LogCapture log;
		const QByteArray format = QByteArray(5000, 'a') + "%s";
		obs_log(LOG_INFO, format.constData(), "end");
		QCOMPARE(log.texts().value(0), QStringLiteral("[tiplark-obs-plugin] ") + QString(5000, 'a') + "end");
	}

	void callableFromWorkerThreads()
	{
		LogCapture log;
		QList<QThread *> threads;
		for (int t = 0; t < 4; ++t) {
			threads.append(QThread::create([t] {
				for (int i = 0; i < 100; ++i)
					obs_log(LOG_DEBUG, "worker %d line %d", t, i);
			}));
			threads.last()->start();
		}
		for (QThread *thread : threads) {
			QVERIFY(thread->wait(10000));
			delete thread;
		}
		QCOMPARE(log.lines().size(), 400);
		QVERIFY(log.texts().contains(QStringLiteral("[tiplark-obs-plugin] worker 3 line 99")));
	}
};

TIPLARK_TEST_MAIN(TestPluginSupport)
#include "test-plugin-support.moc"
