#pragma once

#include <functional>

class QMainWindow;
class QWidget;

// Everything that differs between the OBS releases the module runs in: how the panel becomes a dock in
// OBS's main window, who keeps its placement, and what OBS leaves to a plug-in around its start and quit.
// Each family of releases has a source of its own, and the build compiles the one for the libobs it is
// built against: obs-host-29.cpp (OBS 29) and obs-host-30.cpp (OBS 30 and later).
namespace ObsHost {

// Makes the panel as a child of OBS's main window; called once per run, at the moment the family wants it.
using PanelFactory = std::function<QWidget *(QMainWindow *mainWindow)>;

// At module load, and at the frontend's finished-loading and exit events (on the GUI thread).
void moduleLoaded(const PanelFactory &makePanel);
void frontendLoaded(const PanelFactory &makePanel);
void frontendExiting();
// At module unload, before the module's code goes away.
void moduleUnloading();

// False where OBS drops every plug-in's frontend event callbacks itself before it unloads the modules:
// removing them again there only makes OBS log an error.
bool frontendCallbacksNeedRemoval();

} // namespace ObsHost
