#pragma once
// Shared by the reliability tests and the benchmarks that drive the program:
// private namespaces, pseudo-terminal serial lines, the program as a child
// process, /proc figures, TCP clients and the call files in writing order.
// Header-only and free of Qt and GoogleTest.

#include <fcntl.h>
#include <linux/sockios.h>
#include <net/if.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <arpa/inet.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "support/TestEnvironment.h"

extern char** environ;

namespace rel {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Polls cond until it holds or the time is up; returns cond().
inline bool WaitFor(const std::function<bool()>& cond, milliseconds limit, milliseconds step = milliseconds(20)) {
  auto end = Clock::now() + limit;
  while (!cond()) {
    if (Clock::now() >= end) return cond();
    std::this_thread::sleep_for(step);
  }
  return true;
}

inline double SecondsSince(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

// ---------------------------------------------------------------- namespaces

struct Namespaces {
  bool net = false;    // own network namespace with loopback up: port 23 is ours
  bool mount = false;  // private mount namespace: our mounts stay ours
  std::string netWhy, mountWhy;
};

inline bool BringLoopbackUp(std::string& why) {
  int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (s < 0) {
    why = std::string("socket: ") + strerror(errno);
    return false;
  }
  ifreq ifr{};
  std::strncpy(ifr.ifr_name, "lo", IFNAMSIZ - 1);
  bool ok = ioctl(s, SIOCGIFFLAGS, &ifr) == 0;
  if (ok) {
    ifr.ifr_flags = static_cast<short>(ifr.ifr_flags | IFF_UP | IFF_RUNNING);
    ok = ioctl(s, SIOCSIFFLAGS, &ifr) == 0;
  }
  if (!ok) why = std::string("loopback up: ") + strerror(errno);
  close(s);
  return ok;
}

// Must run before the process has threads (call it from a static
// initialiser): a multithreaded process cannot move all its threads.
inline Namespaces EnterPrivateNamespaces(bool wantNet, bool wantMount) {
  Namespaces ns;
  if (wantNet) {
    if (unshare(CLONE_NEWNET) != 0) ns.netWhy = std::string("unshare(CLONE_NEWNET): ") + strerror(errno);
    else ns.net = BringLoopbackUp(ns.netWhy);
  }
  if (wantMount) {
    if (unshare(CLONE_NEWNS) != 0) {
      ns.mountWhy = std::string("unshare(CLONE_NEWNS): ") + strerror(errno);
    } else if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
      ns.mountWhy = std::string("making / private: ") + strerror(errno);
    } else {
      ns.mount = true;
    }
  }
  return ns;
}

// ---------------------------------------------------------------- files

inline std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

inline bool Spit(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  out.close();
  return static_cast<bool>(out);
}

// The settings file as the program reads it, naming the serial device.
inline void WriteSettingsFile(const std::string& prefsFolder, const std::string& port, int baudCode = 10) {
  fs::create_directories(prefsFolder);
  Spit(prefsFolder + "/lineKeeper.prefs", "port\t" + port + "\nbaud\t" + std::to_string(baudCode) +
                                             "\nparity\t0\nstop\t0\nbits\t3\n");
}

struct CallFile {
  std::string name;
  std::string stamp;   // date and time part
  long counter = -1;   // the number after it
  std::string content;
};

// Splits "<stamp><counter>.txt"; the stamp of a four-digit year has 14 digits.
inline bool ParseCallFileName(const std::string& name, std::string& stamp, long& counter) {
  if (name.size() < 19 || name.compare(name.size() - 4, 4, ".txt") != 0) return false;
  std::string base = name.substr(0, name.size() - 4);
  if (!std::all_of(base.begin(), base.end(), [](char c) { return c >= '0' && c <= '9'; })) return false;
  stamp = base.substr(0, 14);
  std::string n = base.substr(14);
  if (n.empty() || n.size() > 9) return false;
  counter = std::stol(n);
  return true;
}

struct CallFolder {
  std::vector<CallFile> files;      // in writing order: by stamp, then counter
  std::vector<std::string> strays;  // anything else in the folder
};

// Reads every call file of the folder, ordered as they were written.
inline CallFolder ReadCallFolder(const std::string& dir, bool withContent = true) {
  CallFolder out;
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    std::string name = it->path().filename().string();
    CallFile f;
    f.name = name;
    if (it->is_regular_file(ec) && ParseCallFileName(name, f.stamp, f.counter)) {
      if (withContent) f.content = Slurp(it->path().string());
      out.files.push_back(std::move(f));
    } else {
      out.strays.push_back(name);
    }
  }
  std::sort(out.files.begin(), out.files.end(), [](const CallFile& a, const CallFile& b) {
    return a.stamp != b.stamp ? a.stamp < b.stamp : a.counter < b.counter;
  });
  std::sort(out.strays.begin(), out.strays.end());
  return out;
}

