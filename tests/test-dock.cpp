#include "auth/auth-manager.h"
#include "auth/token-store.h"
#include "browser-stand-in.h"
#include "log-capture.h"
#include "oauth-endpoints.h"
#include "plugin-support.h"
#include "sandbox-server.h"
#include "settle.h"
#include "sandbox-sign-in.h"
#include "test-main.h"
#include "token-file.h"
#include "tiplark-dock.h"

#include <QCursor>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QMutexLocker>
#include <QPushButton>
#include <QTimer>

#include <ctime>

namespace {
const QString P = QStringLiteral("[tiplark-obs-plugin] ");

QPushButton *button(QWidget *root, const QString &text)
{
	for (auto *candidate : root->findChildren<QPushButton *>())
		if (candidate->text() == text)
			return candidate;
	return nullptr;
}

QListWidget *list(QWidget *root, const QString &title)
{
	for (auto *group : root->findChildren<QGroupBox *>())
		if (group->title() == title)
			return group->findChild<QListWidget *>();
	return nullptr;
}

QListWidget *pendingList(QWidget *dock)
{
	return list(dock, QStringLiteral("Oczekujące na moderację"));
}

QListWidget *donationsList(QWidget *dock)
{
	return list(dock, QStringLiteral("Ostatnie wpłaty"));
}

// The login row's label is the only one placed directly on the dock.
QString statusText(QWidget *dock)
{
	for (auto *candidate : dock->findChildren<QLabel *>(QString(), Qt::FindDirectChildrenOnly))
		return candidate->text();
	return QString();
}

QStringList rowTexts(QListWidget *list, int row)
{
	QStringList texts;
	for (auto *label : list->itemWidget(list->item(row))->findChildren<QLabel *>())
		texts << label->text();
	return texts;
}

QJsonObject donation(const QString &id, const QString &nickname, const QString &message)
{
	return QJsonObject{{"id", id},
			   {"nickname", nickname},
			   {"message_content", message},
			   {"amount", 25},
			   {"currency", "PLN"},
			   {"payment_method", "blik"},
			   {"goal", QJsonObject{{"name", "Nowa kamera"}}},
			   {"created_at", "2024-05-01T12:30:00Z"}};
}

// "a b*": records a and b named after their ids, b with another message.
QList<DonationMessage> records(const QString &names)
{
	QList<DonationMessage> list;
	for (const QString &name : names.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
		const QString id = QString(name).remove('*');
		list << DonationMessage::fromJson(donation(id, id, name.endsWith('*') ? "inna" : "hej"));
	}
	return list;
}

// Closes each message box the dock opens, keeping its title and text.
class MessageBoxCatcher {
public:
	MessageBoxCatcher()
	{
		QObject::connect(&m_timer, &QTimer::timeout, [this] {
			if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
				seen << box->windowTitle() << box->text();
				box->done(QMessageBox::Ok);
			}
		});
		m_timer.start(20);
	}

	QStringList seen;

private:
	QTimer m_timer;
};
} // namespace

class TestDock : public QObject {
	Q_OBJECT

	Sandbox::Server m_sandbox;

	void signIn() { saveSandboxSignIn(m_sandbox); }

	// Requests sent together arrive in any order: sorted.
	QStringList paths()
	{
		QStringList result;
		for (const auto &request : m_sandbox.requests())
			result << QString::fromUtf8(request.method + " " + request.path);
		result.sort();
		return result;
	}

	static void tick(TiplarkDock &dock) { QVERIFY(QMetaObject::invokeMethod(&dock, "pollData")); }

private slots:
	void initTestCase()
	{
		// Far from UTC: times must be shown as the service sent them, not converted.
		qputenv("TZ", "Pacific/Kiritimati");
		tzset();
		qRegisterMetaType<QList<DonationMessage>>();
		QVERIFY(m_sandbox.start());
	}

	void init()
	{
		m_sandbox.reset();
		m_sandbox.state().set("api.update", QVariantMap{{"version", "1.0.0"}});
		m_sandbox.state().set("api.userName", "Streamer");
		TokenStore().clear();
	}

