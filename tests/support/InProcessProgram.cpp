#include "support/InProcessProgram.h"
#include "support/SettingsFile.h"

#include <cstdlib>

#include "capture/Startup.h"
#include "capture/customPort.h"
#include "capture/secondTimer.h"
#include "capture/IPSocket.h"
#include "framework/Runtime.h"
#include "framework/Testing.h"
#include "framework/Window.h"
#include "ui/Window1.h"

namespace tptest {

void StartRuntime(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  fw::RuntimeInit(argc, argv);
  fw::RegisterFrameworkClasses();
  startup::RegisterProgramClasses();
}

// The dialog first, since its closing reopens the port and writes the main
// window. A closed window is released from the event loop; waiting for that
// frees what it held, such as the listener's port 23.
void CloseUiWindows() {
  for (const char* name : {"prefsWindow.prefsWindow", "Window1.Window1"}) {
    std::weak_ptr<fw::Window> gone;
    if (fw::Ref<fw::Window> w = fw::_GetImplicitWindow(name)) {
      gone = w.shared();
      w->Close();
    }
    RunUntil([&] { return gone.expired(); }, 2000);
  }
}

Program::Program(Lifetime lifetime, const std::string& root)
    : iso(root.empty() ? dir.path() : root), lifetime_(lifetime), root_(root.empty() ? dir.path() : root) {}

Program::~Program() {
  if (lifetime_ == Lifetime::WholeProcess) return;
  fw::testing::ClearModalAnswerer();
  if (!started_) return;
  fw::Ref<class App> a = app();
  // Leave nothing of this run to fire into the next test.
  if (a->regularTimer) a->regularTimer->Mode(0);
  if (a->myPort) a->myPort->Close();
  CloseUiWindows();
}

Program& Program::Shared(bool withSerial) {
  static std::unique_ptr<Program> p;
  if (p) return *p;
  p = std::make_unique<Program>(Lifetime::WholeProcess);
  p->AnswerDialogsThroughLog();
  if (withSerial) {
    p->pty_ = std::make_unique<ListedPty>();
    WriteSettingsFile(p->iso.preferences, p->pty_->slavePath());
  }
  p->Start();
  if (withSerial) RunUntil([] { return App()->myPort && App()->myPort->IsOpen(); }, 5000);
  RunUntil([] { return false; }, 50);
  return *p;
}

void Program::AnswerDialogsThroughLog() { modalLog_.emplace("TALLYPOINT_MODAL_LOG", scratch("modal.log")); }

void Program::WritePrefs(const std::string& content) { WriteFile(prefsFile(), content); }

void Program::StartUp() {
  startup::_Startup();
  started_ = true;
}

void Program::Start() {
  StartUp();
  app()->Open.Raise();
}

fw::Ref<class App> Program::app() const { return ::App(); }

std::string Program::FreshCallsFolder(const std::string& name) {
  std::string path = scratch(name);
  fs::create_directories(path);
  App()->pref_path = fw::FolderItem::FromPath(path);
  return path;
}

std::vector<CallFile> Program::CallFiles() const { return ReadCalls(callsDir()); }

std::vector<std::string> Program::CallContents() const { return Contents(CallFiles()); }

fw::Ref<fw::StaticText> Program::Text(const char* control) {
  return ControlOf<fw::StaticText>(Window1(), control);
}
std::string Program::Status() const { return Text("portStatus")->Text(); }
std::string Program::BufferLine() const { return Text("bufferview")->Text(); }

void Program::Tick() { App()->regularTimer->Action.Raise(); }

fw::Ref<fw::Listbox> Program::FileList() {
  return ControlOf<fw::Listbox>(Window1(), "fileList");
}

fw::Ref<fw::ServerSocket> Program::Listener() {
  return ControlOf<fw::ServerSocket>(Window1(), "ipServer");
}

IPSocketServer::IPSocketServer() : server(fw::New<fw::ServerSocket>()) {
  server->AddSocket.Install(std::make_shared<fw::Delegate<fw::Ref<fw::TCPSocket>()>>(
      [] { return fw::Ref<fw::TCPSocket>(fw::New<IPSocket>()); }, "test.AddSocket"));
  server->Port(0);
  server->MinimumSocketsAvailable(1);
  server->MaximumSocketsConnected(2);
  server->Listen();
  if (!server->IsListening()) throw std::runtime_error("test listener did not start");
}

IPSocketServer::~IPSocketServer() { server->StopListening(); }

int IPSocketServer::port() const { return server->BoundPort(); }

}  // namespace tptest
