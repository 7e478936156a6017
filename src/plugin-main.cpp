#include "dock-placement.h"
#include "http/background-request.h"
#include "http/connection-cache.h"
#include "plugin-support.h"
#include "remote/dock-link.h"
#include "remote/remote-access.h"
#include "row-list-accessibility.h"
#include "service-addresses.h"
#include "tiplark-dock.h"

#include <obs-frontend-api.h>
#include <obs-module.h>

#if LIBOBS_API_MAJOR_VER < 30
// Only OBS 29 needs the SIGINT relay: OBS 30 builds leave it out.
#include "quit-signal-relay.h"
#endif

#include <curl/curl.h>

#include <QDockWidget>
#include <QMainWindow>
#include <QPointer>

#include <memory>

OBS_DECLARE_MODULE()
OBS_MODULE_USE_DEFAULT_LOCALE(PLUGIN_NAME, "en-US")

namespace {
bool curlInitialized = false;
std::unique_ptr<ConnectionCache> connectionCache;
TiplarkDock *dock = nullptr;
QDockWidget *dockWidget = nullptr;
ServiceAddresses serviceAddresses;
std::unique_ptr<RemoteAccess> remoteAccess;

void createDock(QMainWindow *mainWindow)
{
	dock = new TiplarkDock(serviceAddresses, mainWindow);
	new DockLink(dock, remoteAccess->control(), remoteAccess->chime());
#if LIBOBS_API_MAJOR_VER >= 30
	obs_frontend_add_dock_by_id("TiplarkDock", "Tiplark", dock);
#else
	// OBS 29 only lists a dock in its Docks menu; hosting and placing it is up to the plug-in.
	auto *host = new QDockWidget(mainWindow);
	host->setObjectName("TiplarkDock");
	host->setWindowTitle("Tiplark");
	host->setWidget(dock);
	mainWindow->addDockWidget(Qt::RightDockWidgetArea, host);
	obs_frontend_add_dock(host);
#endif
}

#if LIBOBS_API_MAJOR_VER >= 30
// OBS 30 saves where every dock registered by id is and puts it back, but only for docks that exist when
// it restores its layout, before the frontend has finished loading: the dock is registered at load, and
// its placement is OBS's alone (a new dock starts closed, in the Docks menu). OBS 30 also closes its
// window on SIGINT from its event loop by itself.
void onModuleLoad()
{
	createDock(static_cast<QMainWindow *>(obs_frontend_get_main_window()));
}

void onFinishedLoading(QMainWindow *)
{
	const QWidget *host = dock->parentWidget();
	obs_log(LOG_INFO, "Tiplark dock created, visible: %s", host && !host->isHidden() ? "true" : "false");
}

void onModuleUnload() {}
#else
std::unique_ptr<QuitSignalRelay> quitRelay;

void onModuleLoad() {}

void onModuleUnload()
{
	quitRelay.reset();
}

void onFinishedLoading(QMainWindow *mainWindow)
{
	// OBS 29 closes the main window right inside its SIGINT handler; the close has to wait for the
	// event loop instead.
	quitRelay = std::make_unique<QuitSignalRelay>([window = QPointer<QMainWindow>(mainWindow)] {
		if (window)
			window->close();
	});
	createDock(mainWindow);
	dockWidget = restoreDockPlacement(mainWindow, dock);
}
#endif

void frontend_event_callback(enum obs_frontend_event event, void *)
{
	remoteAccess->onFrontendEvent(event);
	if (event == OBS_FRONTEND_EVENT_FINISHED_LOADING) {
		onFinishedLoading(static_cast<QMainWindow *>(obs_frontend_get_main_window()));
	} else if (event == OBS_FRONTEND_EVENT_EXIT) {
		if (dockWidget)
			saveDockPlacement(static_cast<QMainWindow *>(obs_frontend_get_main_window()), dockWidget);
		if (dock)
			dock->shutdown();
		dock = nullptr;
		dockWidget = nullptr;
	}
}
} // namespace

bool obs_module_load(void)
{
	// Once, before any worker thread can make a request: libcurl's own set-up is not thread-safe everywhere.
	curlInitialized = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
	if (curlInitialized)
		connectionCache = std::make_unique<ConnectionCache>();
	obs_log(LOG_INFO, "plugin loaded successfully (version %s)", PLUGIN_VERSION);
	serviceAddresses = serviceAddressesFromEnvironment();
	char *chimeFile = obs_module_file("sounds/new-message.wav");
	remoteAccess = std::make_unique<RemoteAccess>(QString::fromUtf8(chimeFile));
	bfree(chimeFile);
	obs_frontend_add_event_callback(frontend_event_callback, nullptr);
	onModuleLoad();
	return true;
}

void obs_module_post_load(void)
{
	remoteAccess->onAllModulesLoaded();
}

void obs_module_unload(void)
{
	obs_frontend_remove_event_callback(frontend_event_callback, nullptr);
	onModuleUnload();
	remoteAccess.reset();
	removeRowListAccessibility();
	// OBS unloads our code after this returns: no worker may still be inside a request then.
	const bool workersDone = shutdownBackgroundRequests();
	if (workersDone) {
		connectionCache.reset();
		if (curlInitialized)
			curl_global_cleanup();
	} else {
		// A worker still inside libcurl may hold one of its shares: leave them be.
		(void)connectionCache.release();
	}
	curlInitialized = false;
	obs_log(LOG_INFO, "plugin unloaded");
}
