#include "framework/files/FolderSnapshot.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

namespace fw::detail {

namespace {
struct CloseFolder {
  void operator()(DIR* d) const { ::closedir(d); }
};
// An open folder stream that closes itself.
using OpenFolder = std::unique_ptr<DIR, CloseFolder>;
}  // namespace

String JoinPath(const String& folder, std::string_view name) {
  name.remove_prefix(std::min(name.size(), name.find_first_not_of('/')));
  if (folder.empty()) return String(name);
  String path;
  path.reserve(folder.size() + 1 + name.size());
  path += folder;
  if (folder.back() != '/') path += '/';
  path += name;
  return path;
}

FolderEntry::FolderEntry(std::string_view name, ByteArena& names, Kind k, bool isText)
    : lineData(nullptr), stamp(nullptr), lineSize(0), lineChunk(0), nameSize(static_cast<std::uint16_t>(name.size())),
      kind(k), text(isText), line(Unknown), lineEnd(NoEnd), more(false) {
  if (name.size() <= kInlineName) {
    std::memcpy(nameInline, name.data(), name.size());
  } else {
    std::uint32_t unused = 0;
    nameData = names.Add(name, unused);
  }
}

void FolderEntry::TakeLine(FolderEntry& other) {
  line = other.line;
  lineData = other.lineData;
  stamp = other.stamp;
  lineSize = other.lineSize;
  lineChunk = other.lineChunk;
  lineEnd = other.lineEnd;
  more = other.more;
  other.line = Unknown;
  other.stamp = nullptr;
}

bool FolderSnapshot::Read(const String& path, const TextTest& isText, Entries& gone) {
  // Names are gathered back to back and sorted before they become entries,
  // so that they lie in memory in the order a listing loop walks them.
  struct Found {
    std::size_t at, length;
    FolderEntry::Kind kind;
    bool text;
  };
  String names;
  std::vector<Found> found;
  found.reserve(entries_.size() + 16);
  OpenFolder folder(::opendir(path.c_str()));
  if (!folder) return false;
  DIR* const d = folder.get();
  const int dfd = ::dirfd(d);
  int error = 0;
  for (;;) {
    errno = 0;  // readdir says nothing else to tell its end from a failure
    dirent* de = ::readdir(d);
    if (!de) {
      error = errno;
      break;
    }
    // Hidden names: "." and "..", other programs' dot files and our own
    // temporaries of files still being written.
    if (de->d_name[0] == '.') continue;
    const std::size_t length = std::strlen(de->d_name);
    if (length > UINT16_MAX) continue;
    Found f{names.size(), length, FolderEntry::Other, false};
    unsigned char type = de->d_type;
    if (type == DT_UNKNOWN || type == DT_LNK) {
      struct stat est {};
      if (::fstatat(dfd, de->d_name, &est, 0) == 0)
        type = S_ISDIR(est.st_mode) ? DT_DIR : S_ISREG(est.st_mode) ? DT_REG : DT_UNKNOWN;
    }
    names.append(de->d_name, f.length);
    if (type == DT_DIR) f.kind = FolderEntry::Folder;
    if (type == DT_REG) {
      f.kind = FolderEntry::File;
      f.text = isText(std::string_view(de->d_name, f.length));
    }
    found.push_back(f);
  }
  folder.reset();
  if (error) {
    errno = error;
    return false;
  }
  auto nameOf = [&](const Found& f) { return std::string_view(names).substr(f.at, f.length); };
  std::sort(found.begin(), found.end(), [&](const Found& a, const Found& b) { return nameOf(a) < nameOf(b); });
  Entries fresh;
  fresh.reserve(found.size() + 16);
  ByteArena freshNames;
  auto old = entries_.begin();
  for (const Found& f : found) {
    const std::string_view name = nameOf(f);
    FolderEntry& e = fresh.emplace_back(name, freshNames, f.kind, f.text);
    while (old != entries_.end() && old->Name() < name) ++old;
    if (old != entries_.end() && old->Name() == name && e.kind == FolderEntry::File && old->kind == FolderEntry::File)
      e.TakeLine(*old);
  }
  gone = std::move(entries_);
  entries_ = std::move(fresh);
  names_ = std::move(freshNames);
  ++generation_;
  return true;
}

FolderSnapshot::Entries::iterator FolderSnapshot::LowerBound(std::string_view name) {
  return std::lower_bound(entries_.begin(), entries_.end(), name,
                          [](const FolderEntry& e, std::string_view n) { return e.Name() < n; });
}

const FolderEntry* FolderSnapshot::Find(std::string_view name, std::size_t* index) const {
  auto it = std::lower_bound(entries_.begin(), entries_.end(), name,
                             [](const FolderEntry& e, std::string_view n) { return e.Name() < n; });
  if (it == entries_.end() || it->Name() != name) return nullptr;
  if (index) *index = static_cast<std::size_t>(it - entries_.begin());
  return &*it;
}

void FolderSnapshot::Insert(Entries::iterator at, std::string_view name, FolderEntry::Kind kind, bool text) {
  if (name.size() > UINT16_MAX) return;
  ++generation_;
  entries_.insert(at, FolderEntry(name, names_, kind, text));
}

void FolderSnapshot::InsertAll(std::vector<std::string_view> names, FolderEntry::Kind kind, bool text) {
  std::sort(names.begin(), names.end());
  names.erase(std::unique(names.begin(), names.end()), names.end());
  const std::size_t held = entries_.size();
  entries_.reserve(held + names.size());
  for (std::string_view name : names)
    if (name.size() <= UINT16_MAX) entries_.emplace_back(name, names_, kind, text);
  std::inplace_merge(entries_.begin(), entries_.begin() + static_cast<std::ptrdiff_t>(held), entries_.end(),
                     [](const FolderEntry& a, const FolderEntry& b) { return a.Name() < b.Name(); });
  ++generation_;
}

void FolderSnapshot::Erase(Entries::iterator it) {
  if (it->nameSize > FolderEntry::kInlineName) names_.Forget(it->nameSize);
  entries_.erase(it);
  ++generation_;
}

void FolderSnapshot::Clear() {
  entries_.clear();
  names_.Clear();
  ++generation_;
}

void FolderSnapshot::CompactNames() {
  ByteArena names;
  for (FolderEntry& e : entries_) {
    std::uint32_t unused = 0;
    if (e.nameSize > FolderEntry::kInlineName) e.nameData = names.Add(e.Name(), unused);
  }
  names_ = std::move(names);
  ++generation_;
}

}  // namespace fw::detail
