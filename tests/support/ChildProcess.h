#pragma once
// A child process started with an environment of the test's choosing, in a
// process group of its own, killed with that group when the object goes.
#include <sys/types.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "support/NotCopied.h"
#include "support/WaitFor.h"

namespace tptest {

struct SpawnOptions {
  std::vector<std::string> argv;
  std::map<std::string, std::string> env;  // set, over the inherited environment
  std::vector<std::string> unset;          // removed from the inherited environment
  std::string stdoutPath, stderrPath;      // appended to; empty: /dev/null; one path: one log
  std::optional<uid_t> uid;                // drop to this user (and its group) before exec
  std::optional<gid_t> gid;
  int passFd = -1;                         // kept open across exec
};

class Child : NotCopied {
 public:
  Child() = default;
  explicit Child(const SpawnOptions& o) { Start(o); }
  ~Child() { Kill(); }

  void Start(const SpawnOptions& o);
  pid_t pid() const { return pid_; }
  bool Running();
  void Signal(int sig);
  // The wait status once the child has ended within the time, else nothing.
  std::optional<int> WaitExit(milliseconds timeout);
  // Signals it and waits; SIGKILL after the limit.
  void Stop(int sig, milliseconds limit);
  void Kill();

 private:
  pid_t pid_ = -1;
  std::optional<int> status_;
};

struct CommandResult {
  int status = -1;  // exit code, -1 when it did not end normally in time
  std::string out;
};

// Runs a helper command to its end (or kills it at the deadline) and returns
// its exit code and standard output.
CommandResult RunCommand(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
                         milliseconds timeout = 10s);

bool IsExecutable(const std::string& path);
// The program named on PATH, or empty.
std::string FindOnPath(const std::string& name);

}  // namespace tptest
