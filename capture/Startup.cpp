#include "capture/Startup.h"

#include "capture/App.h"
#include "capture/IPSocket.h"
#include "capture/customPort.h"
#include "capture/secondTimer.h"
#include "ui/MenuBar1.h"
#include "ui/Window1.h"
#include "ui/Window1_ipServer.h"
#include "ui/prefsWindow.h"

namespace startup {

void RegisterProgramClasses() {
  fw::RegisterClass(App::Record());
  fw::RegisterClass(Window1::Record());
  fw::RegisterClass(Window1_ipServer::Record());
  fw::RegisterClass(MenuBar1::Record());
  fw::RegisterClass(customPort::Record());
  fw::RegisterClass(secondTimer::Record());
  fw::RegisterClass(prefsWindow::Record());
  fw::RegisterClass(IPSocket::Record());
}

void _Main() {
  try {
    auto d = std::make_shared<fw::Delegate<void()>>([] { _Startup(); }, "startup._Startup");
    fw::_RunFrameworkInitialization(d);
    d.reset();
    fw::_RuntimeRun();
  } catch (const std::exception& e) {
    fw::RuntimeUnhandledException(e, "startup._Main");
  } catch (...) {
    fw::RuntimeUnhandledException(std::runtime_error("unknown exception"), "startup._Main");
  }
}

void _Startup() {
  fw::_RuntimeInitExternalClasses();
  fw::_InitPluginEntrypoints();
  _InitFileTypes();
  _NewAppInstance();
  _ApplicationAddMenuHandlers();
}

void _InitFileTypes() {}  // no document types

void _NewAppInstance() {
  fw::Ref<class App> app = fw::New<class App>();
  app->MenuBar(MenuBar1());
  fw::_RuntimeRegisterAppObject(app);
}

void _ApplicationAddMenuHandlers() {
  fw::Ref<class App> app = App();
  app->_AddMenuHandler("Prefs", fw::NewDelegate(app.get(), &App::_Prefs_Action, "App._Prefs_Action"));
}

}  // namespace startup
