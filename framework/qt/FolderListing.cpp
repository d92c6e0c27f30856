#include "framework/qt/FolderListing.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/xattr.h>

#include <algorithm>
#include <cstring>
#include <ctime>

namespace fw::detail {

namespace {
// Timestamps move in steps of the kernel's clock tick (up to 10 ms); a change
// within the same step as a scan leaves the folder's stat as it was.
constexpr std::int64_t kTimestampStepNs = 20'000'000;
constexpr std::size_t kContentBudget = 64u << 20;

std::int64_t Ns(const timespec& t) { return std::int64_t(t.tv_sec) * 1'000'000'000 + t.tv_nsec; }

std::int64_t NowNs() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  return Ns(ts);
}

bool NameLess(const FolderListing::Entry& e, const String& name) { return e.name < name; }
}  // namespace

const char* const kMacTypeAttribute = "user.mactype";

StatKey StatKey::Of(const struct stat& st) {
  return StatKey{st.st_dev, st.st_ino, st.st_size, Ns(st.st_mtim), Ns(st.st_ctim)};
}

bool HasTextName(const String& name) {
  return name.size() >= 4 && name.compare(name.size() - 4, 4, ".txt") == 0;
}

bool HasTextAttribute(const String& path) {
  char buf[8];
  ssize_t n = ::getxattr(path.c_str(), kMacTypeAttribute, buf, sizeof buf);
  return n == 4 && std::memcmp(buf, "TEXT", 4) == 0;
}

std::shared_ptr<FolderListing> ListingFor(const String& folderPath) {
  static std::unordered_map<String, std::shared_ptr<FolderListing>> listings;
  auto& slot = listings[folderPath];
  if (!slot) slot = std::make_shared<FolderListing>(folderPath);
  return slot;
}

void FolderListing::EnsureLoaded() {
  if (!loaded_) Refresh();
}

void FolderListing::Refresh() {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    if (present_ || !loaded_ || !entries.empty()) {
      entries.clear();
      content_.clear();
      contentBytes_ = 0;
      ++generation;
    }
    loaded_ = true;
    present_ = false;
    return;
  }
  if (loaded_ && present_ && !dirty_ && StatKey::Of(st) == sig_) {
    if (!racy_) return;
    // Verify a racy scan by scanning again, but spend at most a fifth of the
    // time on it: a listing loop over a large folder asks Count every pass.
    if (NowNs() - lastScanEnd_ < 4 * lastScanCost_) return;
  }
  Scan(st);
}

void FolderListing::Scan(const struct stat& st) {
  // The stat is taken before reading: a change during the scan shows at the next Count.
  std::int64_t started = NowNs();
  std::vector<Entry> found;
  found.reserve(entries.size() + 16);
  if (DIR* d = ::opendir(path.c_str())) {
    int dfd = ::dirfd(d);
    while (dirent* de = ::readdir(d)) {
      // Hidden names: "." and "..", other programs' dot files and our own
      // temporaries of files still being written.
      if (de->d_name[0] == '.') continue;
      Entry e{de->d_name, Other, false};
      unsigned char type = de->d_type;
      if (type == DT_UNKNOWN || type == DT_LNK) {
        struct stat est {};
        if (::fstatat(dfd, de->d_name, &est, 0) == 0)
          type = S_ISDIR(est.st_mode) ? DT_DIR : S_ISREG(est.st_mode) ? DT_REG : DT_UNKNOWN;
      }
      if (type == DT_DIR) e.kind = Folder;
      if (type == DT_REG) {
        e.kind = File;
        e.text = HasTextName(e.name) || madeHere_.count(e.name) || HasTextAttribute(path + "/" + e.name);
      }
      found.push_back(std::move(e));
    }
    ::closedir(d);
  }
  std::sort(found.begin(), found.end(), [](const Entry& a, const Entry& b) { return a.name < b.name; });
  entries = std::move(found);
  for (auto it = content_.begin(); it != content_.end();) {
    if (!Find(it->first)) {
      contentBytes_ -= it->second.bytes.size();
      it = content_.erase(it);
    } else {
      ++it;
    }
  }
  sig_ = StatKey::Of(st);
  racy_ = started - sig_.mtimeNs < kTimestampStepNs;
  lastScanEnd_ = NowNs();
  lastScanCost_ = lastScanEnd_ - started;
  loaded_ = present_ = true;
  dirty_ = false;
  ++generation;
}

const FolderListing::Entry* FolderListing::Find(const String& name, std::size_t* index) const {
  auto it = std::lower_bound(entries.begin(), entries.end(), name, NameLess);
  if (it == entries.end() || it->name != name) return nullptr;
  if (index) *index = static_cast<std::size_t>(it - entries.begin());
  return &*it;
}

bool FolderListing::BeginOwnChange() {
  if (!loaded_ || !present_ || dirty_) return false;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  // Settle a racy listing now, while the folder is quiet, rather than
  // rescanning after every change of our own.
  if (racy_ || StatKey::Of(st) != sig_) Scan(st);
  return !racy_;
}

void FolderListing::AfterOwnChange(bool wasCurrent) {
  struct stat st {};
  if (wasCurrent && ::stat(path.c_str(), &st) == 0) {
    sig_ = StatKey::Of(st);
  } else {
    dirty_ = true;
  }
  ++generation;
}

void FolderListing::OwnAdded(bool wasCurrent, const String& name, Kind kind, bool text) {
  if (text && kind == File) madeHere_.insert(name);
  if (wasCurrent) {
    auto it = std::lower_bound(entries.begin(), entries.end(), name, NameLess);
    if (it != entries.end() && it->name == name) *it = Entry{name, kind, text};
    else entries.insert(it, Entry{name, kind, text});
  }
  AfterOwnChange(wasCurrent);
}

void FolderListing::OwnRemoved(bool wasCurrent, const String& name) {
  madeHere_.erase(name);
  if (auto it = content_.find(name); it != content_.end()) {
    contentBytes_ -= it->second.bytes.size();
    content_.erase(it);
  }
  if (wasCurrent) {
    auto it = std::lower_bound(entries.begin(), entries.end(), name, NameLess);
    if (it != entries.end() && it->name == name) entries.erase(it);
  }
  AfterOwnChange(wasCurrent);
}

const FolderListing::CachedFile* FolderListing::CachedContent(const String& name, const StatKey& key) const {
  auto it = content_.find(name);
  return it != content_.end() && it->second.key == key ? &it->second : nullptr;
}

void FolderListing::RememberContent(const String& name, const StatKey& key, const String& bytes) {
  auto it = content_.find(name);
  if (it != content_.end()) {
    contentBytes_ -= it->second.bytes.size();
    content_.erase(it);
  }
  // A file changed within the timestamp step of now could change again
  // without its stat showing it: read it afresh next time.
  std::int64_t now = NowNs();
  bool racy = now - key.mtimeNs < kTimestampStepNs || now - key.ctimeNs < kTimestampStepNs;
  if (racy || bytes.size() > kCachedFileMax || contentBytes_ + bytes.size() > kContentBudget) return;
  contentBytes_ += bytes.size();
  content_.emplace(name, CachedFile{key, bytes});
}

}  // namespace fw::detail