	void cleanup() { QVERIFY(settleBackgroundRequests()); }

	void cleanupTestCase() { m_sandbox.stop(); }

	void withoutTokensOnlyTheUpdateCheckIsSent()
	{
		TiplarkDock dock(sandboxAddresses(m_sandbox));
		QVERIFY(settleBackgroundRequests());
		QCOMPARE(paths(), QStringList{"GET /extensions/details/obs"});
		QVERIFY(!button(&dock, "Zaloguj")->isHidden());
		QVERIFY(button(&dock, "Wyloguj")->isHidden());
		QVERIFY(!button(&dock, "Pomiń")->isEnabled());
		QCOMPARE(statusText(&dock), QStringLiteral("Nie zalogowano"));
		QVERIFY(!dock.findChild<QTimer *>()->isActive());
	}

	void withStoredTokensTheDockSignsInAtOnce()
	{
		signIn();
		m_sandbox.state().set("api.moderationEnabled", true);
		TiplarkDock dock(sandboxAddresses(m_sandbox));
		// Before any answer: the signed-in controls, all three moderation buttons enabled.
		QVERIFY(button(&dock, "Zaloguj")->isHidden());
		QVERIFY(!button(&dock, "Wyloguj")->isHidden());
		for (const char *text : {"Włącz moderację", "Pomiń", "Wyłącz moderację"})
			QVERIFY2(button(&dock, text)->isEnabled(), text);
		QTimer *timer = dock.findChild<QTimer *>();
		QVERIFY(timer->isActive());
		QCOMPARE(timer->interval(), 5000);

		QVERIFY(settleBackgroundRequests());
		QCOMPARE(paths(), (QStringList{"GET /extensions/details/obs", "GET /v1/me", "GET /v1/moderation"}));
		QCOMPARE(statusText(&dock), QStringLiteral("Streamer"));
		QVERIFY(!button(&dock, "Włącz moderację")->isEnabled());
		QVERIFY(button(&dock, "Wyłącz moderację")->isEnabled());
		QCOMPARE(button(&dock, "Wyłącz moderację")->styleSheet(), QStringLiteral("background-color: #c0392b;"));
		QCOMPARE(button(&dock, "Włącz moderację")->styleSheet(), QString());
		QVERIFY(button(&dock, "Pomiń")->isEnabled());
	}

	void eachTickAsksForWhatTheLastStatusAllows()
	{
		signIn();
		m_sandbox.state().set("api.moderationEnabled", false);
		TiplarkDock dock(sandboxAddresses(m_sandbox));
		QVERIFY(settleBackgroundRequests());
		QCOMPARE(button(&dock, "Włącz moderację")->styleSheet(), QStringLiteral("background-color: #27ae60;"));
		QVERIFY(!button(&dock, "Wyłącz moderację")->isEnabled());

		m_sandbox.clearRequests();
		tick(dock);
		QVERIFY(settleBackgroundRequests());
		QCOMPARE(paths(), (QStringList{"GET /v1/donations", "GET /v1/moderation"}));

		QVERIFY(QMetaObject::invokeMethod(&dock, "onModerationStatusReceived", Q_ARG(bool, true)));
		m_sandbox.clearRequests();
		tick(dock);
		QVERIFY(settleBackgroundRequests());
		QCOMPARE(paths(), (QStringList{"GET /v1/donations", "GET /v1/moderation",
					       "GET /v1/moderation/moderate/pending-messages"}));
	}

	void buttonsSendTheirRequests()
	{
		signIn();
		TiplarkDock dock(sandboxAddresses(m_sandbox));
		QVERIFY(settleBackgroundRequests());
		m_sandbox.clearRequests();
		button(&dock, "Wyłącz moderację")->setEnabled(true);
		button(&dock, "Pomiń")->click();
		button(&dock, "Wyłącz moderację")->click();
		QVERIFY(settleBackgroundRequests());
		QCOMPARE(paths(), (QStringList{"PATCH /v1/moderation", "POST /v1/donations/queue/skip"}));
		QVERIFY(!button(&dock, "Wyłącz moderację")->isEnabled()); // the service confirmed "off"
	}

