#include "dock-placement.h"
#include "http/transport.h"
#include "plugin-support.h"
#include "row-list-accessibility.h"
#include "service-addresses.h"
#include "tiplark-dock.h"

#include <obs-frontend-api.h>
#include <obs-module.h>

#if LIBOBS_API_MAJOR_VER < 30
// Only OBS 29 needs the SIGINT relay: OBS 30 builds leave it out.
#include "quit-signal-relay.h"
#endif

#include <QDockWidget>
#include <QMainWindow>
#include <QPointer>

#include <memory>

OBS_DECLARE_MODULE()
OBS_MODULE_USE_DEFAULT_LOCALE(PLUGIN_NAME, "en-US")

namespace {
std::unique_ptr<Transport> transport;
TiplarkDock *dock = nullptr;
QDockWidget *dockWidget = nullptr;
ServiceAddresses serviceAddresses;

void createDock(QMainWindow *mainWindow)
{
	dock = new TiplarkDock(serviceAddresses, mainWindow);
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
	transport = std::make_unique<Transport>();
	obs_log(LOG_INFO, "plugin loaded successfully (version %s)", PLUGIN_VERSION);
	serviceAddresses = serviceAddressesFromEnvironment();
	obs_frontend_add_event_callback(frontend_event_callback, nullptr);
	onModuleLoad();
	return true;
}

void obs_module_unload(void)
{
	obs_frontend_remove_event_callback(frontend_event_callback, nullptr);
	onModuleUnload();
	removeRowListAccessibility();
	// OBS unloads our code after this returns: no worker may still be inside a request then. A worker
	// that is (libcurl did not let go in time) still uses the transport: it is left to it.
	if (!transport->shutdown(Transport::UNLOAD_WAIT))
		(void)transport.release();
	transport.reset();
	obs_log(LOG_INFO, "plugin unloaded");
}