inline size_t CountEntries(const std::string& dir) {
  size_t n = 0;
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) ++n;
  return n;
}

// The stamp the program gives a file written at t (local time).
inline std::string StampAt(time_t t) {
  tm lt{};
  localtime_r(&t, &lt);
  char b[32];
  std::snprintf(b, sizeof b, "%d%02d%02d%02d%02d%02d", lt.tm_year + 1900, lt.tm_mon + 1, lt.tm_mday, lt.tm_hour,
                lt.tm_min, lt.tm_sec);
  return b;
}

// ---------------------------------------------------------------- records

// What the program should make of a byte stream: LF taken as CR, NULs gone,
// split at CR, empty records dropped. Where the stream was cut into
// deliveries does not change this.
inline std::vector<std::string> ExpectedRecords(std::string_view input, bool withTail = true) {
  std::vector<std::string> out;
  std::string cur;
  for (char c : input) {
    if (c == '\r' || c == '\n') {
      if (!cur.empty()) out.push_back(std::move(cur));
      cur.clear();
    } else if (c != '\0') {
      cur.push_back(c);
    }
  }
  if (withTail && !cur.empty()) out.push_back(std::move(cur));
  return out;
}

// Cuts data into deliveries of random sizes, some of one byte.
inline std::vector<std::string> RandomSplits(const std::string& data, std::mt19937_64& rng, size_t maxPiece) {
  std::vector<std::string> out;
  size_t i = 0;
  while (i < data.size()) {
    size_t n = std::uniform_int_distribution<size_t>(1, maxPiece)(rng);
    if (rng() % 8 == 0) n = 1;
    n = std::min(n, data.size() - i);
    out.push_back(data.substr(i, n));
    i += n;
  }
  return out;
}

inline std::string Printable(std::string_view s, size_t max = 80) {
  std::string o;
  for (size_t i = 0; i < s.size() && i < max; ++i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    if (c >= 32 && c < 127) o += static_cast<char>(c);
    else {
      char b[8];
      std::snprintf(b, sizeof b, "\\x%02x", c);
      o += b;
    }
  }
  if (s.size() > max) o += "...(" + std::to_string(s.size()) + " bytes)";
  return o;
}

// ---------------------------------------------------------------- /proc

// User plus system CPU seconds of a process; negative when it is gone.
inline double CpuSeconds(pid_t pid) {
  std::string stat = Slurp("/proc/" + std::to_string(pid) + "/stat");
  auto close = stat.rfind(')');
  if (close == std::string::npos) return -1;
  std::istringstream in(stat.substr(close + 2));
  std::string field;
  std::vector<std::string> f;
  while (in >> field && f.size() < 13) f.push_back(field);
  if (f.size() < 13) return -1;
  // After the command: state is field 3, utime 14, stime 15.
  double ticks = std::stod(f[11]) + std::stod(f[12]);
  return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

inline double SelfCpuSeconds() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
         static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

// A "Vm..." line of /proc/<pid>/status in KiB; -1 when absent.
inline long StatusKb(pid_t pid, const std::string& key) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.compare(0, key.size() + 1, key + ":") == 0) return std::atol(line.c_str() + key.size() + 1);
  }
  return -1;
}

// Whether the process holds an open descriptor on path.
inline bool HoldsOpen(pid_t pid, const std::string& path) {
  std::error_code ec;
  std::string dir = "/proc/" + std::to_string(pid) + "/fd";
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code ec2;
    if (fs::read_symlink(it->path(), ec2).string() == path) return true;
  }
  return false;
}

// Whether something in this network namespace listens on TCP port.
inline bool TcpListening(int port) {
  char hex[8];
  std::snprintf(hex, sizeof hex, ":%04X", port);
  for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
    std::ifstream in(table);
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line)) {
      std::istringstream ls(line);
      std::string sl, local, remote, state;
      ls >> sl >> local >> remote >> state;
      if (state == "0A" && local.size() > 5 && local.compare(local.size() - 5, 5, hex) == 0) return true;
    }
  }
  return false;
}

// ---------------------------------------------------------------- pty

