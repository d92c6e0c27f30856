#include "framework/Runtime.h"

#include <QApplication>
#include <QMetaObject>

#include <malloc.h>

#include <csignal>
#include <deque>
#include <unordered_map>

#include "framework/Application.h"
#include "framework/RuntimeInternal.h"
#include "framework/files/Folders.h"
#include "framework/system/FileMode.h"

namespace fw {

namespace {

// The runtime's own state, process-wide as the one QApplication and the one
// run it drives are.
struct Registry {
  std::deque<ClassRecord> records;  // stable addresses for the pointers handed out
  std::unordered_map<String, const ClassRecord*> byName;
  std::unordered_map<std::type_index, const ClassRecord*> byType;
};
Registry& registry() {
  static Registry r;
  return r;
}

// QApplication keeps references to argc and argv for its whole life.
int appArgc = 0;
std::vector<char*> appArgv;
std::vector<String> appArgStorage;

Ref<Application> appObject;
std::vector<std::function<void()>> moduleExits;

// 1 until a run has ended through a quit: a run that never got going (an
// exception out of start-up) must not look like a clean exit to a supervisor.
int exitStatus = 1;
bool quitPending = false;
bool terminating = false;

void OnTerminationSignal(int signo) {
  if (terminating) return;
  terminating = true;
  // No confirmation: the session or the supervisor is ending the process.
  if (Ref<Application> app = appObject) app->Terminating.Raise();
  detail::EndRun(128 + signo);
}

}  // namespace

namespace detail {
void EndRun(int status) {
  if (!(terminating && status == 0)) exitStatus = status;
  quitPending = true;
  // Leaves every loop of this thread, modal ones included.
  QCoreApplication::exit(status);
}
}  // namespace detail

const PropertyInfo* ClassRecord::FindProperty(const String& prop) const {
  for (const ClassRecord* r = this; r; r = r->super)
    for (const PropertyInfo& p : r->properties)
      if (p.name == prop) return &p;
  return nullptr;
}

bool ClassRecord::DerivesFrom(const String& className) const {
  for (const ClassRecord* r = this; r; r = r->super)
    if (r->name == className) return true;
  return false;
}

void RegisterClass(ClassRecord record) {
  Registry& reg = registry();
  if (record.name.empty()) throw RuntimeException("cannot register a class without a name");
  if (reg.byName.count(record.name)) throw RuntimeException("class " + record.name + " is registered twice");
  if (!record.superName.empty()) {
    auto it = reg.byName.find(record.superName);
    if (it == reg.byName.end())
      throw RuntimeException("class " + record.name + " names unknown superclass " + record.superName);
    record.super = it->second;
  } else {
    record.super = nullptr;
  }
  const ClassRecord* rec = &reg.records.emplace_back(std::move(record));
  reg.byName.emplace(rec->name, rec);
  // The first record of a C++ type is the one New<T> uses.
  if (rec->type != std::type_index(typeid(void))) reg.byType.emplace(rec->type, rec);
}

const ClassRecord* FindClass(const String& name) {
  auto& m = registry().byName;
  auto it = m.find(name);
  return it == m.end() ? nullptr : it->second;
}

const ClassRecord* FindClass(std::type_index type) {
  auto& m = registry().byType;
  auto it = m.find(type);
  return it == m.end() ? nullptr : it->second;
}

void AttachRecord(Object& obj, const ClassRecord* record) {
  obj.record_ = record;
  std::vector<const ClassRecord*> chain;
  for (const ClassRecord* r = record; r; r = r->super) chain.push_back(r);
  // Base class first, so that a subclass's hook replaces its superclass's.
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    for (const EventHook& hook : (*it)->hooks) {
      EventBase* ev = obj.FindEvent(hook.event);
      if (!ev)
        throw RuntimeException("class " + (*it)->name + " hooks " + hook.operation + " to event " + hook.event +
                               ", which its objects do not have");
      ev->InstallAny(hook.make(obj));
    }
  }
}

void RuntimeInit(int& argc, char** argv) {
  if (QCoreApplication::instance()) return;
  // Before QApplication, which may start threads: learning the umask may
  // mean setting it for a moment (FileMode.h).
  detail::NewFileMode();
  // Large blocks come straight from the system and go straight back. The
  // allocator would otherwise raise this bound as it sees large blocks freed,
  // and the tables a folder of years needs once at start-up, or a flood
  // record, would stay resident as holes in the heap for the rest of a run
  // of months.
  mallopt(M_MMAP_THRESHOLD, 128 * 1024);
  for (int i = 0; i < argc; ++i) appArgStorage.emplace_back(argv[i]);
  if (appArgStorage.empty()) appArgStorage.emplace_back("tallypoint");
  for (String& s : appArgStorage) appArgv.push_back(s.data());
  appArgv.push_back(nullptr);
  appArgc = static_cast<int>(appArgStorage.size());
  new QApplication(appArgc, appArgv.data());  // lives until the process ends
  QCoreApplication::setApplicationName("TallyPoint");
  // Closing the last window must not end a capture run; only a confirmed quit does.
  QApplication::setQuitOnLastWindowClosed(false);
  // A peer that vanishes must not kill the process through a write.
  std::signal(SIGPIPE, SIG_IGN);
  detail::InstallSignalBridge(&OnTerminationSignal);
}

void _RunFrameworkInitialization(std::shared_ptr<Delegate<void()>> startup) {
  // Exceptions go to the caller's guard: a failed start-up ends the run.
  if (startup) startup->Invoke();
}

// Nothing to prepare: every control class is built in, none is loaded.
void _RuntimeInitExternalClasses() {}
void _InitPluginEntrypoints() {}

void _RuntimeRegisterAppObject(Ref<Application> app) { appObject = std::move(app); }

const Ref<Application>& _GetAppObject() { return appObject; }

void _RuntimeRun() {
  if (!QCoreApplication::instance()) throw RuntimeException("the runtime was not initialised");
  if (!quitPending) {
    // Open is the first event the loop delivers, after the start-up routine.
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [] {
          if (Ref<Application> app = appObject) app->Open.Raise();
        },
        Qt::QueuedConnection);
    QApplication::exec();
  }
  if (!terminating) exitStatus = 0;
  quitPending = false;
  terminating = false;
}

void RegisterModuleExit(std::function<void()> hook) { moduleExits.push_back(std::move(hook)); }

void RuntimeModuleFinalization() {
  auto exits = std::move(moduleExits);
  moduleExits.clear();
  for (auto it = exits.rbegin(); it != exits.rend(); ++it) {
    try {
      (*it)();
    } catch (const std::exception& e) {
      RuntimeUnhandledException(e, "module finalisation");
    }
  }
  appObject = nullptr;
  // The folder watch is read on the event loop and goes with it.
  detail::Folders::Process().EndWatching();
  // Widgets and sockets must go while Qt is still whole, not among the
  // static destructors after main returns.
  delete QCoreApplication::instance();
}

int RuntimeExit() { return exitStatus; }

}  // namespace fw
