#include "framework/qt/FolderListing.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <limits>
#include <string_view>
#include <thread>
#include <unordered_map>

namespace fw::detail {

namespace {
// Timestamps move in steps of the kernel's clock tick (up to 10 ms); a change
// within the same step as a scan leaves the folder's stat as it was.
constexpr std::int64_t kTimestampStepNs = 20'000'000;

// What changes a folder's listing or the contents of a file in it, and the
// folder going away. Ancestors are watched only for going away: the path
// would then lead to another folder, or to none.
constexpr std::uint32_t kFolderEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_MODIFY |
                                        IN_CLOSE_WRITE | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF;
constexpr std::uint32_t kAncestorEvents = IN_DELETE_SELF | IN_MOVE_SELF;
constexpr std::uint32_t kWatchLost = IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT;
constexpr std::uint32_t kNameEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ATTRIB;

std::int64_t Ns(const timespec& t) { return std::int64_t(t.tv_sec) * 1'000'000'000 + t.tv_nsec; }

std::int64_t NowNs() {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  return Ns(ts);
}

String Join(const String& folder, const String& name) { return folder == "/" ? "/" + name : folder + "/" + name; }
}  // namespace

// One inotify instance for the process, read on the event loop: no thread,
// and nothing runs while nothing changes.
class Watcher {
 public:
  // Null where inotify or the event loop is not to be had.
  static Watcher* Instance() {
    if (instance_ || !QCoreApplication::instance()) return instance_;
    int fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd >= 0) instance_ = new Watcher(fd);  // lives as long as the application object
    return instance_;
  }
  static Watcher* Current() { return instance_; }

  void ReadAll() {
    while (Read()) {
    }
  }

  // Watches every ancestor of the listing's folder from the root down, then
  // the folder: whatever is renamed or removed along the path after its watch
  // is set is reported, so the folder watched is the one the path names.
  bool Watch(FolderListing& listing) {
    const String& path = listing.path;
    if (path.empty() || path[0] != '/') return false;  // relative: moves with the working folder
    for (std::size_t slash = 0; slash != String::npos && slash + 1 < path.size(); slash = path.find('/', slash + 1)) {
      if (!Add(slash == 0 ? String("/") : path.substr(0, slash), kAncestorEvents, listing, false)) {
        Unwatch(listing);
        return false;
      }
    }
    if (!Add(path, kFolderEvents, listing, true)) {
      Unwatch(listing);
      return false;
    }
    return true;
  }

  void Unwatch(FolderListing& listing) {
    for (int wd : listing.watches_) {
      auto it = uses_.find(wd);
      if (it == uses_.end()) continue;
      std::erase_if(it->second, [&](const Use& u) { return u.listing == &listing; });
      if (it->second.empty()) {
        ::inotify_rm_watch(fd_, wd);  // EINVAL when the kernel already dropped it
        uses_.erase(it);
      }
    }
    listing.watches_.clear();
    listing.watched_ = false;
  }

 private:
  struct Use {
    FolderListing* listing;
    bool folder;  // its own folder, not an ancestor
  };

  explicit Watcher(int fd) : fd_(fd) {
    notifier_ = new QSocketNotifier(fd_, QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier_, &QSocketNotifier::activated, [this] { Read(); });
    // Without the event loop no change would be seen any more.
    QObject::connect(notifier_, &QObject::destroyed, [this] {
      LoseAll();
      ::close(fd_);
      instance_ = nullptr;
      delete this;
    });
  }

  bool Add(const String& path, std::uint32_t mask, FolderListing& listing, bool folder) {
    // Masks only grow: the same folder may be one listing's own and another's ancestor.
    int wd = ::inotify_add_watch(fd_, path.c_str(), mask | IN_ONLYDIR | IN_MASK_ADD);
    if (wd < 0) return false;  // ENOSPC at the watch limit, EACCES, ENOENT: the caller checks by stat
    uses_[wd].push_back(Use{&listing, folder});
    listing.watches_.push_back(wd);
    return true;
  }

  // Applies what one read brings; false once nothing is queued. On the event
  // loop one read per wake-up: the notifier fires again while more is queued.
  bool Read() {
    ssize_t n = ::read(fd_, buf_, sizeof buf_);
    if (n <= 0) {
      if (n < 0 && errno != EAGAIN && errno != EINTR) LoseAll();
      return false;
    }
    for (ssize_t at = 0; at + ssize_t(sizeof(inotify_event)) <= n;) {
      const auto* ev = reinterpret_cast<const inotify_event*>(buf_ + at);
      Dispatch(*ev);
      at += ssize_t(sizeof(inotify_event) + ev->len);
    }
    return true;
  }

