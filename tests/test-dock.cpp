#include "api-state.h"
#include "api/service-poller.h"
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
#include "dock-style.h"
#include "donation-pane.h"
#include "remote/remote-control-setting.h"
#include "streamer-session.h"
#include "tiplark-dock.h"

#include <QCheckBox>
#include <QCursor>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QMutexLocker>
#include <QProxyStyle>
#include <QScopeGuard>
#include <QPushButton>
#include <QToolButton>
#include <QScrollArea>
#include <QTextDocument>
#include <QTimer>

#include <ctime>

namespace {
constexpr SessionAction::Origin DOCK = SessionAction::Origin::Dock;
using Outcome = SessionAction::Outcome;

const QString P = QStringLiteral("[tiplark-obs-plugin] ");

QPushButton *button(QWidget *root, const QString &text)
{
	for (auto *candidate : root->findChildren<QPushButton *>())
		if (candidate->text() == text)
			return candidate;
	return nullptr;
}

QListWidget *pendingList(TiplarkDock *dock)
{
	return dock->pendingPane()->list();
}

// The login row's label is the first one placed directly on the dock's scrolled content; the line about
// the service's state and the one about a failed action come after it.
QString dockLine(QWidget *dock, int index)
{
	const auto labels = dock->findChild<QScrollArea *>()->widget()->findChildren<QLabel *>(
		QString(), Qt::FindDirectChildrenOnly);
	return labels.value(index) && !labels.value(index)->isHidden() ? labels.value(index)->text() : QString();
}

QString statusText(QWidget *dock)
{
	return dockLine(dock, 0);
}

QString connectionLine(QWidget *dock)
{
	return dockLine(dock, 1);
}

QString feedbackLine(QWidget *dock)
{
	return dockLine(dock, 2);
}

QStringList rowTexts(QListWidget *list, int row)
{
	QStringList texts;
	for (auto *label : list->itemWidget(list->item(row))->findChildren<QLabel *>())
		texts << label->text().remove(QChar(0x200B)); // where a long word may break
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

// A session and its dock, as the module makes them; the session starts once the dock shows it.
struct Panel {
	explicit Panel(const ServiceAddresses &addresses) : session(addresses), dock(&session, &remoteControl)
	{
		session.start();
	}
	StreamerSession session;
	RemoteControlSetting remoteControl;
	TiplarkDock dock;
};

// The line below the donations that sums up the session.
QLabel *totalsLine(TiplarkDock *dock)
{
	for (auto *label : dock->donationsPane()->findChildren<QLabel *>())
		if (label->text().startsWith("Ta sesja"))
			return label;
	return nullptr;
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

	void addDonation(const char *id, bool pending)
	{
		if (pending)
			m_sandbox.state().set("api.moderationEnabled", true);
		Sandbox::ApiState::receiveDonation(m_sandbox.state(), donation(id, id, "hej"));
	}

private slots:
	void initTestCase()
	{
		// Far from UTC: times are shown in the streamer's zone, not in the service's.
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
		Panel dockPanel(sandboxAddresses(m_sandbox));
		TiplarkDock &dock = dockPanel.dock;
		QVERIFY(settleBackgroundRequests());
		QCOMPARE(paths(), QStringList{"GET /extensions/details/obs"});
		QVERIFY(!button(&dock, "Zaloguj")->isHidden());
		QVERIFY(button(&dock, "Wyloguj")->isHidden());
		QVERIFY(!button(&dock, "Pomiń")->isEnabled());
		QCOMPARE(statusText(&dock), QStringLiteral("Nie zalogowano"));
		QVERIFY(!dockPanel.session.polling());

		// Waiting for the browser, the dock says so and the sign-in can be given up.
		UrlCatcher browser;
		QDesktopServices::setUrlHandler("http", &browser, "open");
		button(&dock, "Zaloguj")->click();
		QCOMPARE(statusText(&dock), QStringLiteral("Czekam na zalogowanie w przeglądarce…"));
		QVERIFY(button(&dock, "Zaloguj")->isHidden());
		button(&dock, "Anuluj")->click();
		QVERIFY(!button(&dock, "Zaloguj")->isHidden());
		QVERIFY(button(&dock, "Anuluj")->isHidden());
		QCOMPARE(statusText(&dock), QStringLiteral("Nie zalogowano"));
		QDesktopServices::unsetUrlHandler("http");
	}

	// Where the system has no libcurl, the dock says what to install and nothing is sent, even with a sign-in
	// kept from an earlier run.
	void withoutLibcurlTheDockSaysWhatToInstall()
	{
		signIn();
		testTransport().reset();
		testTransport().emplace(nullptr);
		{
			Panel dockPanel(sandboxAddresses(m_sandbox));
			button(&dockPanel.dock, "Zaloguj")->click();
			QCOMPARE(statusText(&dockPanel.dock), QStringLiteral("Nie zalogowano"));
			QVERIFY(!button(&dockPanel.dock, "Zaloguj")->isEnabled());
			QVERIFY2(connectionLine(&dockPanel.dock).contains("brakuje biblioteki libcurl. Zainstaluj"),
				 qPrintable(connectionLine(&dockPanel.dock)));
			QVERIFY(settleBackgroundRequests());
		}
		testTransport().reset();
		testTransport().emplace();
		QCOMPARE(m_sandbox.requests().size(), 0);
	}

	// "⚙" shows the remote control's choice (and the chime's, where there is sound): ticked as the session
	// remembers it, and switching it there switches the session.
	void settingsSwitchRemoteControl()
	{
		Panel dockPanel(sandboxAddresses(m_sandbox));
		dockPanel.dock.show();
		const QString name = QStringLiteral("Zdalne sterowanie przez obs-websocket");
		QCheckBox *remote = nullptr;
		for (auto *box : dockPanel.dock.findChildren<QCheckBox *>())
			if (box->accessibleName() == name)
				remote = box;
		QVERIFY(remote && !remote->isVisible());
		dockPanel.dock.findChild<QToolButton *>()->click();
		QVERIFY(remote->isVisible());
		const bool before = dockPanel.remoteControl.allowed();
		QCOMPARE(remote->isChecked(), before);
		remote->click();
		QCOMPARE(dockPanel.remoteControl.allowed(), !before);
		// Its text, wrapped beside it, works it too.
		for (auto *label : dockPanel.dock.findChildren<QLabel *>())
			if (label->text() == name)
				QTest::mouseClick(label, Qt::LeftButton);
		QCOMPARE(dockPanel.remoteControl.allowed(), before);
	}

	void withStoredTokensTheDockSignsInAtOnce()
	{
		signIn();
		m_sandbox.state().set("api.moderationEnabled", true);
		Panel dockPanel(sandboxAddresses(m_sandbox));
		TiplarkDock &dock = dockPanel.dock;
		// Before any answer: the signed-in controls, all three moderation buttons enabled.
		QVERIFY(button(&dock, "Zaloguj")->isHidden());
		QVERIFY(!button(&dock, "Wyloguj")->isHidden());
		for (const char *text : {"Włącz moderację", "Pomiń", "Wyłącz moderację"})
			QVERIFY2(button(&dock, text)->isEnabled(), text);
		QVERIFY(dockPanel.session.polling());

		QVERIFY(settleBackgroundRequests());
		QCOMPARE(paths(), (QStringList{"GET /extensions/details/obs", "GET /v1/me", "GET /v1/moderation"}));
		QCOMPARE(statusText(&dock), QStringLiteral("Streamer"));
		QVERIFY(!button(&dock, "Włącz moderację")->isEnabled());
		QVERIFY(button(&dock, "Wyłącz moderację")->isEnabled());
		QCOMPARE(DockStyle::roleOf(button(&dock, "Wyłącz moderację")), DockStyle::Role::ModerationOn);
		QCOMPARE(DockStyle::roleOf(button(&dock, "Włącz moderację")), DockStyle::Role::None);
		QVERIFY(button(&dock, "Pomiń")->isEnabled());
		QCOMPARE(dockPanel.session.moderationEnabled(), std::optional<bool>(true));
		QCOMPARE(dockPanel.session.userName(), QStringLiteral("Streamer"));
	}

	void eachTickAsksForWhatTheLastStatusAllows()
	{
		signIn();
		m_sandbox.state().set("api.moderationEnabled", false);
		Panel dockPanel(sandboxAddresses(m_sandbox));
		TiplarkDock &dock = dockPanel.dock;
		QVERIFY(settleBackgroundRequests());
		QCOMPARE(DockStyle::roleOf(button(&dock, "Włącz moderację")), DockStyle::Role::ModerationOff);
		QVERIFY(!button(&dock, "Wyłącz moderację")->isEnabled());

		const QStringList lists{"GET /v1/donations", "GET /v1/moderation"};
		const QStringList withPending = lists + QStringList{"GET /v1/moderation/moderate/pending-messages"};
		auto nextTickAsks = [&](const QStringList &expected) {
			dockPanel.session.pollNow(); // learns what the service holds now
			QVERIFY(settleBackgroundRequests());
			m_sandbox.clearRequests();
			dockPanel.session.pollNow();
			QVERIFY(settleBackgroundRequests());
			QCOMPARE(paths(), expected);
		};
		nextTickAsks(lists);
		Sandbox::ApiState::receiveDonation(m_sandbox.state(), donation("d-1", "Ala", "hej"));
		m_sandbox.state().set(Sandbox::ApiState::MODERATION_ENABLED, true);
		nextTickAsks(withPending);
		// Switched off with rows shown: they are read on, so that none stays with live buttons unread,
		// until the service's list is empty.
		Sandbox::ApiState::receiveDonation(m_sandbox.state(), donation("p-1", "Ola", "hej"));
		dockPanel.session.pollNow();
		QVERIFY(settleBackgroundRequests());
		QVERIFY(!dock.pendingPane()->records().isEmpty());
		m_sandbox.state().set(Sandbox::ApiState::MODERATION_ENABLED, false);
		nextTickAsks(withPending);
		m_sandbox.state().set(Sandbox::ApiState::PENDING, QVariantList());
		nextTickAsks(lists);
		QCOMPARE(dock.pendingPane()->records().size(), 0);
	}

	void buttonsSendTheirRequests()
	{
		signIn();
		Panel dockPanel(sandboxAddresses(m_sandbox));
		TiplarkDock &dock = dockPanel.dock;
		QVERIFY(settleBackgroundRequests());
		m_sandbox.clearRequests();
		// A double click sends one request: the button waits for the answer.
		button(&dock, "Pomiń")->click();
		QVERIFY(!button(&dock, "Pomiń")->isEnabled());
		button(&dock, "Pomiń")->click();
		QCOMPARE(dockPanel.session.perform(SessionAction::moderation(false, DOCK)), Outcome::Done);
		QCOMPARE(dockPanel.session.perform(SessionAction::moderation(false, DOCK)), Outcome::Busy);
		QVERIFY(!button(&dock, "Włącz moderację")->isEnabled());
		QVERIFY(settleBackgroundRequests());
		QCOMPARE(paths(), (QStringList{"PATCH /v1/moderation", "POST /v1/donations/queue/skip"}));
		QVERIFY(!button(&dock, "Wyłącz moderację")->isEnabled()); // the service confirmed "off"
		QVERIFY(button(&dock, "Pomiń")->isEnabled());
		QCOMPARE(feedbackLine(&dock), QString());

		// A failure is shown in the dock, and the press can be made again.
		m_sandbox.setFault("/v1/donations/queue/skip", Sandbox::Fault::respond(503, "{}").once());
		button(&dock, "Pomiń")->click();
		QVERIFY(settleBackgroundRequests());
		QCOMPARE(feedbackLine(&dock), QStringLiteral("Nie udało się pominąć alertu. Spróbuj ponownie."));
		button(&dock, "Pomiń")->click();
		QVERIFY(settleBackgroundRequests());
		QCOMPARE(feedbackLine(&dock), QString());
		QCOMPARE(m_sandbox.requests("/v1/donations/queue/skip").size(), 3);
	}

	// Answers on their way when the streamer signs out bring nothing of the old session back.
	void logoutEmptiesTheDock()
	{
		signIn();
		// The user read failed at start: it goes out again with the tick, with the three polled reads.
		m_sandbox.setFault("/v1/me", Sandbox::Fault::respond(503, "{}"));
		m_sandbox.state().set(Sandbox::ApiState::MODERATION_ENABLED, true);
		Panel dockPanel(sandboxAddresses(m_sandbox));
		TiplarkDock &dock = dockPanel.dock;
		QVERIFY(settleBackgroundRequests());
		// Signed in, not yet named: the label says what is true.
		QCOMPARE(statusText(&dock), QStringLiteral("Zalogowano"));
		m_sandbox.clearFaults();
		Sandbox::ApiState::receiveDonation(m_sandbox.state(), donation("p-1", "Ola", "hej"));
		m_sandbox.state().set(Sandbox::ApiState::DONATIONS, QVariantList{donation("d-1", "Ala", "hej")});
		m_sandbox.clearRequests();
		dockPanel.session.pollNow();
		button(&dock, "Wyloguj")->click(); // before any answer of this tick
		QVERIFY(settleBackgroundRequests());
		QCOMPARE(m_sandbox.requestCount(), 4);
		QCOMPARE(statusText(&dock), QStringLiteral("Nie zalogowano"));
		QCOMPARE(dock.donationsPane()->list()->count(), 0);
		QCOMPARE(pendingList(&dock)->count(), 0);
		QVERIFY(!dockPanel.session.signedIn());
		QCOMPARE(dockPanel.session.userName(), QString());
		QVERIFY(!button(&dock, "Zaloguj")->isHidden());
		for (const char *text : {"Włącz moderację", "Pomiń", "Wyłącz moderację"})
			QVERIFY2(!button(&dock, text)->isEnabled(), text);
		QVERIFY(!dockPanel.session.polling());
		QVERIFY(!QFile::exists(tokenPath()));
	}

	void lostSignInShowsTheSignedOutLookAtOnce()
	{
		signIn();
		Panel dockPanel(sandboxAddresses(m_sandbox));
		TiplarkDock &dock = dockPanel.dock;
		QVERIFY(settleBackgroundRequests());
		// The service rejects both tokens: the refresh fails and signs the streamer out.
		Sandbox::OAuth::expireAccessTokens(m_sandbox.state());
		m_sandbox.state().set(Sandbox::OAuth::REFRESH_TOKENS, QVariantMap());
		LogCapture log;
		dockPanel.session.pollNow();
		QVERIFY(settleBackgroundRequests());
		QVERIFY(log.contains(LOG_INFO, P + "Tiplark: Logged out"));

		dockPanel.session.pollNow();
		QVERIFY(!button(&dock, "Zaloguj")->isHidden());
		QVERIFY(button(&dock, "Wyloguj")->isHidden());
		QVERIFY(!button(&dock, "Pomiń")->isEnabled());
		QCOMPARE(statusText(&dock), QStringLiteral("Nie zalogowano"));
		QCOMPARE(connectionLine(&dock),
			 QStringLiteral("Sesja wygasła lub została cofnięta. Zaloguj się ponownie."));
		QVERIFY(!dockPanel.session.polling());
	}

	void failedLoginShowsOneWarning()
	{
		Panel dockPanel(sandboxAddresses(m_sandbox));
		TiplarkDock &dock = dockPanel.dock;
		QVERIFY(settleBackgroundRequests());
		MessageBoxCatcher boxes;
		const QStringList &seen = boxes.seen;
		LogCapture log;
		emit dockPanel.session.findChild<AuthManager *>()->authenticationComplete(false);
		QCOMPARE(seen, (QStringList{"Błąd logowania", "Nie udało się zalogować do Tiplark"}));
		QCOMPARE(log.texts(), QStringList(P + "Tiplark: Authentication failed"));
		QVERIFY(!button(&dock, "Zaloguj")->isHidden());
	}

	void tokenFileFailureIsToldOnce()
	{
		signIn();
		Panel dockPanel(sandboxAddresses(m_sandbox));
		TiplarkDock &dock = dockPanel.dock;
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
		// The second failure was told away at once: no box is queued behind the first.
		QCoreApplication::processEvents();
		QCOMPARE(seen.size(), 2);
		QDir(tokenPath()).removeRecursively();
	}

	// Signed in, the label never says "Nie zalogowano"; the name follows when the service gives it. A
	// user read that failed is asked again with the next tick; one answered without a name is not.
	void userNameIsShownOnceGiven_data()
	{
		QTest::addColumn<bool>("serviceFault"); // else: an answer without a name
		QTest::addColumn<QString>("name");      // given with the next tick
		QTest::addColumn<QString>("afterTick");
		QTest::newRow("503 at start") << true << "Streamer" << "Streamer";
		QTest::newRow("no name") << false << "Streamer" << "Zalogowano";
		// Cut short between whole characters, never inside the emoji.
		QTest::newRow("long name") << true << QString(79, 'x') + "🎉x" << QString(79, 'x');
	}

	void userNameIsShownOnceGiven()
	{
		QFETCH(bool, serviceFault);
		QFETCH(QString, name);
		QFETCH(QString, afterTick);
		signIn();
		if (serviceFault)
			m_sandbox.setFault("/v1/me", Sandbox::Fault::respond(503, "{}"));
		else
			m_sandbox.state().set("api.userName", QVariant());
		Panel dockPanel(sandboxAddresses(m_sandbox));
		TiplarkDock &dock = dockPanel.dock;
		QVERIFY(settleBackgroundRequests());
		QCOMPARE(statusText(&dock), QStringLiteral("Zalogowano"));
		QVERIFY(!button(&dock, "Wyloguj")->isHidden());
		QCOMPARE(!connectionLine(&dock).isEmpty(), serviceFault);

		m_sandbox.clearFaults();
		m_sandbox.state().set("api.userName", name);
		LogCapture log;
		dockPanel.session.pollNow();
		QVERIFY(settleBackgroundRequests());
		QCOMPARE(statusText(&dock), afterTick);
		QCOMPARE(connectionLine(&dock), QString());
		// Both lines of a name read, once each.
		for (const QString &line :
		     {"Tiplark: Parsed username: '" + name + "'", "Tiplark: User info received: " + name})
			QCOMPARE(log.count(P + line), serviceFault ? 1 : 0);
	}

	void updateBanner_data()
	{
		QTest::addColumn<QString>("url");
		QTest::addColumn<bool>("offered");
		QTest::newRow("https") << "https://tiplark.pl/obs" << true;
		// An installer over http could be swapped on the way; a local stand-in service may offer one.
		QTest::newRow("http") << "http://tiplark.pl/obs" << false;
		QTest::newRow("http to loopback, local service") << "http://127.0.0.1:9/obs" << true;
		QTest::newRow("no address") << "" << false;
		QTest::newRow("file") << "file:///home/streamer/.bashrc" << false;
		QTest::newRow("custom handler") << "tiplark-installer://run" << false;
		QTest::newRow("javascript") << "javascript:alert(1)" << false;
		// What a browser and Qt would read as two different hosts, or as none.
		QTest::newRow("user name before the host") << "https://tiplark.pl@evil.example/x.exe" << false;
		QTest::newRow("no slashes after the scheme") << "https:evil.example/x.exe" << false;
		QTest::newRow("three slashes after the scheme") << "https:///evil.example/x.exe" << false;
		QTest::newRow("scheme alone") << "https://" << false;
		QTest::newRow("backslash") << "https://tiplark.pl\\@evil.example/x.exe" << false;
		QTest::newRow("changed by a strict reading") << "https://tiplark.pl/obs x" << false;
	}

	void updateBanner()
	{
		QFETCH(QString, url);
		QFETCH(bool, offered);
		UrlCatcher sink;
		for (const char *scheme : {"http", "https", "file", "tiplark-installer", "javascript"})
			QDesktopServices::setUrlHandler(scheme, &sink, "open");

		Panel dockPanel(sandboxAddresses(m_sandbox));
		TiplarkDock &dock = dockPanel.dock;
		QVERIFY(settleBackgroundRequests());
		QPushButton *download = button(&dock, "Pobierz");
		QVERIFY(download->parentWidget()->isHidden());
		LogCapture log;
		emit dockPanel.session.findChild<ApiClient *>()->updateAvailable("1.2.0", url);
		QCOMPARE(!download->parentWidget()->isHidden(), offered);
		QVERIFY(log.contains(LOG_INFO, P + "Tiplark: Update available: 1.2.0"));
		QCOMPARE(log.texts(LOG_WARNING).size(), !offered && !url.isEmpty() ? 1 : 0);

		download->click();
		QCOMPARE(sink.urls, offered ? QList<QUrl>{QUrl(url)} : QList<QUrl>());
		for (const char *scheme : {"http", "https", "file", "tiplark-installer", "javascript"})
			QDesktopServices::unsetUrlHandler(scheme);
	}

	// The banner says only that an update is there, and stays for the run once shown; a panel made
	// later over the same session shows it too.
	void bannerStaysForTheRun()
	{
		Panel dockPanel(sandboxAddresses(m_sandbox));
		TiplarkDock &dock = dockPanel.dock;
		QVERIFY(settleBackgroundRequests());
		auto *client = dockPanel.session.findChild<ApiClient *>();
		QWidget *banner = button(&dock, "Pobierz")->parentWidget();
		emit client->updateAvailable("1.2.0", "https://a.example/1");
		QCOMPARE(banner->findChild<QLabel *>()->text(), QStringLiteral("Dostępna aktualizacja!"));
		emit client->updateAvailable("1.3.0", "");
		QVERIFY(!banner->isHidden());
		QCOMPARE(banner->findChildren<QPushButton *>().size(), 1);

		emit client->updateAvailable("1.3.0", "https://a.example/2");
		TiplarkDock later(&dockPanel.session);
		QVERIFY(!button(&later, "Pobierz")->parentWidget()->isHidden());
	}

	// A donation that arrives counts in the totals line, its amount written as its row writes it; the
	// panes keep their titles.
	void arrivalsCountInTheTotalsLine()
	{
		signIn();
		m_sandbox.state().set(Sandbox::ApiState::MODERATION_ENABLED, false);
		m_sandbox.state().set(Sandbox::ApiState::DONATIONS, QVariantList{donation("d-1", "Ala", "hej")});
		const QTime before = QTime::currentTime();
		Panel dockPanel(sandboxAddresses(m_sandbox));
		TiplarkDock &dock = dockPanel.dock;
		// The line says since when it counts: the older donation listed beside it is not counted.
		const QStringList since{before.toString("HH:mm"), QTime::currentTime().toString("HH:mm")};
		auto sinceStart = [&](const QString &counted) {
			return since.contains(totalsLine(&dock)
						      ->text()
						      .section(QStringLiteral("Ta sesja (od "), 1)
						      .section(QStringLiteral("): "), 0, 0)) &&
			       totalsLine(&dock)->text().endsWith(QStringLiteral("): ") + counted);
		};
		QVERIFY(settleBackgroundRequests());
		dockPanel.session.pollNow();
		QVERIFY(settleBackgroundRequests());
		QVERIFY2(sinceStart(QStringLiteral("0 wpłat")), qPrintable(totalsLine(&dock)->text()));
		Sandbox::ApiState::receiveDonation(m_sandbox.state(), donation("d-2", "Ola", "hej"));
		dockPanel.session.pollNow();
		QVERIFY(settleBackgroundRequests());
		QVERIFY2(sinceStart(QStringLiteral("1 wpłata · 25.00 PLN")), qPrintable(totalsLine(&dock)->text()));
		QCOMPARE(totalsLine(&dock)->textFormat(), Qt::PlainText);
		QTRY_VERIFY(rowTexts(dock.donationsPane()->list(), 0).contains(QStringLiteral("25.00 PLN")));
		QCOMPARE(dock.donationsPane()->title(), QStringLiteral("Ostatnie wpłaty"));
		QCOMPARE(dock.pendingPane()->title(), QStringLiteral("Oczekujące na moderację"));
	}

	void rowsShowTheRecords()
	{
		DonationPane pending("P", "", true), donations("D", "", false);
		// Service text is never markup (an image could load a local file and stretch the dock), and a very
		// long one is cut, whole in its tooltip, which Qt must not read as markup either.
		const QString image = R"(<img src="file:///etc/hostname" width=4000>)";
		QJsonObject markup = donation("m-1", "<b>Ala</b>", "<i>hej</i> & <script>");
		markup.insert("currency", "<b>PLN</b>");
		markup.insert("goal", QJsonObject{{"name", image}});
		QJsonObject plain = donation("m-2", QString(200, 'N'), "");
		plain.remove("goal");
		// A run without spaces, wider than the row, an emoji inside it.
		const QString run = QString(40, 'W') + QStringLiteral("🎉") + QString(200, 'W');
		const QString longMessage = run + QStringLiteral(" słowo").repeated(100) + image;
		const QList<DonationMessage> records{DonationMessage::fromJson(markup),
						     DonationMessage::fromJson(plain),
						     DonationMessage::fromJson(donation("m-3", "Ola", longMessage))};
		for (DonationPane *pane : {&pending, &donations}) {
			pane->resize(320, 900); // a dock's width
			pane->show();
			QVERIFY(QTest::qWaitForWindowExposed(pane));
			QListWidget *view = pane->list();
			// The list just tall enough for one row: the rows that come in make it scroll, which
			// narrows it while they are being inserted.
			QVERIFY(pane->setRecords(records.mid(2), 3));
			QApplication::processEvents();
			pane->resize(320,
				     pane->height() - view->viewport()->height() + view->item(0)->sizeHint().height());
			QApplication::processEvents();
			QVERIFY(pane->setRecords(records, 3));
			QCOMPARE(view->count(), 3);
			// The time in the streamer's zone (UTC+14 here).
			// A currency is plain text too, cut short.
			QCOMPARE(rowTexts(view, 0), (QStringList{"<b>Ala</b>", "<i>hej</i> & <script>",
								 "25.00 <b>PLN</", "02.05 02:30", "| " + image}));
			// An empty message and goal leave their labels out.
			QCOMPARE(rowTexts(view, 1),
				 (QStringList{QString(79, 'N') + QChar(0x2026), "25.00 PLN", "02.05 02:30"}));
			const QString tip = view->itemWidget(view->item(2))->findChildren<QLabel *>().at(1)->toolTip();
			QVERIFY(!Qt::mightBeRichText(tip) || !tip.contains("<img"));
			QVERIFY(tip.contains("&lt;img src="));
			// Only break opportunities added, none inside the emoji; read aloud as written.
			const QLabel *message = view->itemWidget(view->item(2))->findChildren<QLabel *>().at(1);
			QVERIFY(message->text().contains(QStringLiteral("🎉")));
			QCOMPARE(QString(message->text()).remove(QChar(0x200B)), message->accessibleName());
			QVERIFY(message->accessibleName().startsWith(run + " słowo"));
			QTRY_COMPARE(view->itemWidget(view->item(2))->width(), view->viewport()->width());
			const int narrowHeight = view->item(2)->sizeHint().height();
			pane->resize(640, pane->height());
			QTRY_VERIFY(view->item(2)->sizeHint().height() < narrowHeight);
			for (int row = 0; row < 3; ++row) {
				QWidget *widget = view->itemWidget(view->item(row));
				// Each row wraps inside the view, tall enough for its text, whatever the donor wrote.
				QTRY_COMPARE(widget->width(), view->viewport()->width());
				if (widget->hasHeightForWidth())
					QVERIFY(widget->height() >= widget->heightForWidth(widget->width()));
				QVERIFY(widget->sizeHint().width() < 2000); // no 4000-pixel image
				for (const QLabel *label : widget->findChildren<QLabel *>()) {
					QCOMPARE(label->textFormat(), Qt::PlainText);
					// Nothing the donor wrote runs past the row's edge unread.
					if (label->wordWrap())
						QVERIFY(label->fontMetrics()
								.boundingRect(QRect(0, 0, label->width(), 100000),
									      Qt::TextWordWrap, label->text())
								.width() <= label->width());
				}
			}
			QCOMPARE(pane->title(), pane == &pending ? QStringLiteral("P") : QStringLiteral("D"));
			QVERIFY(!pane->setRecords(records, 3));
		}
		QLabel capped;
		DockStyle::showServiceText(&capped, QString(100000, 'x'));
		QVERIFY(capped.toolTip().size() < DockStyle::MAX_TOOLTIP_CHARS + 100);
		DockStyle::showServiceText(&capped, QString(78, 'x') + QStringLiteral("🎉🎉"));
		QCOMPARE(capped.text(), QString(78, 'x') + QChar(0x2026)); // not half an emoji

		// Buttons only on pending rows, each carrying its message's id.
		QCOMPARE(donations.list()->itemWidget(donations.list()->item(0))->findChildren<QPushButton *>().size(),
			 0);
		QWidget *firstPending = pending.list()->itemWidget(pending.list()->item(0));
		QPushButton *accept = button(firstPending, "✓");
		QPushButton *reject = button(firstPending, "✗");
		QVERIFY(accept && reject);
		QCOMPARE(accept->property("messageId").toString(), QStringLiteral("m-1"));
		QCOMPARE(reject->property("messageId").toString(), QStringLiteral("m-1"));
	}

	void aRoleIsPolishedOnce()
	{
		// The state is shown again with every action's start and end: polishing its buttons under the
		// dock's sheet each time made most of the plug-in's allocations of an evening on air.
		struct PolishCount : QProxyStyle {
			int polished = 0;
			void polish(QWidget *widget) override
			{
				++polished;
				QProxyStyle::polish(widget);
			}
		} style;
		QWidget dock;
		DockStyle::install(&dock);
		QPushButton *switchButton = new QPushButton(&dock);
		switchButton->setStyle(&style);
		switchButton->ensurePolished();
		style.polished = 0;
		for (DockStyle::Role role : {DockStyle::Role::ModerationOn, DockStyle::Role::ModerationOn,
					     DockStyle::Role::None, DockStyle::Role::None})
			DockStyle::apply(switchButton, role);
		QCOMPARE(style.polished, 2);
		QCOMPARE(DockStyle::roleOf(switchButton), DockStyle::Role::None);
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
		for (bool withActions : {true, false}) {
			DonationPane pane("P", "Pusto", withActions);
			QListWidget *view = pane.list();
			pane.setRecords(records(before), records(before).size());
			QSet<QWidget *> old;
			for (int row = 0; row < view->count(); ++row)
				old << view->itemWidget(view->item(row));
			const QList<DonationMessage> next = records(after);
			pane.setRecords(next, next.size());
			QCOMPARE(view->count(), next.size());
			QStringList stayed;
			for (int row = 0; row < view->count(); ++row) {
				QWidget *widget = view->itemWidget(view->item(row));
				QCOMPARE(rowTexts(view, row).mid(0, 2), (QStringList{next[row].id, next[row].message}));
				if (old.contains(widget))
					stayed << next[row].id;
				if (withActions)
					QCOMPARE(button(widget, "✓")->property("messageId").toString(), next[row].id);
			}
			QCOMPARE(stayed.join(' '), kept);
			QCOMPARE(pane.records().size(), next.size());
			// An empty list says so.
			QCOMPARE(pane.findChild<QLabel *>()->isHidden(), !next.isEmpty());
		}
	}

	void aScrolledListKeepsItsTopRow_data()
	{
		QTest::addColumn<int>("scrolledTo");
		QTest::addColumn<bool>("pointedAt");
		QTest::addColumn<int>("arrived");         // records that come in on top
		QTest::addColumn<int>("topAfter");        // after they came in
		QTest::addColumn<int>("topAfterLeaving"); // once the pointer has left the list
		QTest::addColumn<QString>("cue");
		QTest::addColumn<QString>("older"); // the line for the records beyond the rows shown
		const QString older = QStringLiteral("…i jeszcze %1 (pokazano najnowsze 30)");
		QTest::newRow("at the top") << 0 << false << 1 << 0 << 0 << "" << older.arg("1 starsza");
		QTest::newRow("at the top, pointed at")
			<< 0 << true << 1 << 1 << 0 << "↑ 1 nowa" << older.arg("1 starsza");
		QTest::newRow("scrolled down") << 10 << false << 1 << 11 << 11 << "↑ 1 nowa" << older.arg("1 starsza");
		QTest::newRow("two, scrolled down")
			<< 10 << false << 2 << 12 << 12 << "↑ 2 nowe" << older.arg("2 starsze");
		QTest::newRow("five, scrolled down")
			<< 10 << false << 5 << 15 << 15 << "↑ 5 nowych" << older.arg("5 starszych");
	}

	void aScrolledListKeepsItsTopRow()
	{
		QFETCH(int, scrolledTo);
		QFETCH(bool, pointedAt);
		QFETCH(int, arrived);
		QFETCH(int, topAfter);
		QFETCH(int, topAfterLeaving);
		QFETCH(QString, cue);
		DonationPane pane("D", "", false);
		pane.resize(420, 600);
		pane.show();
		QVERIFY(QTest::qWaitForWindowExposed(&pane));
		QString names = QStringLiteral("x");
		for (int i = 1; i < DonationPane::MAX_ROWS; ++i)
			names += QStringLiteral(" %1").arg(i);
		QListWidget *view = pane.list();
		auto show = [&](const QString &names, int total) {
			pane.setRecords(records(names), total);
			while (pane.isFilling())
				QApplication::processEvents();
		};
		show(names, DonationPane::MAX_ROWS);
		view->scrollToItem(view->item(scrolledTo), QAbstractItemView::PositionAtTop);
		QCursor::setPos(pointedAt ? view->viewport()->mapToGlobal(QPoint(20, 20)) : QPoint(-100, -100));
		QString newNames;
		for (int i = 0; i < arrived; ++i)
			newNames += QStringLiteral("new%1 ").arg(i);
		show(newNames + names, DonationPane::MAX_ROWS + arrived);
		QCOMPARE(view->row(view->itemAt(1, 1)), topAfter);
		// Rows that came in above the view are announced.
		QPushButton *cueButton = pane.findChild<QPushButton *>(QString(), Qt::FindDirectChildrenOnly);
		QCOMPARE(cueButton->isHidden() ? QString() : cueButton->text(), cue);

		QEvent leave(QEvent::Leave);
		QApplication::sendEvent(view->viewport(), &leave);
		QApplication::processEvents();
		QCOMPARE(view->row(view->itemAt(1, 1)), topAfterLeaving);
		if (topAfterLeaving > 0) {
			cueButton->click();
			QCOMPARE(view->row(view->itemAt(1, 1)), 0);
		}
		QCOMPARE(pane.newAbove(), 0);
		// The records beyond the rows shown are counted below them.
		const QLabel *olderLine = pane.findChildren<QLabel *>().last();
		QVERIFY(!olderLine->isHidden());
		QTEST(olderLine->text(), "older");
	}

	void aStaleTokenAtStartStillGetsTheName()
	{
		// A day-old token at start: the user read is refused, a refresh mends it.
		signIn();
		Sandbox::OAuth::expireAccessTokens(m_sandbox.state());
		Panel dockPanel(sandboxAddresses(m_sandbox));
		TiplarkDock &dock = dockPanel.dock;
		QVERIFY(settleBackgroundRequests());
		QCOMPARE(statusText(&dock), QStringLiteral("Streamer"));
	}

	void rowButtonsModerate()
	{
		signIn();
		m_sandbox.state().set(Sandbox::ApiState::MODERATION_ENABLED, true);
		m_sandbox.state().set(Sandbox::ApiState::PENDING, QVariantList());
		// An id longer than any the service gives is shown and decided too.
		const QString longId(129, 'n');
		for (const QString &id : {QStringLiteral("m-1"), longId})
			Sandbox::ApiState::receiveDonation(m_sandbox.state(), donation(id, id, "hej"));
		Panel dockPanel(sandboxAddresses(m_sandbox));
		TiplarkDock &dock = dockPanel.dock;
		QVERIFY(settleBackgroundRequests());
		dockPanel.session.pollNow();
		QVERIFY(settleBackgroundRequests());
		QCOMPARE(pendingList(&dock)->count(), 2);
		m_sandbox.clearRequests();
		m_sandbox.setFault("/v1/moderation/moderate/" + longId.toUtf8(),
				   Sandbox::Fault::respond(503, "{}").once());
		auto rowButton = [&](int row, const char *glyph) {
			return button(pendingList(&dock)->itemWidget(pendingList(&dock)->item(row)), glyph);
		};
		rowButton(0, "✓")->click();
		rowButton(0, "✓")->click(); // a double click: one request
		rowButton(1, "✗")->click();
		QVERIFY(!rowButton(0, "✗")->isEnabled());
		QVERIFY(settleBackgroundRequests());
		QMultiMap<QByteArray, QString> actions;
		for (const auto &request : m_sandbox.requests())
			if (request.method == "PATCH")
				actions.insert(request.path,
					       QJsonDocument::fromJson(request.body).object()["action"].toString());
		QCOMPARE(actions.values("/v1/moderation/moderate/m-1"), QStringList{"accept"});
		QCOMPARE(actions.values("/v1/moderation/moderate/" + longId.toUtf8()), QStringList{"reject"});
		// The accepted row has gone; the failed one is live again, and the dock says it failed.
		QCOMPARE(dockPanel.session.pending().size(), 1);
		QVERIFY(rowButton(0, "✗")->isEnabled());
		QCOMPARE(feedbackLine(&dock),
			 QStringLiteral("Nie udało się przekazać decyzji o wiadomości. Spróbuj ponownie."));
	}

	// The dock at a laptop's size (OBS 29's at 1366×768) and squeezed to its smallest shows a whole
	// pending row with both its buttons: the rows above the lists (the banner, the settings) scroll rather
	// than make it taller, as OBS's own docks shrink. The amount, the time and the goal share one line
	// with the buttons where the row has room for them, and wrap where it has not.
	void theSmallestDockShowsAPendingRow_data()
	{
		QTest::addColumn<QSize>("size"); // empty: the smallest
		QTest::addColumn<bool>("oneLine");
		QTest::newRow("laptop") << QSize(390, 460) << true; // below its title bar
		QTest::newRow("smallest") << QSize() << false;
	}

	void theSmallestDockShowsAPendingRow()
	{
		QFETCH(QSize, size);
		QFETCH(bool, oneLine);
		signIn();
		m_sandbox.state().set(Sandbox::ApiState::MODERATION_ENABLED, true);
		m_sandbox.state().set(Sandbox::ApiState::PENDING, QVariantList());
		for (const char *id : {"m-1", "m-2", "m-3"})
			Sandbox::ApiState::receiveDonation(m_sandbox.state(), donation(id, id, "hej"));
		// The text size of OBS's themes.
		const QFont font = QApplication::font();
		const auto restoreFont = qScopeGuard([font] { QApplication::setFont(font); });
		QApplication::setFont(QFont(font.family(), 10));
		Panel dockPanel(sandboxAddresses(m_sandbox));
		TiplarkDock &dock = dockPanel.dock;
		QVERIFY(settleBackgroundRequests());
		dockPanel.session.pollNow();
		QVERIFY(settleBackgroundRequests());
		dock.show();
		const QSize smallest = dock.minimumSizeHint();
		emit dockPanel.session.findChild<ApiClient *>()->updateAvailable("1.2.0", "https://tiplark.pl/obs");
		dock.findChild<QToolButton *>()->click();
		QCOMPARE(dock.minimumSizeHint(), smallest);
		dock.resize(size.isEmpty() ? smallest : size);
		QListWidget *list = pendingList(&dock);
		QCOMPARE(list->count(), 3);
		QWidget *row = list->itemWidget(list->item(0));
		for (QWidget *viewport : {dock.findChild<QScrollArea *>()->viewport(), list->viewport()})
			for (const char *glyph : {"✓", "✗"}) {
				QPushButton *press = button(row, glyph);
				QTRY_VERIFY(viewport->rect().contains(
					QRect(press->mapTo(viewport, QPoint()), press->size())));
			}
		// The info line: the amount, the time, the goal, ✓ and ✗, once the row has the list's width.
		QTRY_COMPARE(row->width(), list->viewport()->width());
		QApplication::processEvents();
		QList<QWidget *> line;
		for (QLabel *label : row->findChildren<QLabel *>())
			if (label->text().startsWith("25.00") || label->text().contains(':') ||
			    label->text().startsWith('|'))
				line << label;
		line << button(row, "✓") << button(row, "✗");
		QCOMPARE(line.size(), 5);
		int top = 0, bottom = row->height();
		for (QWidget *widget : line) {
			top = std::max(top, widget->mapTo(row, QPoint()).y());
			bottom = std::min(bottom, widget->mapTo(row, QPoint(0, widget->height())).y());
		}
		QCOMPARE(top < bottom, oneLine);
	}

	// An answer to a status read sent before a switch, arriving after its confirmation, changes nothing.
	void staleStatusDoesNotUndoASwitch()
	{
		signIn();
		m_sandbox.state().set(Sandbox::ApiState::MODERATION_ENABLED, true);
		Panel dockPanel(sandboxAddresses(m_sandbox));
		TiplarkDock &dock = dockPanel.dock;
		QVERIFY(settleBackgroundRequests());
		m_sandbox.setFault("/v1/moderation", Sandbox::Fault::respond(200, R"({"data":{"enabled":true}})")
							     .delayed(500)
							     .forMethod("GET")
							     .once());
		dockPanel.session.pollNow();
		QCOMPARE(dockPanel.session.perform(SessionAction::moderation(false, DOCK)), Outcome::Done);
		QVERIFY(settleBackgroundRequests());
		QCOMPARE(dockPanel.session.moderationEnabled(), std::optional<bool>(false));
		QVERIFY(button(&dock, "Włącz moderację")->isEnabled());
	}
};

TIPLARK_TEST_MAIN(TestDock)
#include "test-dock.moc"