// A pseudo-terminal standing in for the serial line. The slave is put in raw
// mode at once and kept open by us, so that bytes written before the program
// opens it are not cooked by the line discipline.
class Pty {
 public:
  Pty() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) throw std::runtime_error("posix_openpt");
    char name[128];
    if (ptsname_r(master_, name, sizeof name) != 0) throw std::runtime_error("ptsname");
    slavePath_ = name;
    slave_ = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave_ < 0) throw std::runtime_error("open slave");
    termios t{};
    tcgetattr(slave_, &t);
    cfmakeraw(&t);
    cfsetispeed(&t, B19200);
    cfsetospeed(&t, B19200);
    tcsetattr(slave_, TCSANOW, &t);
    tcgetattr(master_, &t);
    cfmakeraw(&t);
    tcsetattr(master_, TCSANOW, &t);
  }
  ~Pty() { Vanish(); }
  Pty(const Pty&) = delete;
  Pty& operator=(const Pty&) = delete;

  const std::string& slavePath() const { return slavePath_; }
  int master() const { return master_; }
  // Bytes written to the line that the program has not read yet.
  int Unread() const {
    int n = 0;
    return slave_ >= 0 && ioctl(slave_, FIONREAD, &n) == 0 ? n : 0;
  }

  // Writes all of data; false when the line is gone.
  bool Write(std::string_view data) {
    size_t off = 0;
    while (off < data.size()) {
      ssize_t n = write(master_, data.data() + off, data.size() - off);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno == EAGAIN) {
        pollfd p{master_, POLLOUT, 0};
        poll(&p, 1, 50);
        continue;
      }
      if (n <= 0) return false;
      off += static_cast<size_t>(n);
      Drain();
    }
    return true;
  }

  // Writes what fits now without blocking; returns the count written.
  size_t WriteSome(std::string_view data) {
    int fl = fcntl(master_, F_GETFL);
    fcntl(master_, F_SETFL, fl | O_NONBLOCK);
    ssize_t n = write(master_, data.data(), data.size());
    fcntl(master_, F_SETFL, fl);
    Drain();
    return n > 0 ? static_cast<size_t>(n) : 0;
  }

  // Discards whatever the far side wrote back (flow-control characters).
  void Drain() {
    char buf[4096];
    for (;;) {
      pollfd p{master_, POLLIN, 0};
      if (poll(&p, 1, 0) <= 0 || !(p.revents & POLLIN)) return;
      if (read(master_, buf, sizeof buf) <= 0) return;
    }
  }

  // The device goes away, as an unplugged adapter would.
  void Vanish() {
    if (slave_ >= 0) close(slave_);
    if (master_ >= 0) close(master_);
    slave_ = master_ = -1;
  }

 private:
  int master_ = -1, slave_ = -1;
  std::string slavePath_;
};

// ---------------------------------------------------------------- TCP

class TcpClient {
 public:
  TcpClient() = default;
  ~TcpClient() { Close(); }
  TcpClient(const TcpClient&) = delete;
  TcpClient& operator=(const TcpClient&) = delete;

  bool Connect(int port, milliseconds limit = milliseconds(5000)) {
    Close();
    auto end = Clock::now() + limit;
    while (Clock::now() < end) {
      fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_port = htons(static_cast<uint16_t>(port));
      a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      if (connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) {
        int one = 1;
        setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        return true;
      }
      Close();
      std::this_thread::sleep_for(milliseconds(50));
    }
    return false;
  }
  bool connected() const { return fd_ >= 0; }
  int fd() const { return fd_; }

  bool Send(std::string_view data) {
    size_t off = 0;
    while (off < data.size()) {
      ssize_t n = send(fd_, data.data() + off, data.size() - off, MSG_NOSIGNAL);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      off += static_cast<size_t>(n);
    }
    return true;
  }

  // Waits until the peer's kernel has acknowledged everything sent.
  bool WaitAcked(milliseconds limit) {
    return WaitFor([&] {
      int pending = 0;
      return ioctl(fd_, SIOCOUTQ, &pending) == 0 && pending == 0;
    }, limit, milliseconds(5));
  }

