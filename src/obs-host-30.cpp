#include "obs-host.h"

#include "plugin-support.h"

#include <obs-frontend-api.h>

#include <QDockWidget>
#include <QMainWindow>
#include <QPointer>

// OBS 30 and later save where every dock registered by id is and put it back with their own layout, but
// only for docks that exist when OBS restores that layout, before the frontend has finished loading: the
// panel is registered at module load, and its placement is OBS's alone. These releases close their window
// on SIGINT from the event loop and drop the plug-ins' frontend callbacks before unloading them.

namespace {
QPointer<QWidget> panel;
} // namespace

void ObsHost::moduleLoaded(const PanelFactory &makePanel)
{
	auto *mainWindow = static_cast<QMainWindow *>(obs_frontend_get_main_window());
	panel = makePanel(mainWindow);
	obs_frontend_add_dock_by_id("TiplarkDock", "Tiplark", panel);
}

void ObsHost::frontendLoaded(const PanelFactory &)
{
	auto *dockWidget = panel ? qobject_cast<QDockWidget *>(panel->parentWidget()) : nullptr;
	obs_log(LOG_INFO, "Tiplark dock created, visible: %s",
		dockWidget && !dockWidget->isHidden() ? "true" : "false");
}

void ObsHost::frontendExiting()
{
	panel = nullptr;
}

void ObsHost::moduleUnloading() {}

bool ObsHost::frontendCallbacksNeedRemoval()
{
	return false;
}
