#include "framework/files/TemporaryClaim.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

#include "framework/files/FolderSnapshot.h"
#include "framework/system/FileMode.h"

namespace fw::detail {

namespace {

constexpr std::string_view kPrefix = ".tp-";
constexpr std::size_t kTokenSize = 16;

String NewToken() {
  std::uint64_t bits = 0;
  if (::getrandom(&bits, sizeof bits, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bits)) {
    // No entropy yet (early boot): unique enough with the pid and the clock,
    // and O_EXCL catches the rest.
    timespec ts{};
    ::clock_gettime(CLOCK_REALTIME, &ts);
    bits ^= static_cast<std::uint64_t>(ts.tv_nsec) ^ (static_cast<std::uint64_t>(ts.tv_sec) << 20) ^
            (static_cast<std::uint64_t>(::getpid()) << 40);
  }
  static constexpr char kHex[] = "0123456789abcdef";
  String token(kTokenSize, '0');
  for (std::size_t i = 0; i < kTokenSize; ++i) token[i] = kHex[(bits >> (4 * i)) & 0xf];
  return token;
}

bool IsToken(std::string_view s) {
  if (s.size() != kTokenSize) return false;
  for (char c : s)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  return true;
}

}  // namespace

TemporaryClaim::TemporaryClaim(String folder, String token, FileDescriptor lock)
    : folder_(std::move(folder)), token_(std::move(token)), lock_(std::move(lock)) {}

std::shared_ptr<TemporaryClaim> TemporaryClaim::Take(const String& folder) {
  for (int attempt = 0; attempt < 64; ++attempt) {
    const String token = NewToken();
    const String path = JoinPath(folder, LockName(token));
    // Readable by all, so that a copy run by another user can take it once
    // this one has ended.
    FileDescriptor lock =
        FileDescriptor::Open(path.c_str(), O_RDONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, NewFileMode());
    if (!lock) {
      if (errno == EEXIST) continue;
      return nullptr;
    }
    if (::flock(lock.Get(), LOCK_EX | LOCK_NB) != 0) {
      // Taken between its making and now by a copy clearing what dead copies
      // left, which removes it: start again under another token.
      if (errno == EWOULDBLOCK || errno == EINTR) continue;
      // A file system without flock: the lock file still says the token is
      // in use, and a copy that cannot take it leaves its temporaries alone.
    } else if (!StillNamed(lock, AT_FDCWD, path)) {
      continue;
    }
    return std::shared_ptr<TemporaryClaim>(new TemporaryClaim(folder, token, std::move(lock)));
  }
  errno = EEXIST;
  return nullptr;
}

TemporaryClaim::~TemporaryClaim() { ::unlink(JoinPath(folder_, LockName(token_)).c_str()); }

FileDescriptor TemporaryClaim::NewTemporary(String& path, bool& markable) {
  for (int attempt = 0;; ++attempt) {
    path = JoinPath(folder_, String(kPrefix) + token_ + "-" + std::to_string(next_++) + ".tmp");
    FileDescriptor fd = FileDescriptor::Open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW);
    if (fd) {
      if (!markable_) {
        struct stat st {};
        markable_ = ::fstat(fd.Get(), &st) == 0 && (st.st_mode & 07777) == 0;
      }
      markable = *markable_;
      return fd;
    }
    if (errno != EEXIST || attempt == 64) {
      path.clear();
      return fd;
    }
  }
}

bool StillNamed(const FileDescriptor& lock, int folder, const String& name) {
  struct stat held {}, named {};
  return ::fstat(lock.Get(), &held) == 0 && ::fstatat(folder, name.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
         held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

bool MarkWhole(int fd) { return ::fchmod(fd, NewFileMode()) == 0; }

bool IsWhole(const struct stat& st) { return S_ISREG(st.st_mode) && st.st_size > 0 && (st.st_mode & 07777) != 0; }

std::optional<TemporaryName> ParseTemporaryName(std::string_view name) {
  constexpr std::string_view kEnd = ".tmp";
  if (name.size() < kPrefix.size() + kTokenSize + 2 + kEnd.size() || name.substr(0, kPrefix.size()) != kPrefix ||
      name.substr(name.size() - kEnd.size()) != kEnd)
    return std::nullopt;
  name.remove_prefix(kPrefix.size());
  name.remove_suffix(kEnd.size());
  if (!IsToken(name.substr(0, kTokenSize)) || name[kTokenSize] != '-') return std::nullopt;
  std::string_view digits = name.substr(kTokenSize + 1);
  if (digits.empty() || digits.size() > 19) return std::nullopt;
  TemporaryName out{String(name.substr(0, kTokenSize)), 0};
  for (char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    out.seq = out.seq * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return out;
}

std::optional<String> ParseLockName(std::string_view name) {
  constexpr std::string_view kEnd = ".lock";
  if (name.size() != kPrefix.size() + kTokenSize + kEnd.size() || name.substr(0, kPrefix.size()) != kPrefix ||
      name.substr(name.size() - kEnd.size()) != kEnd)
    return std::nullopt;
  std::string_view token = name.substr(kPrefix.size(), kTokenSize);
  if (!IsToken(token)) return std::nullopt;
  return String(token);
}

String LockName(const String& token) { return String(kPrefix) + token + ".lock"; }

}  // namespace fw::detail
