#include "dock-soak.h"

#include "http/background-request.h"

#include "api-state.h"
#include "auth/token-store.h"
#include "oauth-endpoints.h"
#include "sandbox-server.h"
#include "sandbox-sign-in.h"
#include "settle.h"
#include "api/service-poller.h"
#include "donation-pane.h"
#include "streamer-session.h"
#include "tiplark-dock.h"

#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QFile>
#include <QJsonObject>
#include <QListWidget>
#include <QMutexLocker>
#include <QPushButton>
#include <QVariantList>

#include <atomic>
#include <malloc.h>
#include <cstdio>
#include <unistd.h>

// Qt's hook table for tools that track objects (as debuggers and GammaRay do); exported by Qt Core.
extern quintptr Q_DECL_IMPORT qtHookData[];

namespace {
// Indices into qtHookData, stable since Qt 5.4.
constexpr int ADD_QOBJECT_HOOK = 3;
constexpr int REMOVE_QOBJECT_HOOK = 4;

std::atomic<long> g_live{0};

void objectAdded(QObject *)
{
	g_live.fetch_add(1, std::memory_order_relaxed);
}

void objectRemoved(QObject *)
{
	g_live.fetch_sub(1, std::memory_order_relaxed);
}

QVariantList donations(const QString &prefix, int count)
{
	QVariantList list;
	for (int i = 0; i < count; ++i)
		list.append(QVariantMap{
			{"id",
			 QStringLiteral("%1-0190c3b2-11aa-7c01-8d3e-%2").arg(prefix).arg(i, 12, 10, QLatin1Char('0'))},
			{"nickname", QStringLiteral("Widz_%1").arg(i)},
			{"message_content", QStringLiteral("Dzięki za świetny stream! Wiadomość numer %1").arg(i)},
			{"amount", 5 + i * 0.5},
			{"currency", "PLN"},
			{"payment_method", "blik"},
			{"goal", QVariantMap{{"name", "Nowa kamera"}}},
			{"created_at", "2024-05-01T12:30:00Z"},
		});
	return list;
}

QPushButton *buttonTitled(QWidget *root, const QString &text)
{
	for (auto *candidate : root->findChildren<QPushButton *>())
		if (candidate->text() == text)
			return candidate;
	return nullptr;
}
} // namespace

void QObjectCounter::install()
{
	qtHookData[ADD_QOBJECT_HOOK] = reinterpret_cast<quintptr>(&objectAdded);
	qtHookData[REMOVE_QOBJECT_HOOK] = reinterpret_cast<quintptr>(&objectRemoved);
}

long QObjectCounter::live()
{
	return g_live.load();
}

long residentKiB()
{
	QFile statm(QStringLiteral("/proc/self/statm"));
	if (!statm.open(QIODevice::ReadOnly))
		return -1;
	const QList<QByteArray> fields = statm.readAll().split(' ');
	return fields.size() > 1 ? fields.at(1).toLong() * (sysconf(_SC_PAGESIZE) / 1024) : -1;
}

namespace {
// A continuation may start further requests (a list fetched after a moderation, a refresh and the
// retried call): settle until nothing is left, a bounded number of rounds.
bool settle()
{
	for (int round = 0; round < 20; ++round) {
		const bool settled = settleBackgroundRequests();
		processDueEvents();
		if (settled && backgroundRequestsInFlight() == 0)
			return true;
	}
	fprintf(stderr, "dock soak: %d background requests still in flight\n", backgroundRequestsInFlight());
	return false;
}
} // namespace

long heapInUseKiB()
{
	const struct mallinfo2 info = mallinfo2();
	return long((info.uordblks + info.hblkhd) / 1024);
}

bool applyStyleSheet(const QString &path)
{
	QFile file(path);
	if (!file.open(QIODevice::ReadOnly))
		return false;
	qApp->setStyleSheet(QString::fromUtf8(file.readAll()));
	return true;
}

void processDueEvents()
{
	QCoreApplication::processEvents();
	QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
	QCoreApplication::processEvents();
}

DockSoak::DockSoak(Sandbox::Server &sandbox) : m_sandbox(sandbox)
{
	{
		QMutexLocker lock(&m_sandbox.state().mutex);
		m_sandbox.state().values.insert(Sandbox::ApiState::USER_NAME, QStringLiteral("Streamer"));
		m_sandbox.state().values.insert(Sandbox::ApiState::MODERATION_ENABLED, true);
		m_sandbox.state().values.insert(Sandbox::ApiState::UPDATE, QVariantMap{{"version", "1.0.0"}});
	}
	restoreLists();
	saveSandboxSignIn(m_sandbox);

	m_session = std::make_unique<StreamerSession>(sandboxAddresses(m_sandbox));
	m_session->start();
	m_dock = std::make_unique<TiplarkDock>(m_session.get());
	m_dock->resize(420, 900);
	m_dock->show();
	settle();
}

DockSoak::~DockSoak()
{
	m_session->stop();
	m_dock->shutdown();
	settle();
	m_dock.reset();
	m_session.reset();
	processDueEvents();
}

void DockSoak::restoreLists()
{
	QMutexLocker lock(&m_sandbox.state().mutex);
	m_sandbox.state().values.insert(Sandbox::ApiState::DONATIONS, donations(QStringLiteral("d"), DONATION_ROWS));
	m_sandbox.state().values.insert(Sandbox::ApiState::PENDING, donations(QStringLiteral("p"), PENDING_ROWS));
}

bool DockSoak::tick()
{
	++m_ticks;
	// The sandbox records every request; kept, the records would grow like a leak of ours.
	m_sandbox.clearRequests();
	m_session->pollNow();
	bool settled = settle();

	// Moderation goes off for a while and back on, through the dock's own buttons.
	if (m_ticks % 100 == 50 || m_ticks % 100 == 0) {
		for (const char *text : {"Włącz moderację", "Wyłącz moderację"}) {
			QPushButton *button = buttonTitled(m_dock.get(), QString::fromUtf8(text));
			if (button && button->isEnabled()) {
				button->click();
				break;
			}
		}
		settled = settle() && settled;
	}

	// Every tenth tick one pending row is accepted or rejected; the lists are then set back to their
	// sizes so that every tick shows the same amount.
	if (m_ticks % 10 == 5) {
		QListWidget *pending = m_dock->pendingPane()->list();
		if (pending->count() > 0) {
			const QString glyph = (m_ticks / 10) % 2 ? QStringLiteral("✓") : QStringLiteral("✗");
			QWidget *row = pending->itemWidget(pending->item(m_ticks / 10 % pending->count()));
			for (auto *button : row->findChildren<QPushButton *>())
				if (button->text() == glyph)
					button->click();
			settled = settle() && settled;
			restoreLists();
		}
	}
	return settled;
}

int DockSoak::donationRows() const
{
	return m_dock->donationsPane()->list()->count();
}

int DockSoak::pendingRows() const
{
	return m_dock->pendingPane()->list()->count();
}

int DockSoak::dockDescendants() const
{
	return m_dock->findChildren<QObject *>().size() + m_session->findChildren<QObject *>().size();
}