	void logoutEmptiesTheDock()
	{
		signIn();
		m_sandbox.state().set("api.moderationEnabled", true);
		TiplarkDock dock(sandboxAddresses(m_sandbox));
		QVERIFY(settleBackgroundRequests());
		QVERIFY(QMetaObject::invokeMethod(&dock, "onDonationsReceived",
						  Q_ARG(QList<DonationMessage>,
							{DonationMessage::fromJson(donation("d1", "Ala", "hej"))})));
		QCOMPARE(donationsList(&dock)->count(), 1);

		button(&dock, "Wyloguj")->click();
		QCOMPARE(statusText(&dock), QStringLiteral("Nie zalogowano"));
		QCOMPARE(donationsList(&dock)->count(), 0);
		QVERIFY(!button(&dock, "Zaloguj")->isHidden());
		QVERIFY(!button(&dock, "Wyłącz moderację")->isEnabled());
		// The colours stay until the next status report.
		QCOMPARE(button(&dock, "Wyłącz moderację")->styleSheet(), QStringLiteral("background-color: #c0392b;"));
		QVERIFY(!dock.findChild<QTimer *>()->isActive());
		QVERIFY(!QFile::exists(tokenPath()));
	}

	void lostSignInShowsTheSignedOutLookAtOnce()
	{
		signIn();
		TiplarkDock dock(sandboxAddresses(m_sandbox));
		QVERIFY(settleBackgroundRequests());
		// The service rejects both tokens: the refresh fails and signs the streamer out.
		Sandbox::OAuth::expireAccessTokens(m_sandbox.state());
		m_sandbox.state().set(Sandbox::OAuth::REFRESH_TOKENS, QVariantMap());
		LogCapture log;
		tick(dock);
		QVERIFY(settleBackgroundRequests());
		QVERIFY(log.contains(LOG_INFO, P + "Tiplark: Logged out"));

		tick(dock);
		QVERIFY(!button(&dock, "Zaloguj")->isHidden());
		QVERIFY(button(&dock, "Wyloguj")->isHidden());
		QVERIFY(!button(&dock, "Pomiń")->isEnabled());
		QCOMPARE(statusText(&dock), QStringLiteral("Nie zalogowano"));
		QVERIFY(!dock.findChild<QTimer *>()->isActive());
	}

	void failedLoginShowsOneWarning()
	{
		TiplarkDock dock(sandboxAddresses(m_sandbox));
		QVERIFY(settleBackgroundRequests());
		MessageBoxCatcher boxes;
		const QStringList &seen = boxes.seen;
		LogCapture log;
		QVERIFY(QMetaObject::invokeMethod(&dock, "onAuthenticationComplete", Q_ARG(bool, false)));
		QCOMPARE(seen, (QStringList{"Błąd logowania", "Nie udało się zalogować do Tiplark"}));
		QCOMPARE(log.texts(), QStringList(P + "Tiplark: Authentication failed"));
		QVERIFY(!button(&dock, "Zaloguj")->isHidden());
	}

	void tokenFileFailureIsToldOnce()
	{
		signIn();
		TiplarkDock dock(sandboxAddresses(m_sandbox));
		QVERIFY(settleBackgroundRequests());
		MessageBoxCatcher boxes;
		const QStringList &seen = boxes.seen;
		// A folder in the file's place cannot be deleted, not even by root.
		QFile::remove(tokenPath());
		QVERIFY(QDir().mkpath(QDir(tokenPath()).filePath("inside")));
		button(&dock, "Wyloguj")->click();
		button(&dock, "Wyloguj")->click();
		QTRY_COMPARE(seen, (QStringList{"Dane logowania",
						"Nie udało się usunąć zapisanych danych logowania. Po "
						"ponownym uruchomieniu OBS możesz zostać zalogowany ponownie."}));
		QTest::qWait(200);
		QCOMPARE(seen.size(), 2);
		QDir(tokenPath()).removeRecursively();
	}

