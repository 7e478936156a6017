#include "obs-host.h"

#include "plugin-support.h"

#include <obs-frontend-api.h>
#include <util/config-file.h>

#include <QDockWidget>
#include <QMainWindow>
#include <QPointer>

// OBS 30 and later save where every dock registered by id is and put it back with their own layout, but
// only for docks that exist when OBS restores that layout, before the frontend has finished loading: the
// panel is registered at module load. OBS adds such a dock closed and floating, so a new streamer would
// not see it at all: at the first start the plug-in shows it docked on the right, once, and from then on
// the placement is OBS's alone (closed, moved, or reset with "Reset Docks"). The flag for that first start
// lives in OBS's own configuration beside the layout it stands for, and is saved when OBS saves the
// layout. These releases close their window on SIGINT from the event loop and drop the plug-ins' frontend
// callbacks before unloading them.

namespace {
const char *const CONFIG_SECTION = "Tiplark";
const char *const SHOWN_KEY = "DockShownAtFirstStart";

QPointer<QWidget> panel;

// Where OBS keeps the streamer's layout: user.ini from OBS 31 on, global.ini before.
config_t *layoutConfig()
{
#if LIBOBS_API_MAJOR_VER >= 31
	return obs_frontend_get_user_config();
#else
	return obs_frontend_get_global_config();
#endif
}

void showAtFirstStart(QMainWindow *mainWindow, QDockWidget *dockWidget)
{
	config_t *config = layoutConfig();
	if (!config || config_get_bool(config, CONFIG_SECTION, SHOWN_KEY))
		return;
	mainWindow->addDockWidget(Qt::RightDockWidgetArea, dockWidget);
	dockWidget->setFloating(false);
	dockWidget->setVisible(true);
	config_set_bool(config, CONFIG_SECTION, SHOWN_KEY, true);
}
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
	if (dockWidget)
		showAtFirstStart(static_cast<QMainWindow *>(obs_frontend_get_main_window()), dockWidget);
	obs_log(LOG_INFO, "Tiplark dock created, visible: %s",
		dockWidget && !dockWidget->isHidden() ? "true" : "false");
}

void ObsHost::frontendExiting()
{
	panel = nullptr;
}

void ObsHost::moduleUnloading()
{
	// A panel that no frontend took (the module loaded without one) has no owner, and would outlive the
	// module's code; one that OBS took is OBS's.
	if (panel && !panel->parent())
		delete panel.data();
}

bool ObsHost::frontendCallbacksNeedRemoval()
{
	return false;
}
