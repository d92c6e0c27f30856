// Preloaded into the program by tests: traces when files are made durable
// and when a temporary takes its name, fails syncs on request, and ends or
// stops the process at a chosen call.
//
//   TALLYPOINT_SYNC_TRACE=path    one line per event, appended
//   TALLYPOINT_FAIL_SYNCFS=1      every syncfs fails with EIO
//   TALLYPOINT_FAIL_FSYNC_OF=s    fsync of a regular file whose first 4 KiB
//                                 hold s fails with EIO
//   TALLYPOINT_FAIL_FSYNC_FOLDER=1  every fsync of a folder fails with EIO
//   TALLYPOINT_END_AT="kill|stop <call> <n>"
//                                 SIGKILL (or SIGSTOP) the process just
//                                 before the n-th such call runs:
//                                 "syncfs"; "mark", an fchmod of a regular
//                                 file; "named", a temporary taking a name.
//                                 Marks and names count from the last
//                                 successful sync (fsync of a file, syncfs),
//                                 so that those of a batch count and a
//                                 tick's own file, synced at once, does not.
//
// Lines: "syncfs 0|-1", "fsync file|folder 0|-1", "unlink <path>",
// "killed|stopped at <call> <n>", and "named <path> durable|UNSYNCED" when a
// hidden temporary (".tp-") is renamed or linked to a name: UNSYNCED when
// bytes written to it since it was made were covered by no successful fsync
// or syncfs. Bytes count as written through write(2), the call the program's
// output streams use.
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <sstream>
#include <set>
#include <string>
#include <utility>

#include "framework/system/FileDescriptor.h"