	void userInfoWithoutANameKeepsTheLabel()
	{
		signIn();
		m_sandbox.state().set("api.userName", QVariant());
		TiplarkDock dock(sandboxAddresses(m_sandbox));
		QVERIFY(settleBackgroundRequests());
		QCOMPARE(statusText(&dock), QStringLiteral("Nie zalogowano"));
		QVERIFY(!button(&dock, "Wyloguj")->isHidden());
	}

	void updateBanner_data()
	{
		QTest::addColumn<QString>("url");
		QTest::addColumn<bool>("offered");
		QTest::newRow("https") << "https://tiplark.pl/obs" << true;
		QTest::newRow("http") << "http://tiplark.pl/obs" << true;
		QTest::newRow("no address") << "" << false;
		QTest::newRow("file") << "file:///home/streamer/.bashrc" << false;
		QTest::newRow("custom handler") << "tiplark-installer://run" << false;
		QTest::newRow("javascript") << "javascript:alert(1)" << false;
	}

	void updateBanner()
	{
		QFETCH(QString, url);
		QFETCH(bool, offered);
		UrlCatcher sink;
		for (const char *scheme : {"http", "https", "file", "tiplark-installer", "javascript"})
			QDesktopServices::setUrlHandler(scheme, &sink, "open");

		TiplarkDock dock(sandboxAddresses(m_sandbox));
		QVERIFY(settleBackgroundRequests());
		QPushButton *download = button(&dock, "Pobierz");
		QVERIFY(download->parentWidget()->isHidden());
		LogCapture log;
		QVERIFY(QMetaObject::invokeMethod(&dock, "onUpdateAvailable", Q_ARG(QString, "1.2.0"),
						  Q_ARG(QString, url)));
		QCOMPARE(!download->parentWidget()->isHidden(), offered);
		QVERIFY(log.contains(LOG_INFO, P + "Tiplark: Update available: 1.2.0"));
		QCOMPARE(log.texts(LOG_WARNING).size(), !offered && !url.isEmpty() ? 1 : 0);

		download->click();
		QCOMPARE(sink.urls, offered ? QList<QUrl>{QUrl(url)} : QList<QUrl>());
		for (const char *scheme : {"http", "https", "file", "tiplark-installer", "javascript"})
			QDesktopServices::unsetUrlHandler(scheme);
	}

	void bannerStaysOnceShown()
	{
		TiplarkDock dock(sandboxAddresses(m_sandbox));
		QVERIFY(settleBackgroundRequests());
		QVERIFY(QMetaObject::invokeMethod(&dock, "onUpdateAvailable", Q_ARG(QString, "1.2.0"),
						  Q_ARG(QString, "https://a.example/1")));
		QVERIFY(QMetaObject::invokeMethod(&dock, "onUpdateAvailable", Q_ARG(QString, "1.3.0"),
						  Q_ARG(QString, "")));
		QVERIFY(!button(&dock, "Pobierz")->parentWidget()->isHidden());
	}