  // Ends the connection with a reset instead of an orderly close.
  void Reset() {
    if (fd_ < 0) return;
    linger l{1, 0};
    setsockopt(fd_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    close(fd_);
    fd_ = -1;
  }

  void Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
};

// ---------------------------------------------------------------- the program

struct ProgramOptions {
  std::string binary;
  std::string volume;       // TALLYPOINT_STARTUP_VOLUME
  std::string preferences;  // XDG_CONFIG_HOME
  std::string serialPorts;  // TALLYPOINT_SERIAL_PORTS
  std::string log;          // standard output and error
  std::string modalLog;     // TALLYPOINT_MODAL_LOG: modal dialogs answered, not shown
};

// A program in dir reading the serial line pty, chosen in its settings file.
inline ProgramOptions SerialProgramIn(const std::string& root, const std::string& ptySlave) {
  ProgramOptions o;
  o.binary = TALLYPOINT_BINARY;
  o.volume = root + "/volume";
  o.preferences = root + "/prefs";
  o.serialPorts = ptySlave;
  o.log = root + "/program.log";
  fs::create_directories(o.volume);
  WriteSettingsFile(o.preferences, ptySlave);
  return o;
}
inline ProgramOptions SerialProgramIn(const tptest::TempDir& dir, const std::string& ptySlave) {
  return SerialProgramIn(dir.path(), ptySlave);
}

// build/tallypoint as a child process, headless.
class Program {
 public:
  explicit Program(const ProgramOptions& o) : o_(o) {
    std::map<std::string, std::string> env;
    for (char** e = environ; *e; ++e) {
      std::string kv = *e;
      auto eq = kv.find('=');
      if (eq != std::string::npos) env[kv.substr(0, eq)] = kv.substr(eq + 1);
    }
    env["QT_QPA_PLATFORM"] = "offscreen";
    env["TALLYPOINT_STARTUP_VOLUME"] = o.volume;
    env["XDG_CONFIG_HOME"] = o.preferences;
    env["TALLYPOINT_SERIAL_PORTS"] = o.serialPorts;
    env["TALLYPOINT_MODAL_LOG"] = o.modalLog.empty() ? o.preferences + "/modal.log" : o.modalLog;
    std::vector<std::string> kv;
    for (auto& [k, v] : env) kv.push_back(k + "=" + v);
    std::vector<char*> envp;
    for (auto& s : kv) envp.push_back(s.data());
    envp.push_back(nullptr);
    std::string bin = o.binary;
    char* argv[] = {bin.data(), nullptr};

    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    std::string log = o.log.empty() ? "/dev/null" : o.log;
    posix_spawn_file_actions_addopen(&fa, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&fa, 1, 2);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    int rc = posix_spawn(&pid_, bin.c_str(), &fa, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&fa);
    if (rc != 0) {
      pid_ = -1;
      throw std::runtime_error("cannot start " + bin + ": " + strerror(rc));
    }
    started_ = Clock::now();
  }
  ~Program() { Stop(SIGKILL, milliseconds(3000)); }
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  pid_t pid() const { return pid_; }
  std::string callsDir() const { return o_.volume + "/Calls"; }
  Clock::time_point started() const { return started_; }

  bool Alive() {
    if (pid_ <= 0 || exited_) return false;
    int st = 0;
    pid_t r = waitpid(pid_, &st, WNOHANG);
    if (r == pid_) {
      exited_ = true;
      status_ = st;
      return false;
    }
    return true;
  }
  int status() const { return status_; }
  bool exited() const { return exited_; }

  // Start-up is over when "Calls" exists, the serial device (if any) is
  // open and, when wanted, port 23 listens.
  bool WaitStarted(milliseconds limit, bool serial, bool tcp) {
    return WaitFor([&] {
      if (!Alive()) return true;
      if (!fs::exists(callsDir())) return false;
      if (serial && !HoldsOpen(pid_, o_.serialPorts)) return false;
      if (tcp && !TcpListening(23)) return false;
      return true;
    }, limit) && Alive();
  }

  // Signals the process and waits for it; SIGKILL after the limit.
  void Stop(int sig, milliseconds limit) {
    if (pid_ <= 0 || !Alive()) return;
    kill(pid_, sig);
    if (!WaitFor([&] { return !Alive(); }, limit, milliseconds(10))) {
      kill(pid_, SIGKILL);
      WaitFor([&] { return !Alive(); }, milliseconds(5000), milliseconds(10));
    }
  }

  std::string Log() const { return o_.log.empty() ? "" : Slurp(o_.log); }

 private:
  ProgramOptions o_;
  pid_t pid_ = -1;
  bool exited_ = false;
  int status_ = 0;
  Clock::time_point started_;
};

// The call files of a folder as they stand, once their number has not
// changed for quiet.
inline size_t WaitFileCountSettles(const std::string& dir, milliseconds quiet, milliseconds limit) {
  size_t last = CountEntries(dir);
  auto since = Clock::now();
  auto end = Clock::now() + limit;
  while (Clock::now() < end) {
    std::this_thread::sleep_for(milliseconds(50));
    size_t n = CountEntries(dir);
    if (n != last) {
      last = n;
      since = Clock::now();
    } else if (Clock::now() - since >= quiet) {
      break;
    }
  }
  return last;
}

}  // namespace rel
