#include "obs-host.h"

#include "dock-placement.h"
#include "quit-signal-relay.h"

#include <obs-frontend-api.h>

#include <QDockWidget>
#include <QMainWindow>
#include <QPointer>

#include <memory>

// OBS 29 only lists a dock in its Docks menu: hosting and placing it is up to the plug-in, which keeps
// the placement in its own settings store. OBS 29 also closes its main window right inside its SIGINT
// handler; the plug-in relays SIGINT to the event loop instead.

namespace {
std::unique_ptr<QuitSignalRelay> quitRelay;
QPointer<QDockWidget> dockWidget;
} // namespace

void ObsHost::moduleLoaded(const PanelFactory &) {}

void ObsHost::frontendLoaded(const PanelFactory &makePanel)
{
	auto *mainWindow = static_cast<QMainWindow *>(obs_frontend_get_main_window());
	quitRelay = std::make_unique<QuitSignalRelay>([window = QPointer<QMainWindow>(mainWindow)] {
		if (window)
			window->close();
	});
	auto *host = new QDockWidget(mainWindow);
	host->setObjectName("TiplarkDock");
	host->setWindowTitle("Tiplark");
	host->setWidget(makePanel(mainWindow));
	mainWindow->addDockWidget(Qt::RightDockWidgetArea, host);
	obs_frontend_add_dock(host);
	dockWidget = restoreDockPlacement(mainWindow, host->widget());
}

void ObsHost::frontendExiting()
{
	if (dockWidget)
		saveDockPlacement(static_cast<QMainWindow *>(obs_frontend_get_main_window()), dockWidget);
	dockWidget = nullptr;
}

void ObsHost::moduleUnloading()
{
	quitRelay.reset();
}

bool ObsHost::frontendCallbacksNeedRemoval()
{
	return true;
}
