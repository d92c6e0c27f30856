#include "framework/files/FolderListing.h"

#include <sys/xattr.h>

#include <cerrno>
#include <cstring>

#include "framework/system/Notice.h"

namespace fw::detail {

const char* const kMacTypeAttribute = "user.mactype";

bool HasTextName(std::string_view name) { return name.size() >= 4 && name.substr(name.size() - 4) == ".txt"; }

bool HasTextAttribute(const String& path) {
  char buf[8];
  ssize_t n = ::getxattr(path.c_str(), kMacTypeAttribute, buf, sizeof buf);
  return n == 4 && std::memcmp(buf, "TEXT", 4) == 0;
}

FolderListing::~FolderListing() {
  if (watched_) watch_.Unwatch(*this);
}

void FolderListing::Refresh() {
  const bool begins = pass_.CountBeginsPass(entries().size());
  // A pass shows every change reported before it.
  if (watched_ && begins) watch_.CatchUp();
  const bool current = loaded_ && !dirty_;
  if (watched_ && current) return;
  if (!watched_ && current && !begins) return;
  // A listing that failed is read again by the next pass, not by every Count.
  if (failed_ && !begins) return;
  RefreshSlow();
}

void FolderListing::EnsureLoaded(std::size_t index) {
  pass_.ItemAsked(index);
  if (!loaded_ && !failed_) RefreshSlow();
}

void FolderListing::RefreshSlow() {
  struct stat st {};
  const bool isFolder = ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  if (watched_ && isFolder) return Read(st);  // dropped, or not yet loaded
  if (!isFolder) {
    if (watched_) Drop(true);
    if (present_ || !loaded_ || !entries().empty()) {
      snapshot_.Clear();
      lines_.Clear();
    }
    loaded_ = true;
    present_ = failed_ = false;
    return;
  }
  if (loaded_ && present_ && !dirty_ && poll_.Current(st)) return;
  // A read is due anyway: watch first, so nothing that changes during the
  // read goes unseen, and from then on the stats are not needed.
  StartWatching();
  Read(st);
}

void FolderListing::Read(const struct stat& st) {
  // The stat is taken before reading: a change during the read shows at the next pass.
  const std::int64_t started = NowNs();
  FolderSnapshot::Entries gone;
  if (!snapshot_.Read(path, [this](std::string_view name) { return IsText(name); }, gone)) {
    const int err = errno;
    // Not current: what is listed stays as it was until a read succeeds.
    failed_ = dirty_ = true;
    if (!failureTold_) Notice("cannot list folder " + path + ": " + std::strerror(err));
    failureTold_ = true;
    return;
  }
  lines_.ForgetAll(gone);  // those of names gone; the others moved to the fresh entries
  poll_.Read(st, started);
  loaded_ = present_ = true;
  dirty_ = failed_ = failureTold_ = false;
  lines_.ReadAhead(path, snapshot_.entries(), !watched_);
}

bool FolderListing::IsText(std::string_view name) const {
  return HasTextName(name) || (!madeHere_.empty() && madeHere_.count(String(name))) ||
         HasTextAttribute(JoinPath(path, name));
}

bool FolderListing::StartWatching() {
  String why;
  if (!watch_.Watch(path, *this, why)) {
    poll_.NotWatched(path, why);
    return false;
  }
  // Lines read before the watch began may have changed unreported.
  lines_.ForgetAll(snapshot_.entries());
  watched_ = true;
  return true;
}

void FolderListing::Drop(bool unwatch) {
  if (unwatch && watched_) {
    watch_.Unwatch(*this);
    watched_ = false;
  }
  snapshot_.Clear();
  lines_.Clear();
  ownArrivals_.clear();
  loaded_ = dirty_ = false;
}

void FolderListing::EntryChanged(std::string_view name, bool arrived, bool nameChanged) {
  // Nothing is kept of a listing not loaded, nor of hidden names.
  if (!loaded_ || name[0] == '.') return;
  bool own = false;
  if (!ownArrivals_.empty())
    if (auto a = ownArrivals_.find(String(name)); a != ownArrivals_.end()) {
      // Our own publish arrives first; anything after it is someone else's.
      own = arrived;
      ownArrivals_.erase(a);
    }
  auto it = snapshot_.LowerBound(name);
  if (!own && snapshot_.Holds(it, name)) lines_.Forget(*it);
  if (nameChanged) Recheck(name);
}

void FolderListing::Recheck(std::string_view name) {
  const String full = JoinPath(path, name);
  struct stat st {};
  const bool exists = ::lstat(full.c_str(), &st) == 0;
  if (!exists && errno != ENOENT) return Drop(false);  // cannot tell: read the folder afresh
  auto it = snapshot_.LowerBound(name);
  const bool listed = snapshot_.Holds(it, name);
  if (!exists) {
    if (listed) Erase(it);
    return;
  }
  // As a read of the folder sees it: a symbolic link counts as what it leads to.
  if (struct stat target {}; S_ISLNK(st.st_mode) && ::stat(full.c_str(), &target) == 0) st = target;
  const Kind kind = S_ISDIR(st.st_mode) ? FolderEntry::Folder : S_ISREG(st.st_mode) ? FolderEntry::File : FolderEntry::Other;
  const bool text = kind == FolderEntry::File && IsText(name);
  if (listed) {
    if (kind != FolderEntry::File) lines_.Forget(*it);
    it->kind = kind;
    it->text = text;
  } else {
    snapshot_.Insert(it, name, kind, text);
  }
}

void FolderListing::Erase(FolderSnapshot::Entries::iterator it) {
  lines_.Forget(*it);
  snapshot_.Erase(it);
  if (snapshot_.NamesWasteful()) snapshot_.CompactNames();
  lines_.CompactIfWasteful(snapshot_.entries());
}

bool FolderListing::LineCurrentByStat(FolderEntry& e) {
  scratch_.assign(path);
  if (path != "/") scratch_ += '/';
  scratch_ += e.Name();
  struct stat st {};
  if (::stat(scratch_.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
    lines_.Forget(e);
    return false;
  }
  return FirstLineCache::StillCurrent(e, st);
}

bool FolderListing::FirstLine(std::size_t index, HeldLine& out, bool* unreadable) {
  FolderSnapshot::Entries& all = snapshot_.entries();
  if (index >= all.size()) return false;
  // A listing loop asks for one line after another: have the next ones on
  // their way from memory while this one is handed out.
  if (index + 8 < all.size() && all[index + 8].line == FolderEntry::Held) __builtin_prefetch(all[index + 8].lineData);
  FolderEntry& e = all[index];
  if (e.kind != FolderEntry::File) return false;
  // Watched, a line once read is current until an event says otherwise;
  // unwatched, while one stat of the file matches the one it was read under.
  const bool stale = watched_ ? e.line == FolderEntry::Unknown : !LineCurrentByStat(e);
  if (stale) {
    const FirstLineCache::Got got = lines_.ReadInto(e, JoinPath(path, e.Name()).c_str(), !watched_);
    // Gone, no permission, or no longer a regular file: the caller opens it and sees why.
    if (got == FirstLineCache::Got::NotRead) return false;
    if (got == FirstLineCache::Got::Failed) {
      if (unreadable) *unreadable = true;
      return false;
    }
    lines_.CompactIfWasteful(all);
  }
  if (e.line == FolderEntry::Unreadable) {
    if (unreadable) *unreadable = true;
    return false;
  }
  lines_.Serve(e, out);
  return true;
}

bool FolderListing::BeginOwnChange() {
  // Watched, a loaded listing is current but for events not yet read, which
  // will still be applied.
  if (watched_) return loaded_ && !dirty_;
  if (!loaded_ || !present_ || dirty_) return false;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  // Settle a racy listing now, while the folder is quiet, rather than
  // reading it again after every change of our own.
  if (poll_.Racy() || !poll_.Unchanged(st)) Read(st);
  return !dirty_ && !poll_.Racy();
}

void FolderListing::AfterOwnChange(bool wasCurrent) {
  // Watched, the change's own events confirm it later. Unwatched, the
  // folder's new stat is ours, unless the listing was stale before.
  if (!watched_ && !poll_.TakeOwnChange(path, wasCurrent)) dirty_ = true;
  snapshot_.Moved();
}

bool FolderListing::NoteOwnAdded(bool wasCurrent, std::string_view name, Kind kind, bool text,
                                 FolderSnapshot::Entries::iterator& at) {
  // A name ending in ".txt" is "TEXT" by its name alone.
  if (text && kind == FolderEntry::File && !HasTextName(name)) madeHere_.insert(String(name));
  if (!wasCurrent) return false;
  at = snapshot_.LowerBound(name);
  if (!snapshot_.Holds(at, name)) return true;
  lines_.Forget(*at);
  at->kind = kind;
  at->text = text;
  return false;
}

void FolderListing::OwnAdded(bool wasCurrent, std::string_view name, Kind kind, bool text) {
  FolderSnapshot::Entries::iterator at;
  if (NoteOwnAdded(wasCurrent, name, kind, text, at)) snapshot_.Insert(at, name, kind, text);
  AfterOwnChange(wasCurrent);
}

void FolderListing::OwnAddedFiles(bool wasCurrent, const std::vector<std::string_view>& names) {
  std::vector<std::string_view> fresh;
  FolderSnapshot::Entries::iterator at;
  for (std::string_view name : names)
    if (NoteOwnAdded(wasCurrent, name, FolderEntry::File, true, at)) fresh.push_back(name);
  if (!fresh.empty()) snapshot_.InsertAll(std::move(fresh), FolderEntry::File, true);
  AfterOwnChange(wasCurrent);
}

void FolderListing::OwnRemoved(bool wasCurrent, std::string_view name) {
  madeHere_.erase(String(name));
  auto it = snapshot_.LowerBound(name);
  const bool listed = snapshot_.Holds(it, name);
  if (listed) lines_.Forget(*it);
  if (watched_ && loaded_ && !wasCurrent) {
    Recheck(name);  // the name may or may not be gone
  } else if (wasCurrent && listed) {
    Erase(it);
  }
  AfterOwnChange(wasCurrent);
}

void FolderListing::OwnFirstLine(std::string_view name, std::string_view content) {
  if (!watched_) return;
  auto it = snapshot_.LowerBound(name);
  if (!snapshot_.Holds(it, name) || it->kind != FolderEntry::File) return;
  lines_.HoldWritten(*it, content);
  ownArrivals_.insert(String(name));
}

}  // namespace fw::detail