  void Dispatch(const inotify_event& ev) {
    // Lost events may have said anything, an ancestor's move included.
    if (ev.mask & IN_Q_OVERFLOW) return LoseAll();
    auto it = uses_.find(ev.wd);
    if (it == uses_.end()) return;
    if (ev.mask & kWatchLost) {
      auto users = it->second;  // dropping unwatches, which edits uses_
      for (const Use& u : users) u.listing->Drop(true);
      return;
    }
    if (ev.len == 0 || ev.name[0] == '\0') {
      // The folder's own permissions or attributes: what can be read in it may differ.
      if (ev.mask & IN_ATTRIB)
        for (const Use& u : it->second)
          if (u.folder) u.listing->Drop(false);
      return;
    }
    std::string_view name(ev.name);
    for (const Use& u : it->second)
      if (u.folder) u.listing->Changed(ev.mask, name);
  }

  void LoseAll() {
    std::vector<FolderListing*> all;
    for (const auto& [wd, users] : uses_)
      for (const Use& u : users) all.push_back(u.listing);
    std::sort(all.begin(), all.end());
    all.erase(std::unique(all.begin(), all.end()), all.end());
    for (FolderListing* l : all) l->Drop(true);
  }

  static inline Watcher* instance_ = nullptr;
  int fd_;
  QSocketNotifier* notifier_ = nullptr;
  std::unordered_map<int, std::vector<Use>> uses_;
  alignas(inotify_event) char buf_[64 * 1024];
};

const char* const kMacTypeAttribute = "user.mactype";

StatKey StatKey::Of(const struct stat& st) {
  return StatKey{st.st_dev, st.st_ino, st.st_size, Ns(st.st_mtim), Ns(st.st_ctim)};
}

bool HasTextName(std::string_view name) { return name.size() >= 4 && name.substr(name.size() - 4) == ".txt"; }

bool HasTextAttribute(const String& path) {
  char buf[8];
  ssize_t n = ::getxattr(path.c_str(), kMacTypeAttribute, buf, sizeof buf);
  return n == 4 && std::memcmp(buf, "TEXT", 4) == 0;
}

namespace {
// Reads the first line of an open regular file: its bytes, how it ends and
// whether more follows. False on a read error.
bool ReadFirstLine(int fd, String& line, FolderListing::LineEnd& end, bool& more) {
  line.clear();
  end = FolderListing::NoEnd;
  more = false;
  char chunk[4096];
  bool pendingCR = false;  // CR LF may be split across reads
  for (;;) {
    ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) {
      if (pendingCR) end = FolderListing::CR;
      return true;
    }
    std::string_view got(chunk, static_cast<std::size_t>(n));
    std::size_t at = 0;
    if (!pendingCR) {
      at = got.find_first_of("\r\n");
      if (at == std::string_view::npos) {
        line.append(got);
        continue;
      }
      line.append(got.substr(0, at));
      if (got[at] == '\n') {
        end = FolderListing::LF;
        more = at + 1 < got.size();
        return true;
      }
      if (++at == got.size()) {
        pendingCR = true;
        continue;
      }
    }
    end = got[at] == '\n' ? FolderListing::CRLF : FolderListing::CR;
    more = at + (end == FolderListing::CRLF ? 1u : 0u) < got.size();
    return true;
  }
}

enum class FirstLineRead { NotRead, Failed, Read };

// Opens name (relative to the folder dfd) without blocking, whatever it has
// become since it was listed, and reads the first line of a regular file of
// at most maxSize bytes. NotRead: gone, not a regular file, or too large.
FirstLineRead ReadFirstLineAt(int dfd, const char* name, off_t maxSize, String& line, FolderListing::LineEnd& end,
                              bool& more) {
  int fd = ::openat(dfd, name, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return FirstLineRead::NotRead;
  struct stat st {};
  FirstLineRead got = FirstLineRead::NotRead;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= maxSize)
    got = ReadFirstLine(fd, line, end, more) ? FirstLineRead::Read : FirstLineRead::Failed;
  ::close(fd);
  return got;
}
}  // namespace

