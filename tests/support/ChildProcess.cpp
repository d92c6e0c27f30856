#include "support/ChildProcess.h"

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <stdexcept>

#include "support/TestEnvironment.h"

extern char** environ;

namespace tptest {

static int OpenOutput(const std::string& path) {
  return open(path.empty() ? "/dev/null" : path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
}

void Child::Start(const SpawnOptions& o) {
  std::vector<std::string> envStrings;
  for (char** e = environ; *e; ++e) {
    std::string kv = *e;
    std::string key = kv.substr(0, kv.find('='));
    if (o.env.count(key) || std::find(o.unset.begin(), o.unset.end(), key) != o.unset.end()) continue;
    envStrings.push_back(kv);
  }
  for (const auto& [k, v] : o.env) envStrings.push_back(k + "=" + v);
  std::vector<char*> envp, argv;
  for (auto& s : envStrings) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::vector<std::string> args = o.argv;
  for (auto& s : args) argv.push_back(s.data());
  argv.push_back(nullptr);

  // Everything the child needs is opened before fork: after it only
  // async-signal-safe calls are allowed.
  int out = OpenOutput(o.stdoutPath);
  int err = o.stderrPath == o.stdoutPath && !o.stdoutPath.empty() ? dup(out) : OpenOutput(o.stderrPath);
  if (out < 0 || err < 0) throw std::runtime_error("cannot open child output files");
  if (o.uid) {
    if (fchown(out, *o.uid, o.gid.value_or(gid_t(-1))) != 0 || fchown(err, *o.uid, o.gid.value_or(gid_t(-1))) != 0)
      throw std::runtime_error("cannot hand child output files over");
  }
  status_.reset();
  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    setpgid(0, 0);
    dup2(out, 1);
    dup2(err, 2);
    int devnull = open("/dev/null", O_RDONLY);
    if (devnull >= 0) dup2(devnull, 0);
    if (o.passFd >= 0) {
      int flags = fcntl(o.passFd, F_GETFD);
      fcntl(o.passFd, F_SETFD, flags & ~FD_CLOEXEC);
    }
    if (o.gid && (setgroups(0, nullptr) != 0 || setgid(*o.gid) != 0)) _exit(126);
    if (o.uid && setuid(*o.uid) != 0) _exit(126);
    execve(argv[0], argv.data(), envp.data());
    _exit(127);
  }
  close(out);
  close(err);
}

bool Child::Running() {
  if (pid_ <= 0) return false;
  int status = 0;
  pid_t r = waitpid(pid_, &status, WNOHANG);
  if (r == pid_) {
    status_ = status;
    pid_ = -1;
    return false;
  }
  return r == 0;
}

void Child::Signal(int sig) {
  if (pid_ > 0) kill(pid_, sig);
}

std::optional<int> Child::WaitExit(milliseconds timeout) {
  WaitFor([&] { return !Running(); }, timeout, 10ms);
  if (pid_ > 0) return std::nullopt;
  return status_;
}

void Child::Stop(int sig, milliseconds limit) {
  if (!Running()) return;
  Signal(sig);
  if (!WaitExit(limit)) Kill();
}

void Child::Kill() {
  if (pid_ > 0) {
    kill(-pid_, SIGKILL);  // its own process group: helpers it started go too
    kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
    status_ = status;
    pid_ = -1;
  }
}

CommandResult RunCommand(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
                         milliseconds timeout) {
  TempDir scratch;
  SpawnOptions o;
  o.argv = argv;
  o.env = env;
  o.stdoutPath = scratch / "out";
  o.stderrPath = scratch / "err";
  CommandResult r;
  Child c(o);
  auto status = c.WaitExit(timeout);
  if (status && WIFEXITED(*status)) r.status = WEXITSTATUS(*status);
  r.out = ReadFile(o.stdoutPath);
  return r;
}

bool IsExecutable(const std::string& path) { return access(path.c_str(), X_OK) == 0; }

std::string FindOnPath(const std::string& name) {
  const char* path = getenv("PATH");
  std::stringstream dirs(path ? path : "/usr/bin:/bin");
  std::string dir;
  while (std::getline(dirs, dir, ':'))
    if (!dir.empty() && IsExecutable(dir + "/" + name)) return dir + "/" + name;
  return {};
}

}  // namespace tptest
