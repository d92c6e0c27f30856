#pragma once
// Drives build/tallypoint as a separate process: a private volume and
// Preferences folder, a pseudo-terminal as its serial line, its call files
// read back from outside. Header-only, shared by the end-to-end tests.
#include <fcntl.h>
#include <grp.h>
#include <net/if.h>
#include <poll.h>
#include <pwd.h>
#include <sched.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <netinet/in.h>
#include <arpa/inet.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <regex>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/NetNamespace.h"
#include "support/TestEnvironment.h"

extern char** environ;

namespace e2e {

namespace fs = std::filesystem;
using Clock = std::chrono::system_clock;
using namespace std::chrono_literals;

// A zone half an hour off any whole-hour zone, so that a stamp taken in UTC
// or with the wrong offset cannot pass for local time.
inline constexpr const char* kTestZone = "TPT-05:30";

inline bool WaitFor(const std::function<bool()>& cond, std::chrono::milliseconds timeout,
                    std::chrono::milliseconds poll = 20ms) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (cond()) return true;
    if (std::chrono::steady_clock::now() >= end) return cond();
    std::this_thread::sleep_for(poll);
  }
}

inline double Seconds(const timespec& t) { return double(t.tv_sec) + double(t.tv_nsec) / 1e9; }
inline double Seconds(Clock::time_point t) {
  return std::chrono::duration<double>(t.time_since_epoch()).count();
}

// Local date and time as the call-file names carry it: YYYYMMDDhhmmss.
inline std::string Stamp(time_t t) {
  tm local{};
  localtime_r(&t, &local);
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d%02d%02d%02d%02d%02d", local.tm_year + 1900, local.tm_mon + 1,
                local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
  return buf;
}

inline bool IsExecutable(const std::string& path) { return access(path.c_str(), X_OK) == 0; }

// The program named on PATH, or empty.
inline std::string FindOnPath(const std::string& name) {
  const char* path = getenv("PATH");
  std::stringstream dirs(path ? path : "/usr/bin:/bin");
  std::string dir;
  while (std::getline(dirs, dir, ':'))
    if (!dir.empty() && IsExecutable(dir + "/" + name)) return dir + "/" + name;
  return {};
}

inline void AppendFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::app);
  out << text;
}

// ---------------------------------------------------------------- processes

struct SpawnOptions {
  std::vector<std::string> argv;
  std::map<std::string, std::string> env;  // set, over the inherited environment
  std::vector<std::string> unset;          // removed from the inherited environment
  std::string stdoutPath, stderrPath;      // empty: /dev/null
  std::optional<uid_t> uid;                // drop to this user (and its group) before exec
  std::optional<gid_t> gid;
  int passFd = -1;                         // kept open across exec
};