namespace {

template <class F>
F Next(const char* name) {
  return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

struct Tracer {
  std::mutex mu;
  std::set<std::pair<dev_t, ino_t>> unsynced;  // regular files written since their last sync
  int traceFd = -1;
  bool failSyncfs = false;
  bool failFsyncFolder = false;
  std::string failFsyncOf;
  bool endStops = false;  // SIGSTOP rather than SIGKILL
  std::string endCall;
  long endAt = 0;
  std::map<std::string, long> counts;

  Tracer() {
    if (const char* p = std::getenv("TALLYPOINT_SYNC_TRACE"))
      traceFd = Next<int (*)(const char*, int, ...)>("open")(p, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    const char* f = std::getenv("TALLYPOINT_FAIL_SYNCFS");
    failSyncfs = f && *f == '1';
    const char* d = std::getenv("TALLYPOINT_FAIL_FSYNC_FOLDER");
    failFsyncFolder = d && *d == '1';
    if (const char* s = std::getenv("TALLYPOINT_FAIL_FSYNC_OF")) failFsyncOf = s;
    if (const char* e = std::getenv("TALLYPOINT_END_AT")) {
      std::istringstream in(e);
      std::string how;
      in >> how >> endCall >> endAt;
      endStops = how == "stop";
    }
  }

  void Line(const std::string& s) {
    if (traceFd < 0) return;
    std::string l = s + "\n";
    static auto realWrite = Next<ssize_t (*)(int, const void*, size_t)>("write");
    (void)realWrite(traceFd, l.data(), l.size());
  }
};

Tracer& T() {
  static Tracer t;
  return t;
}

// Counts a call about to run; at the chosen count, ends or stops the process first.
void Reached(const std::string& call) {
  Tracer& t = T();
  {
    std::lock_guard<std::mutex> lock(t.mu);
    if (++t.counts[call] != t.endAt || call != t.endCall) return;
    t.Line(std::string(t.endStops ? "stopped at " : "killed at ") + call + " " + std::to_string(t.endAt));
  }
  if (t.endStops) raise(SIGSTOP);
  else kill(getpid(), SIGKILL);
}

// Under the lock: a successful sync starts the counts of marks and names afresh.
void SyncedAll(Tracer& t) {
  t.counts["mark"] = 0;
  t.counts["named"] = 0;
}

bool RegularFile(int fd, struct stat& st) { return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode); }

// Read through a descriptor of its own: fd may be open for writing only.
bool Holds(int fd, const std::string& s) {
  if (s.empty()) return false;
  static auto realOpen = Next<int (*)(const char*, int, ...)>("open");
  fw::detail::FileDescriptor rfd(realOpen(("/proc/self/fd/" + std::to_string(fd)).c_str(), O_RDONLY | O_CLOEXEC));
  if (!rfd) return false;
  char buf[4096];
  ssize_t n = ::pread(rfd.Get(), buf, sizeof buf, 0);
  return n > 0 && std::string(buf, static_cast<size_t>(n)).find(s) != std::string::npos;
}

void Wrote(int fd) {
  struct stat st {};
  if (!RegularFile(fd, st)) return;
  Tracer& t = T();
  std::lock_guard<std::mutex> lock(t.mu);
  t.unsynced.insert({st.st_dev, st.st_ino});
}

int Synced(int fd, int (*real)(int)) {
  Tracer& t = T();
  struct stat st {};
  const bool file = RegularFile(fd, st);
  int rc;
  if ((file && Holds(fd, t.failFsyncOf)) || (!file && t.failFsyncFolder)) {
    errno = EIO;
    rc = -1;
  } else {
    rc = real(fd);
  }
  int err = errno;
  std::lock_guard<std::mutex> lock(t.mu);
  if (rc == 0 && file) {
    t.unsynced.erase({st.st_dev, st.st_ino});
    SyncedAll(t);
  }
  t.Line(std::string("fsync ") + (file ? "file " : "folder ") + std::to_string(rc));
  errno = err;
  return rc;
}

// Called before a rename or link of from to to.
void Naming(int dirfd, const char* from, const char* to) {
  if (!std::strstr(from, "/.tp-") && std::strncmp(from, ".tp-", 4) != 0) return;
  Reached("named");
  struct stat st {};
  if (::fstatat(dirfd, from, &st, AT_SYMLINK_NOFOLLOW) != 0) return;
  Tracer& t = T();
  std::lock_guard<std::mutex> lock(t.mu);
  const bool dirty = t.unsynced.count({st.st_dev, st.st_ino}) > 0;
  t.Line(std::string("named ") + to + (dirty ? " UNSYNCED" : " durable"));
}

}  // namespace

extern "C" {

ssize_t write(int fd, const void* buf, size_t n) {
  static auto real = Next<ssize_t (*)(int, const void*, size_t)>("write");
  ssize_t r = real(fd, buf, n);
  int err = errno;
  if (r > 0) Wrote(fd);
  errno = err;
  return r;
}

int fsync(int fd) {
  static auto real = Next<int (*)(int)>("fsync");
  return Synced(fd, real);
}

int fdatasync(int fd) {
  static auto real = Next<int (*)(int)>("fdatasync");
  return Synced(fd, real);
}

int syncfs(int fd) {
  static auto real = Next<int (*)(int)>("syncfs");
  Reached("syncfs");
  Tracer& t = T();
  int rc;
  if (t.failSyncfs) {
    errno = EIO;
    rc = -1;
  } else {
    rc = real(fd);
  }
  int err = errno;
  std::lock_guard<std::mutex> lock(t.mu);
  if (rc == 0) {
    t.unsynced.clear();
    SyncedAll(t);
  }
  t.Line("syncfs " + std::to_string(rc));
  errno = err;
  return rc;
}

int fchmod(int fd, mode_t mode) {
  static auto real = Next<int (*)(int, mode_t)>("fchmod");
  struct stat st {};
  if (RegularFile(fd, st)) Reached("mark");
  return real(fd, mode);
}

int rename(const char* from, const char* to) {
  static auto real = Next<int (*)(const char*, const char*)>("rename");
  Naming(AT_FDCWD, from, to);
  return real(from, to);
}

int renameat(int fromDir, const char* from, int toDir, const char* to) {
  static auto real = Next<int (*)(int, const char*, int, const char*)>("renameat");
  Naming(fromDir, from, to);
  return real(fromDir, from, toDir, to);
}

int renameat2(int fromDir, const char* from, int toDir, const char* to, unsigned flags) {
  static auto real = Next<int (*)(int, const char*, int, const char*, unsigned)>("renameat2");
  Naming(fromDir, from, to);
  return real(fromDir, from, toDir, to, flags);
}

int link(const char* from, const char* to) {
  static auto real = Next<int (*)(const char*, const char*)>("link");
  Naming(AT_FDCWD, from, to);
  return real(from, to);
}

int unlink(const char* path) {
  static auto real = Next<int (*)(const char*)>("unlink");
  int rc = real(path);
  int err = errno;
  if (rc == 0 && !std::strstr(path, "/.tp-")) {
    Tracer& t = T();
    std::lock_guard<std::mutex> lock(t.mu);
    t.Line(std::string("unlink ") + path);
  }
  errno = err;
  return rc;
}

}  // extern "C"
