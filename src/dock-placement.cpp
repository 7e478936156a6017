#include "dock-placement.h"

#include "plugin-support.h"
#include "tiplark-settings.h"

#include <QDockWidget>
#include <QMainWindow>

namespace {
const char *const VISIBLE_KEY = "DockVisible";
const char *const GEOMETRY_KEY = "DockGeometry";
const char *const AREA_KEY = "DockArea";
const char *const FLOATING_KEY = "DockFloating";

const char *boolText(bool value)
{
	return value ? "true" : "false";
}
} // namespace

QDockWidget *restoreDockPlacement(QMainWindow *mainWindow, QWidget *panel)
{
	auto *dockWidget = qobject_cast<QDockWidget *>(panel->parentWidget());

	auto settings = openTiplarkSettings();
	const bool visible = settings->value(VISIBLE_KEY, true).toBool();

	if (dockWidget) {
		if (settings->contains(GEOMETRY_KEY))
			dockWidget->restoreGeometry(settings->value(GEOMETRY_KEY).toByteArray());
		if (settings->contains(AREA_KEY)) {
			const int area = settings->value(AREA_KEY).toInt();
			if (area != 0)
				mainWindow->addDockWidget(static_cast<Qt::DockWidgetArea>(area), dockWidget);
		}
		dockWidget->setFloating(settings->value(FLOATING_KEY, false).toBool());
		dockWidget->setVisible(visible);
	}

	obs_log(LOG_INFO, "Tiplark dock created, visible: %s", boolText(visible));
	return dockWidget;
}

void saveDockPlacement(QMainWindow *mainWindow, QDockWidget *dockWidget)
{
	auto settings = openTiplarkSettings();
	const bool visible = dockWidget->isVisible();
	const bool floating = dockWidget->isFloating();
	const int area = static_cast<int>(mainWindow->dockWidgetArea(dockWidget));
	settings->setValue(VISIBLE_KEY, visible);
	settings->setValue(GEOMETRY_KEY, dockWidget->saveGeometry());
	settings->setValue(FLOATING_KEY, floating);
	settings->setValue(AREA_KEY, area);
	obs_log(LOG_INFO, "Tiplark dock saved: visible=%s, area=%d, floating=%s", boolText(visible), area,
		boolText(floating));
}