// A child process, killed with SIGKILL and reaped when the object goes.
class Child {
 public:
  Child() = default;
  explicit Child(const SpawnOptions& o) { Start(o); }
  ~Child() { Kill(); }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  void Start(const SpawnOptions& o) {
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
    int out = open(o.stdoutPath.empty() ? "/dev/null" : o.stdoutPath.c_str(),
                   O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    int err = open(o.stderrPath.empty() ? "/dev/null" : o.stderrPath.c_str(),
                   O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (out < 0 || err < 0) throw std::runtime_error("cannot open child output files");
    if (o.uid) {
      if (fchown(out, *o.uid, o.gid.value_or(gid_t(-1))) != 0 || fchown(err, *o.uid, o.gid.value_or(gid_t(-1))) != 0)
        throw std::runtime_error("cannot hand child output files over");
    }
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

  pid_t pid() const { return pid_; }

  bool Running() {
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

  void Signal(int sig) {
    if (pid_ > 0) kill(pid_, sig);
  }

  // The wait status once the child has ended within the time, else nothing.
  std::optional<int> WaitExit(std::chrono::milliseconds timeout) {
    WaitFor([&] { return !Running(); }, timeout, 10ms);
    if (pid_ > 0) return std::nullopt;
    return status_;
  }

  void Kill() {
    if (pid_ > 0) {
      kill(-pid_, SIGKILL);  // its own process group: helpers it started go too
      kill(pid_, SIGKILL);
      int status = 0;
      waitpid(pid_, &status, 0);
      status_ = status;
      pid_ = -1;
    }
  }

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
inline CommandResult RunCommand(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
                                std::chrono::milliseconds timeout = 10s) {
  tptest::TempDir scratch;
  SpawnOptions o;
  o.argv = argv;
  o.env = env;
  o.stdoutPath = scratch / "out";
  o.stderrPath = scratch / "err";
  CommandResult r;
  Child c(o);
  auto status = c.WaitExit(timeout);
  if (status && WIFEXITED(*status)) r.status = WEXITSTATUS(*status);
  r.out = tptest::ReadFile(o.stdoutPath);
  return r;
}

// ------------------------------------------------------------ serial line

// A pseudo-terminal: the test holds the master, the program opens the slave.
class Pty {
 public:
  Pty() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
      throw std::runtime_error("no pseudo-terminal");
    char name[128];
    if (ptsname_r(master_, name, sizeof name) != 0) throw std::runtime_error("ptsname failed");
    slave_ = name;
  }
  ~Pty() {
    if (master_ >= 0) close(master_);
  }
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;

  const std::string& slavePath() const { return slave_; }

  // True once someone put the line into raw mode: before that the line
  // discipline would turn CR into LF and the test would not send what it means.
  bool Raw() const {
    termios t{};
    if (tcgetattr(master_, &t) != 0) return false;
    return !(t.c_lflag & ICANON) && !(t.c_iflag & (ICRNL | INLCR | IGNCR)) && !(t.c_lflag & ECHO);
  }

  void Write(const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
      ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) throw std::runtime_error(std::string("pty write failed: ") + std::strerror(errno));
      done += size_t(n);
    }
    tcdrain(master_);
  }

 private:
  int master_ = -1;
  std::string slave_;
};

// ------------------------------------------------------------- call files

struct CallFile {
  std::string name;
  std::string stamp;    // YYYYMMDDhhmmss
  long counter = -1;
  std::string content;
  double mtime = 0;     // seconds since the epoch
};

// The call files in folder, in the order they were written (stamp, then
// counter), and every other entry's name in strays.
inline std::vector<CallFile> ReadCalls(const std::string& folder, std::vector<std::string>* strays = nullptr) {
  static const std::regex pattern(R"(^(\d{14})(\d+)\.txt$)");
  std::vector<CallFile> calls;
  std::error_code ec;
  for (auto it = fs::directory_iterator(folder, ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
    std::string name = it->path().filename().string();
    std::smatch m;
    struct stat st {};
    if (!std::regex_match(name, m, pattern) || stat(it->path().c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
      if (strays) strays->push_back(name);
      continue;
    }
    CallFile f;
    f.name = name;
    f.stamp = m[1];
    f.counter = std::stol(m[2]);
    f.content = tptest::ReadFile(it->path().string());
    f.mtime = Seconds(st.st_mtim);
    calls.push_back(f);
  }
  std::sort(calls.begin(), calls.end(), [](const CallFile& a, const CallFile& b) {
    return a.stamp != b.stamp ? a.stamp < b.stamp : a.counter < b.counter;
  });
  return calls;
}

inline std::vector<std::string> Contents(const std::vector<CallFile>& calls) {
  std::vector<std::string> v;
  for (const auto& c : calls) v.push_back(c.content);
  return v;
}

inline size_t CountCalls(const std::string& folder) { return ReadCalls(folder).size(); }

// -------------------------------------------------------------- the program

struct LineSettings {
  std::string port;
  int baud = 8, parity = 0, stop = 0, bits = 3;
};

inline std::string PrefsText(const LineSettings& s) {
  return "port\t" + s.port + "\nbaud\t" + std::to_string(s.baud) + "\nparity\t" + std::to_string(s.parity) +
         "\nstop\t" + std::to_string(s.stop) + "\nbits\t" + std::to_string(s.bits) + "\n";
}

// One run of build/tallypoint in a private folder tree:
//   <root>/volume        the startup volume ("Calls" lives here)
//   <root>/preferences   the Preferences folder (lineKeeper.prefs)
//   <root>/modal.log     the dialogs it would have shown
class Program {
 public:
  struct Options {
    std::optional<LineSettings> prefs;   // written as lineKeeper.prefs before start
    std::string serialPorts;             // TALLYPOINT_SERIAL_PORTS
    bool modalLog = true;                // answer dialogs through the log
    bool createCalls = false;            // make "Calls" before start
    std::string platform = "offscreen";
    std::map<std::string, std::string> env;
    std::optional<uid_t> uid;
    std::optional<gid_t> gid;
    std::vector<std::string> launcher;   // runs the program, given as its last arguments
  };

  Program() : volume(root / "volume"), preferences(root / "preferences"), calls(volume + "/Calls"),
              modalLogPath(root / "modal.log"), stderrPath(root / "stderr.txt"), stdoutPath(root / "stdout.txt") {
    fs::create_directories(volume);
    fs::create_directories(preferences);
  }

  void Start(const Options& o, const std::string& binary = TALLYPOINT_BINARY) {
    if (o.prefs) tptest::WriteFile(PrefsPath(), PrefsText(*o.prefs));
    if (o.createCalls) fs::create_directories(calls);
    SpawnOptions s;
    s.argv = o.launcher;
    s.argv.push_back(binary);
    s.env = o.env;
    s.env["TALLYPOINT_STARTUP_VOLUME"] = volume;
    s.env["XDG_CONFIG_HOME"] = preferences;
    s.env["QT_QPA_PLATFORM"] = o.platform;
    s.env["TZ"] = kTestZone;
    s.unset = {"TALLYPOINT_MODAL_LOG", "TALLYPOINT_SERIAL_PORTS"};
    if (o.modalLog) {
      tptest::WriteFile(modalLogPath, "");
      s.env["TALLYPOINT_MODAL_LOG"] = modalLogPath;
    }
    if (!o.serialPorts.empty()) s.env["TALLYPOINT_SERIAL_PORTS"] = o.serialPorts;
    s.stdoutPath = stdoutPath;
    s.stderrPath = stderrPath;
    s.uid = o.uid;
    s.gid = o.gid;
    process.Start(s);
  }

  std::string PrefsPath() const { return preferences + "/lineKeeper.prefs"; }
  std::vector<std::string> ModalLines() const {
    std::vector<std::string> lines;
    std::stringstream in(tptest::ReadFile(modalLogPath));
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
  }
  std::string Stderr() const { return tptest::ReadFile(stderrPath); }
  // For failure messages: what the program said.
  std::string Diagnostics() const {
    return "\n--- program stderr ---\n" + Stderr() + "\n--- modal log ---\n" + tptest::ReadFile(modalLogPath);
  }

  bool WaitForCalls(size_t n, std::chrono::milliseconds timeout) {
    return WaitFor([&] { return CountCalls(calls) >= n; }, timeout);
  }

  tptest::TempDir root;
  std::string volume, preferences, calls, modalLogPath, stderrPath, stdoutPath;
  Child process;
};

// Sets the test process's time zone for its lifetime; the program gets the same.
class LocalZone {
 public:
  LocalZone() {
    const char* old = getenv("TZ");
    had_ = old != nullptr;
    if (had_) old_ = old;
    setenv("TZ", kTestZone, 1);
    tzset();
  }
  ~LocalZone() {
    if (had_) setenv("TZ", old_.c_str(), 1);
    else unsetenv("TZ");
    tzset();
  }

 private:
  bool had_ = false;
  std::string old_;
};

// -------------------------------------------------------------- networking

using tptest::NetNamespace;

// True when something in this thread's network namespace listens on port.
inline bool Listening(int port) {
  char hex[8];
  std::snprintf(hex, sizeof hex, ":%04X", port);
  for (const char* table : {"/proc/thread-self/net/tcp", "/proc/thread-self/net/tcp6"}) {
    std::stringstream in(tptest::ReadFile(table));
    std::string line;
    std::getline(in, line);  // header
    while (std::getline(in, line)) {
      std::stringstream f(line);
      std::string slot, local, remote, state;
      f >> slot >> local >> remote >> state;
      if (state == "0A" && local.size() > 5 && local.substr(local.size() - 5) == hex) return true;
    }
  }
  return false;
}

// A TCP client of the program on 127.0.0.1.
class Client {
 public:
  explicit Client(int port) {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd_ < 0 || connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
      throw std::runtime_error(std::string("connect failed: ") + std::strerror(errno));
  }
  ~Client() { Close(); }
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  void Send(const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
      ssize_t n = send(fd_, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) throw std::runtime_error(std::string("send failed: ") + std::strerror(errno));
      done += size_t(n);
    }
  }
  void Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
};

}  // namespace e2e
