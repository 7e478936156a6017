#include "http/transport.h"
#include "labels/label-feed.h"
#include "labels/label-sources.h"
#include "new-message-chime.h"
#include "obs-host.h"
#include "plugin-support.h"
#include "remote/remote-access.h"
#include "remote/remote-control-setting.h"
#include "row-list-accessibility.h"
#include "service-addresses.h"
#include "streamer-session.h"
#include "tiplark-dock.h"

#include <obs-frontend-api.h>
#include <obs-module.h>

#include <QMainWindow>

#include <memory>

OBS_DECLARE_MODULE()
OBS_MODULE_USE_DEFAULT_LOCALE(PLUGIN_NAME, "en-US")

namespace {
// The labels in OBS's scenes; OBS releases them before it unloads modules, and this outlives them.
LabelSources labelSources;
// Made at load in this order, released at unload in the reverse one. The session is the service's state and
// actions; the rest are its views and the streamer's choices about them.
std::unique_ptr<Transport> transport;
std::unique_ptr<RemoteControlSetting> remoteControl;
std::unique_ptr<StreamerSession> session;
std::unique_ptr<NewMessageChime> chime;
std::unique_ptr<RemoteAccess> remoteAccess;
std::unique_ptr<LabelFeed> labelFeed;
// OBS's main window owns the panel, and may destroy it after the module unloaded.
TiplarkDock *dock = nullptr;

QWidget *createPanel(QMainWindow *mainWindow)
{
	dock = new TiplarkDock(session.get(), remoteControl.get(), chime.get(), mainWindow);
	return dock;
}

void frontend_event_callback(enum obs_frontend_event event, void *)
{
	remoteAccess->onFrontendEvent(event);
	if (event == OBS_FRONTEND_EVENT_FINISHED_LOADING) {
		session->start();
		ObsHost::frontendLoaded(createPanel);
	} else if (event == OBS_FRONTEND_EVENT_EXIT) {
		session->stop();
		// OBS's media sources go before the modules unload: the chime's sound with them.
		if (chime)
			chime->release();
		// The host saves what it keeps of the dock while the panel still shows its final state.
		ObsHost::frontendExiting();
		if (dock)
			dock->shutdown();
		dock = nullptr;
	}
}
} // namespace

bool obs_module_load(void)
{
	transport = std::make_unique<Transport>();
	obs_log(LOG_INFO, "plugin loaded successfully (version %s)", PLUGIN_VERSION);
	remoteControl = std::make_unique<RemoteControlSetting>();
	session = std::make_unique<StreamerSession>(serviceAddressesFromEnvironment());
	if (char *chimeFile = obs_module_file("sounds/new-message.wav")) {
		chime = std::make_unique<NewMessageChime>(QString::fromUtf8(chimeFile));
		QObject::connect(session.get(), &StreamerSession::newPendingMessages, chime.get(),
				 &NewMessageChime::ring);
		bfree(chimeFile);
	}
	remoteAccess = std::make_unique<RemoteAccess>(session.get(), remoteControl.get());
	labelSources.registerType();
	labelFeed = std::make_unique<LabelFeed>(session.get(), &labelSources);
	obs_frontend_add_event_callback(frontend_event_callback, nullptr);
	ObsHost::moduleLoaded(createPanel);
	return true;
}

void obs_module_post_load(void)
{
	remoteAccess->onAllModulesLoaded();
}

void obs_module_unload(void)
{
	if (ObsHost::frontendCallbacksNeedRemoval())
		obs_frontend_remove_event_callback(frontend_event_callback, nullptr);
	ObsHost::moduleUnloading();
	labelFeed.reset();
	remoteAccess.reset();
	chime.reset();
	session.reset();
	remoteControl.reset();
	removeRowListAccessibility();
	// OBS unloads our code after this returns: no worker may still be inside a request then. A worker
	// that is (libcurl did not let go in time) still uses the transport: it is left to it.
	if (!transport->shutdown(Transport::UNLOAD_WAIT))
		(void)transport.release();
	transport.reset();
	obs_log(LOG_INFO, "plugin unloaded");
}