const char* ByteArena::Add(std::string_view bytes, std::uint32_t& chunk) {
  total_ += bytes.size();
  // A large line gets a block of its own, so that freeing it frees it all.
  if (bytes.size() > kChunk / 4) {
    auto c = std::make_shared<Chunk>();
    c->bytes.reset(new char[bytes.size()]);
    c->capacity = c->used = bytes.size();
    c->alone = true;
    std::memcpy(c->bytes.get(), bytes.data(), bytes.size());
    chunk = static_cast<std::uint32_t>(chunks_.size());
    chunks_.push_back(std::move(c));
    return chunks_.back()->bytes.get();
  }
  if (filling_ == UINT32_MAX || chunks_[filling_]->capacity - chunks_[filling_]->used < bytes.size()) {
    auto c = std::make_shared<Chunk>();
    c->bytes.reset(new char[kChunk]);
    c->capacity = kChunk;
    filling_ = static_cast<std::uint32_t>(chunks_.size());
    chunks_.push_back(std::move(c));
  }
  Chunk& c = *chunks_[filling_];
  char* at = c.bytes.get() + c.used;
  if (!bytes.empty()) std::memcpy(at, bytes.data(), bytes.size());
  c.used += bytes.size();
  chunk = filling_;
  return at;
}

void ByteArena::Forget(std::uint32_t chunk, std::size_t bytes) {
  if (chunk < chunks_.size() && chunks_[chunk] && chunks_[chunk]->alone) {
    // Streams and rows that still show it keep it until they let go.
    chunks_[chunk].reset();
    total_ -= bytes;
    return;
  }
  garbage_ += bytes;
}

void ByteArena::Clear() {
  chunks_.clear();
  total_ = garbage_ = 0;
  filling_ = UINT32_MAX;
}

FolderListing::Entry::Entry(std::string_view name, ByteArena& names, Kind k, bool isText)
    : lineData(nullptr), lineSize(0), lineChunk(0), nameSize(static_cast<std::uint16_t>(name.size())), kind(k),
      text(isText), line(Unknown), lineEnd(NoEnd), more(false) {
  if (name.size() <= kInlineName) {
    std::memcpy(nameInline, name.data(), name.size());
  } else {
    std::uint32_t unused = 0;
    nameData = names.Add(name, unused);
  }
}

std::shared_ptr<FolderListing> ListingFor(const String& folderPath) {
  // Never destroyed: the watcher may still reach listings while the
  // application object goes, after static destructors have run.
  static auto& listings = *new std::unordered_map<String, std::shared_ptr<FolderListing>>;
  auto& slot = listings[folderPath];
  if (!slot) slot = std::make_shared<FolderListing>(folderPath);
  return slot;
}