	void rowsShowTheRecords()
	{
		TiplarkDock dock(sandboxAddresses(m_sandbox));
		// Service text is never markup (an image could load a local file and stretch the dock), and a very
		// long one is cut, whole in its tooltip.
		const QString image = R"(<img src="file:///etc/hostname" width=4000>)";
		QJsonObject markup = donation("m-1", "<b>Ala</b>", "<i>hej</i> & <script>");
		markup.insert("currency", "<b>PLN</b>");
		markup.insert("goal", QJsonObject{{"name", image}});
		QJsonObject plain = donation("m-2", QString(200, 'N'), "");
		plain.remove("goal");
		const QList<DonationMessage> records{DonationMessage::fromJson(markup),
						     DonationMessage::fromJson(plain)};
		QVERIFY(QMetaObject::invokeMethod(&dock, "onPendingMessagesReceived",
						  Q_ARG(QList<DonationMessage>, records)));
		QVERIFY(QMetaObject::invokeMethod(&dock, "onDonationsReceived",
						  Q_ARG(QList<DonationMessage>, records)));
		QVERIFY(QMetaObject::invokeMethod(&dock, "onUserInfoReceived", Q_ARG(QString, image)));
		QCOMPARE(statusText(&dock), image);
		QCOMPARE(dock.findChild<QLabel *>(QString(), Qt::FindDirectChildrenOnly)->textFormat(), Qt::PlainText);

		for (QListWidget *view : {pendingList(&dock), donationsList(&dock)}) {
			QCOMPARE(view->count(), 2);
			QCOMPARE(rowTexts(view, 0), (QStringList{"<b>Ala</b>", "<i>hej</i> & <script>",
								 "25.00 <b>PLN</b>", "01.05 12:30", "| " + image}));
			// An empty message and goal leave their labels out.
			QCOMPARE(rowTexts(view, 1),
				 (QStringList{QString(79, 'N') + QChar(0x2026), "25.00 PLN", "01.05 12:30"}));
			QCOMPARE(view->itemWidget(view->item(1))->findChild<QLabel *>()->toolTip(), QString(200, 'N'));
			for (int row = 0; row < 2; ++row) {
				QWidget *widget = view->itemWidget(view->item(row));
				QCOMPARE(view->item(row)->sizeHint().height(), widget->sizeHint().height() + 8);
				QVERIFY(widget->sizeHint().width() < 1000);
				for (const QLabel *label : widget->findChildren<QLabel *>())
					QCOMPARE(label->textFormat(), Qt::PlainText);
			}
		}

		// Buttons only on pending rows, each carrying its message's id.
		QCOMPARE(donationsList(&dock)
				 ->itemWidget(donationsList(&dock)->item(0))
				 ->findChildren<QPushButton *>()
				 .size(),
			 0);
		QWidget *firstPending = pendingList(&dock)->itemWidget(pendingList(&dock)->item(0));
		QPushButton *accept = button(firstPending, "✓");
		QPushButton *reject = button(firstPending, "✗");
		QVERIFY(accept && reject);
		QCOMPARE(accept->size(), QSize(28, 28));
		QCOMPARE(accept->styleSheet(),
			 QStringLiteral("background-color: #27ae60; color: white; font-weight: bold; padding: 0px;"));
		QCOMPARE(accept->property("messageId").toString(), QStringLiteral("m-1"));
		QCOMPARE(reject->property("messageId").toString(), QStringLiteral("m-1"));
	}

	void answersUpdateRowsInPlace_data()
	{
		QTest::addColumn<QString>("before");
		QTest::addColumn<QString>("after"); // "b*": b with a new message
		QTest::addColumn<QString>("kept");  // the rows that keep their widgets
		QTest::newRow("identical") << "a b c" << "a b c" << "a b c";
		QTest::newRow("new on top") << "b c" << "a b c" << "b c";
		QTest::newRow("oldest dropped") << "a b c" << "a b" << "a b";
		QTest::newRow("middle gone") << "a b c" << "a c" << "a c";
		QTest::newRow("changed redrawn") << "a b c" << "a b* c" << "a c";
		QTest::newRow("moved up") << "a b c" << "c a b" << "a b";
		QTest::newRow("emptied") << "a b" << "" << "";
		QTest::newRow("twice the same id") << "a a b" << "a b b" << "a b";
	}

	void answersUpdateRowsInPlace()
	{
		QFETCH(QString, before);
		QFETCH(QString, after);
		QFETCH(QString, kept);
		TiplarkDock dock(sandboxAddresses(m_sandbox));
		for (const char *slot : {"onPendingMessagesReceived", "onDonationsReceived"}) {
			QListWidget *view = slot[2] == 'P' ? pendingList(&dock) : donationsList(&dock);
			QVERIFY(QMetaObject::invokeMethod(&dock, slot, Q_ARG(QList<DonationMessage>, records(before))));
			QSet<QWidget *> old;
			for (int row = 0; row < view->count(); ++row)
				old << view->itemWidget(view->item(row));
			const QList<DonationMessage> next = records(after);
			QVERIFY(QMetaObject::invokeMethod(&dock, slot, Q_ARG(QList<DonationMessage>, next)));
			QCOMPARE(view->count(), next.size());
			QStringList stayed;
			for (int row = 0; row < view->count(); ++row) {
				QWidget *widget = view->itemWidget(view->item(row));
				QCOMPARE(rowTexts(view, row).mid(0, 2), (QStringList{next[row].id, next[row].message}));
				if (old.contains(widget))
					stayed << next[row].id;
				if (view == pendingList(&dock))
					QCOMPARE(button(widget, "✓")->property("messageId").toString(), next[row].id);
			}
			QCOMPARE(stayed.join(' '), kept);
		}
	}

