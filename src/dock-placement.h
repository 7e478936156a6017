#pragma once

class QDockWidget;
class QMainWindow;
class QWidget;

// Where the streamer left the dock is kept in the plug-in's settings store, apart from OBS's own layout.

// Puts the dock hosting `panel` back where it was and logs the creation line. Returns the host dock
// widget, or null when OBS did not place the panel in a QDockWidget (then nothing is restored).
QDockWidget *restoreDockPlacement(QMainWindow *mainWindow, QWidget *panel);

// Records visibility, geometry, floating state and dock area of `dockWidget` as they are now.
void saveDockPlacement(QMainWindow *mainWindow, QDockWidget *dockWidget);