void FolderListing::RefreshSlow() {
  struct stat st {};
  bool isFolder = ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  if (watched_ && isFolder) return Scan(st);  // dropped, or not yet loaded
  if (!isFolder) {
    if (watched_) Drop(true);
    if (present_ || !loaded_ || !entries.empty()) {
      entries.clear();
      names_.Clear();
      lines_.Clear();
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
  // A rescan is due anyway: watch first, so nothing that changes during the
  // scan goes unseen, and from then on the stats are not needed.
  StartWatching();
  Scan(st);
}

void FolderListing::CatchUp() {
  if (Watcher* w = Watcher::Current()) w->ReadAll();
}

bool FolderListing::StartWatching() {
  Watcher* w = Watcher::Instance();
  if (!w || !w->Watch(*this)) return false;
  // Lines read before the watch began may have changed unreported.
  for (Entry& e : entries) ForgetLine(e);
  watched_ = true;
  return true;
}

void FolderListing::Drop(bool unwatch) {
  if (unwatch && watched_) {
    if (Watcher* w = Watcher::Current()) w->Unwatch(*this);
    watched_ = false;
  }
  entries.clear();
  names_.Clear();
  lines_.Clear();
  ownArrivals_.clear();
  loaded_ = dirty_ = false;
  ++generation;
}

void FolderListing::Scan(const struct stat& st) {
  // The stat is taken before reading: a change during the scan shows at the next Count.
  std::int64_t started = NowNs();
  // Names are gathered back to back and sorted before they become entries,
  // so that they lie in memory in the order a listing loop walks them.
  struct Found {
    std::size_t at, length;
    Kind kind;
    bool text;
  };
  String names;
  std::vector<Found> found;
  found.reserve(entries.size() + 16);
  if (DIR* d = ::opendir(path.c_str())) {
    int dfd = ::dirfd(d);
    while (dirent* de = ::readdir(d)) {
      // Hidden names: "." and "..", other programs' dot files and our own
      // temporaries of files still being written.
      if (de->d_name[0] == '.') continue;
      std::size_t length = std::strlen(de->d_name);
      if (length > UINT16_MAX) continue;
      Found f{names.size(), length, Other, false};
      unsigned char type = de->d_type;
      if (type == DT_UNKNOWN || type == DT_LNK) {
        struct stat est {};
        if (::fstatat(dfd, de->d_name, &est, 0) == 0)
          type = S_ISDIR(est.st_mode) ? DT_DIR : S_ISREG(est.st_mode) ? DT_REG : DT_UNKNOWN;
      }
      names.append(de->d_name, f.length);
      if (type == DT_DIR) f.kind = Folder;
      if (type == DT_REG) {
        std::string_view name(de->d_name, f.length);
        f.kind = File;
        f.text = HasTextName(name) || madeHere_.count(String(name)) || HasTextAttribute(Join(path, String(name)));
      }
      found.push_back(f);
    }
    ::closedir(d);
  }
  auto nameOf = [&](const Found& f) { return std::string_view(names).substr(f.at, f.length); };
  std::sort(found.begin(), found.end(), [&](const Found& a, const Found& b) { return nameOf(a) < nameOf(b); });
  std::vector<Entry> fresh;
  fresh.reserve(found.size() + 16);
  ByteArena freshNames;
  // Keep the lines of files still there; the events since the watch began
  // forget those that change.
  auto old = entries.begin();
  for (const Found& f : found) {
    std::string_view name = nameOf(f);
    Entry& e = fresh.emplace_back(name, freshNames, f.kind, f.text);
    while (old != entries.end() && old->Name() < name) ++old;
    if (old != entries.end() && old->Name() == name && e.kind == File && old->kind == File) {
      e.line = old->line;
      e.lineData = old->lineData;
      e.lineSize = old->lineSize;
      e.lineChunk = old->lineChunk;
      e.lineEnd = old->lineEnd;
      e.more = old->more;
      old->line = Unknown;
    }
  }
  for (Entry& e : entries) ForgetLine(e);  // those of names gone
  entries = std::move(fresh);
  names_ = std::move(freshNames);
  sig_ = StatKey::Of(st);
  racy_ = started - sig_.mtimeNs < kTimestampStepNs;
  lastScanEnd_ = NowNs();
  lastScanCost_ = lastScanEnd_ - started;
  loaded_ = present_ = true;
  dirty_ = false;
  ++generation;
  if (watched_) ReadAhead();
}

void FolderListing::ReadAhead() {
  // Worth threads only for a large folder; a small one is read as it is listed.
  constexpr std::size_t kWorthIt = 512;
  std::vector<std::size_t> todo;
  for (std::size_t i = 0; i < entries.size(); ++i)
    if (entries[i].kind == File && entries[i].text && entries[i].line == Unknown) todo.push_back(i);
  if (todo.size() < kWorthIt) return;
  int dfd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd < 0) return;
  struct Got {
    std::size_t entry;
    std::size_t at, size;  // in the slice's bytes
    LineEnd end;
    bool more;
  };
  struct Slice {
    std::vector<Got> got;
    String bytes;
  };
  unsigned workers = std::clamp(std::thread::hardware_concurrency(), 1u, 8u);
  std::vector<Slice> slices(workers);
  // Each thread reads its own stretch of the listing, so the bytes come back in
  // listing order; nothing here touches the listing itself.
  auto work = [&](unsigned w) {
    Slice& s = slices[w];
    std::size_t from = todo.size() * w / workers, to = todo.size() * (w + 1) / workers;
    String line;
    for (std::size_t k = from; k < to; ++k) {
      const Entry& e = entries[todo[k]];
      const String name(e.Name());
      LineEnd end = NoEnd;
      bool more = false;
      // Files of a size no call record has are left to be read when asked for.
      if (ReadFirstLineAt(dfd, name.c_str(), 1 << 16, line, end, more) == FirstLineRead::Read) {
        s.got.push_back(Got{todo[k], s.bytes.size(), line.size(), end, more});
        s.bytes += line;
      }
    }
  };
  std::vector<std::thread> threads;
  for (unsigned w = 1; w < workers; ++w) threads.emplace_back(work, w);
  work(0);
  for (auto& t : threads) t.join();
  ::close(dfd);
  for (const Slice& s : slices)
    for (const Got& g : s.got) Hold(entries[g.entry], std::string_view(s.bytes).substr(g.at, g.size), g.end, g.more);
}

std::vector<FolderListing::Entry>::iterator FolderListing::LowerBound(std::string_view name) {
  return std::lower_bound(entries.begin(), entries.end(), name,
                          [](const Entry& e, std::string_view n) { return e.Name() < n; });
}

const FolderListing::Entry* FolderListing::Find(std::string_view name, std::size_t* index) const {
  auto it = std::lower_bound(entries.begin(), entries.end(), name,
                             [](const Entry& e, std::string_view n) { return e.Name() < n; });
  if (it == entries.end() || it->Name() != name) return nullptr;
  if (index) *index = static_cast<std::size_t>(it - entries.begin());
  return &*it;
}

void FolderListing::Changed(std::uint32_t mask, std::string_view name) {
  // Nothing is kept of a listing not loaded, nor of hidden names.
  if (!loaded_ || name[0] == '.') return;
  bool own = false;
  if (!ownArrivals_.empty())
    if (auto a = ownArrivals_.find(String(name)); a != ownArrivals_.end()) {
      // Our own publish arrives first; anything after it is someone else's.
      own = (mask & (IN_MOVED_TO | IN_CREATE)) != 0;
      ownArrivals_.erase(a);
    }
  auto it = LowerBound(name);
  if (!own && it != entries.end() && it->Name() == name) ForgetLine(*it);
  if (mask & kNameEvents) Recheck(name);
}

void FolderListing::Recheck(std::string_view name) {
  String full = Join(path, String(name));
  struct stat st {};
  bool exists = ::lstat(full.c_str(), &st) == 0;
  if (!exists && errno != ENOENT) return Drop(false);  // cannot tell: read the folder afresh
  auto it = LowerBound(name);
  bool listed = it != entries.end() && it->Name() == name;
  if (!exists) {
    if (listed) Erase(it);
    return;
  }
  // As a scan sees it: a symbolic link counts as what it leads to.
  if (struct stat target {}; S_ISLNK(st.st_mode) && ::stat(full.c_str(), &target) == 0) st = target;
  Kind kind = S_ISDIR(st.st_mode) ? Folder : S_ISREG(st.st_mode) ? File : Other;
  bool text = kind == File && (HasTextName(name) || madeHere_.count(String(name)) || HasTextAttribute(full));
  if (listed) {
    if (kind != File) ForgetLine(*it);
    it->kind = kind;
    it->text = text;
  } else {
    Insert(it, name, kind, text);
  }
}

void FolderListing::Insert(std::vector<Entry>::iterator at, std::string_view name, Kind kind, bool text) {
  if (name.size() > UINT16_MAX) return;
  ++generation;
  entries.insert(at, Entry(name, names_, kind, text));
}

void FolderListing::Hold(Entry& e, std::string_view line, LineEnd end, bool more) {
  ForgetLine(e);
  if (line.size() > UINT32_MAX) return;
  e.lineData = lines_.Add(line, e.lineChunk);
  e.lineSize = static_cast<std::uint32_t>(line.size());
  e.lineEnd = end;
  e.more = more;
  e.line = Held;
}

void FolderListing::ForgetLine(Entry& e) {
  if (e.line == Held) lines_.Forget(e.lineChunk, e.lineSize);
  e.line = Unknown;
  e.lineData = nullptr;
  e.lineSize = 0;
}

void FolderListing::Erase(std::vector<Entry>::iterator it) {
  ForgetLine(*it);
  if (it->nameSize > Entry::kInlineName) names_.Forget(it->nameSize);
  entries.erase(it);
  ++generation;
  if (names_.Wasteful() || lines_.Wasteful()) Compact();
}

void FolderListing::Compact() {
  ByteArena names, lines;
  for (Entry& e : entries) {
    std::uint32_t unused = 0;
    if (e.nameSize > Entry::kInlineName) e.nameData = names.Add(e.Name(), unused);
    if (e.line == Held) e.lineData = lines.Add(std::string_view(e.lineData, e.lineSize), e.lineChunk);
  }
  // Streams and rows that still show old lines keep their chunks alive.
  names_ = std::move(names);
  lines_ = std::move(lines);
  ++generation;
}

bool FolderListing::FirstLine(std::size_t index, HeldLine& out, bool* unreadable) {
  if (!watched_ || index >= entries.size()) return false;
  // A listing loop asks for one line after another: have the next ones on
  // their way from memory while this one is handed out.
  if (index + 8 < entries.size() && entries[index + 8].line == Held) __builtin_prefetch(entries[index + 8].lineData);
  Entry& e = entries[index];
  if (e.kind != File) return false;
  if (e.line == Unknown) {
    String line;
    LineEnd end = NoEnd;
    bool more = false;
    const FirstLineRead got = ReadFirstLineAt(AT_FDCWD, Join(path, String(e.Name())).c_str(),
                                              std::numeric_limits<off_t>::max(), line, end, more);
    // Gone, no permission, or no longer a regular file: the caller opens it and sees why.
    if (got == FirstLineRead::NotRead) return false;
    // An entry that cannot be read (a bad sector) is not read again until it changes.
    if (got == FirstLineRead::Failed) {
      ForgetLine(e);
      e.line = Unreadable;
    } else {
      Hold(e, line, end, more);
      if (lines_.Wasteful()) Compact();
    }
  }
  if (e.line == Unreadable) {
    if (unreadable) *unreadable = true;
    return false;
  }
  // A stream handed out again mostly holds this chunk already: no new reference.
  if (const auto& owner = lines_.Owner(e.lineChunk); out.owner.get() != owner.get()) out.owner = owner;
  out.data = e.lineData;
  out.size = e.lineSize;
  out.end = e.lineEnd;
  out.more = e.more;
  return true;
}

void FolderListing::RememberFirstLine(std::string_view name, std::string_view content) {
  if (!watched_) return;
  auto it = LowerBound(name);
  if (it == entries.end() || it->Name() != name || it->kind != File) return;
  std::size_t at = std::min(content.find_first_of("\r\n"), content.size());
  LineEnd end = NoEnd;
  std::size_t after = at;
  if (at < content.size()) {
    end = content[at] == '\n' ? LF : at + 1 < content.size() && content[at + 1] == '\n' ? CRLF : CR;
    after += end == CRLF ? 2 : 1;
  }
  Hold(*it, content.substr(0, at), end, after < content.size());
  ownArrivals_.insert(String(name));
}

bool FolderListing::BeginOwnChange() {
  // Watched, a loaded listing is current but for events not yet read, which
  // will still be applied.
  if (watched_) return loaded_ && !dirty_;
  if (!loaded_ || !present_ || dirty_) return false;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  // Settle a racy listing now, while the folder is quiet, rather than
  // rescanning after every change of our own.
  if (racy_ || StatKey::Of(st) != sig_) Scan(st);
  return !racy_;
}

void FolderListing::AfterOwnChange(bool wasCurrent) {
  // Watched, the change's own events confirm it later. Unwatched, the
  // folder's new stat is ours, unless the listing was stale before.
  if (!watched_) {
    struct stat st {};
    if (wasCurrent && ::stat(path.c_str(), &st) == 0) sig_ = StatKey::Of(st);
    else dirty_ = true;
  }
  ++generation;
}

void FolderListing::OwnAdded(bool wasCurrent, std::string_view name, Kind kind, bool text) {
  // A name ending in ".txt" is "TEXT" by its name alone.
  if (text && kind == File && !HasTextName(name)) madeHere_.insert(String(name));
  if (wasCurrent) {
    auto it = LowerBound(name);
    if (it != entries.end() && it->Name() == name) {
      ForgetLine(*it);
      it->kind = kind;
      it->text = text;
    } else {
      Insert(it, name, kind, text);
    }
  }
  AfterOwnChange(wasCurrent);
}

void FolderListing::OwnRemoved(bool wasCurrent, std::string_view name) {
  madeHere_.erase(String(name));
  auto it = LowerBound(name);
  bool listed = it != entries.end() && it->Name() == name;
  if (listed) ForgetLine(*it);
  if (watched_ && loaded_ && !wasCurrent) {
    Recheck(name);  // the name may or may not be gone
  } else if (wasCurrent && listed) {
    Erase(it);
  }
  AfterOwnChange(wasCurrent);
}

}  // namespace fw::detail