	void aScrolledListKeepsItsTopRow_data()
	{
		QTest::addColumn<int>("scrolledTo");
		QTest::addColumn<bool>("pointedAt");
		QTest::addColumn<int>("topAfter"); // after one record came in on top
		QTest::newRow("at the top") << 0 << false << 0;
		QTest::newRow("at the top, pointed at") << 0 << true << 1;
		QTest::newRow("scrolled down") << 40 << false << 41;
	}

	void aScrolledListKeepsItsTopRow()
	{
		QFETCH(int, scrolledTo);
		QFETCH(bool, pointedAt);
		QFETCH(int, topAfter);
		TiplarkDock dock(sandboxAddresses(m_sandbox));
		dock.show();
		QVERIFY(QTest::qWaitForWindowExposed(&dock));
		QString names = QStringLiteral("x");
		for (int i = 1; i < 100; ++i)
			names += QStringLiteral(" %1").arg(i);
		QListWidget *view = donationsList(&dock);
		QVERIFY(QMetaObject::invokeMethod(&dock, "onDonationsReceived",
						  Q_ARG(QList<DonationMessage>, records(names))));
		view->scrollToItem(view->item(scrolledTo), QAbstractItemView::PositionAtTop);
		QCursor::setPos(pointedAt ? view->viewport()->mapToGlobal(QPoint(20, 20)) : QPoint(-100, -100));
		QVERIFY(QMetaObject::invokeMethod(&dock, "onDonationsReceived",
						  Q_ARG(QList<DonationMessage>, records("new " + names))));
		QApplication::processEvents();
		QCOMPARE(view->row(view->itemAt(1, 1)), topAfter);
	}

	void aStaleTokenAtStartStillGetsTheName()
	{
		// A day-old token at start: the user read is refused, a refresh mends it.
		signIn();
		Sandbox::OAuth::expireAccessTokens(m_sandbox.state());
		TiplarkDock dock(sandboxAddresses(m_sandbox));
		QVERIFY(settleBackgroundRequests());
		QCOMPARE(statusText(&dock), QStringLiteral("Streamer"));
	}

	void rowButtonsModerate()
	{
		signIn();
		TiplarkDock dock(sandboxAddresses(m_sandbox));
		QVERIFY(settleBackgroundRequests());
		const QList<DonationMessage> records{DonationMessage::fromJson(donation("m-1", "Ala", "hej")),
						     DonationMessage::fromJson(donation("m-2", "Olek", "cześć"))};
		QVERIFY(QMetaObject::invokeMethod(&dock, "onPendingMessagesReceived",
						  Q_ARG(QList<DonationMessage>, records)));
		m_sandbox.clearRequests();
		button(pendingList(&dock)->itemWidget(pendingList(&dock)->item(0)), "✓")->click();
		button(pendingList(&dock)->itemWidget(pendingList(&dock)->item(1)), "✗")->click();
		// Nothing changes on screen until the service answers.
		QCOMPARE(pendingList(&dock)->count(), 2);
		QVERIFY(m_sandbox.waitForRequests(2));
		QVERIFY(settleBackgroundRequests());
		QMap<QByteArray, QByteArray> bodies;
		for (const auto &request : m_sandbox.requests())
			if (request.method == "PATCH")
				bodies.insert(request.path, request.body);
		QCOMPARE(bodies.value("/v1/moderation/moderate/m-1"), QByteArray("{\n    \"action\": \"accept\"\n}\n"));
		QCOMPARE(bodies.value("/v1/moderation/moderate/m-2"), QByteArray("{\n    \"action\": \"reject\"\n}\n"));
	}
};

TIPLARK_TEST_MAIN(TestDock)
#include "test-dock.moc"
