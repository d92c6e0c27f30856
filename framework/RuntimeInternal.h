#pragma once
// Runtime state shared by the core files; nothing outside framework/ sees it.
#include "framework/Object.h"

#include <typeinfo>

namespace fw::detail {

// The readable name of a C++ type.
String Demangled(const std::type_info& t);

// Ends the event loop (and any modal loop inside it) with that exit status.
// A request made before the loop runs keeps the loop from starting.
void EndRun(int status);
// Installs the SIGTERM/SIGINT/SIGHUP bridge; onSignal runs on the event loop.
void InstallSignalBridge(void (*onSignal)(int signo));

// Keeps obj alive while its own event handlers run: a handler may drop the
// last reference to it. Null for an object nothing shares.
inline std::shared_ptr<Object> KeepAlive(Object& obj) { return obj.weak_from_this().lock(); }

}  // namespace fw::detail
