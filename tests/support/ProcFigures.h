#pragma once
// What /proc and the kernel say about a running process.
#include <sys/types.h>

#include <string>

namespace tptest {

// User plus system CPU seconds of a process; negative when it is gone.
double CpuSeconds(pid_t pid);
double SelfCpuSeconds();
// A "Vm..." line of /proc/<pid>/status in KiB; -1 when absent.
long StatusKb(pid_t pid, const std::string& key);
// Whether the process holds an open descriptor on path.
bool HoldsOpen(pid_t pid, const std::string& path);

}  // namespace tptest
