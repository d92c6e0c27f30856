#include "framework/FolderItem.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "framework/TextInputStream.h"
#include "framework/TextOutputStream.h"
#include "framework/files/FolderListing.h"
#include "framework/files/LeftoverTemporaries.h"
#include "framework/files/OwnChange.h"
#include "framework/files/StreamBackings.h"
#include "framework/system/FileDescriptor.h"

namespace fw {

namespace fs = std::filesystem;

namespace {
// "/a//b/" and "/a/b" are one folder, and so one listing. Only repeated and
// trailing slashes go: "." and ".." may lead elsewhere through a link.
String Normalized(const String& path) {
  if (path.empty()) return path;
  fs::path out = fs::path(path).root_path();
  for (const fs::path& part : fs::path(path).relative_path())
    if (!part.empty()) out /= part;
  return out.string();
}

// Of a normalized path.
String ParentPath(const String& path) {
  const fs::path parent = fs::path(path).parent_path();
  return parent.empty() ? String(".") : parent.string();
}

// Folders made on the way are the user's alone, as the settings in them are.
bool MakeFolders(const String& path) {
  std::error_code ec;
  fs::path first = path;  // the outermost folder still to be made
  while (!first.parent_path().empty() && first.parent_path() != first && !fs::exists(first.parent_path(), ec))
    first = first.parent_path();
  if (!fs::create_directories(path, ec)) return !ec && fs::is_directory(path, ec);
  for (fs::path made = path;; made = made.parent_path()) {
    fs::permissions(made, fs::perms::owner_all, ec);
    if (made == first || made.parent_path() == made) break;
  }
  return true;
}
}  // namespace

FolderItem::FolderItem() = default;

Ref<FolderItem> FolderItem::FromPath(const String& path) {
  auto item = std::make_shared<FolderItem>();
  item->path_ = Normalized(path);
  return item;
}

String FolderItem::Name() const {
  if (pathPending_) return String(listedName_, listedNameSize_);
  return fs::path(path_).filename().string();
}

void FolderItem::MakePath() const {
  path_ = detail::JoinPath(listing_->path, std::string_view(listedName_, listedNameSize_));
  pathPending_ = false;
}
String FolderItem::NativePath() const { return Path(); }

Ref<FolderItem> FolderItem::Parent() const {
  if (Path() == "/" || Path().empty()) return nullptr;
  return FromPath(ParentPath(Path()));
}

Ref<FolderItem> FolderItem::Child(const String& name) const { return FromPath(detail::JoinPath(Path(), name)); }

bool FolderItem::Exists() const {
  struct stat st {};
  return ::stat(Path().c_str(), &st) == 0;
}

bool FolderItem::Directory() const {
  struct stat st {};
  return ::stat(Path().c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void FolderItem::CreateAsFolder() {
  detail::OwnChange change(*detail::ListingFor(ParentPath(Path())));
  if (::mkdir(Path().c_str(), 0777) == 0) change.Added(Name(), detail::FolderEntry::Folder, false);
  else change.LeftNoTrace();
}

void FolderItem::Delete() {
  detail::OwnChange change(*detail::ListingFor(ParentPath(Path())));
  const bool folder = Directory();
  if ((folder ? ::rmdir(Path().c_str()) : ::unlink(Path().c_str())) != 0) return change.LeftNoTrace();
  change.Removed(Name());
  // A folder made again at this path is another one, with nothing in it yet.
  if (folder) OwnListing().FolderRemoved();
}

detail::FolderListing& FolderItem::OwnListing() const {
  if (!ownListing_) ownListing_ = detail::ListingFor(Path()).get();
  return *ownListing_;
}

std::size_t FolderItem::ListedIndex(const detail::FolderListing& listing) const {
  // Item set these; they hold until the listing changes.
  if (listing_ == &listing && listingGeneration_ == listing.generation() &&
      listingIndex_ < listing.entries().size())
    return listingIndex_;
  std::size_t index = 0;
  std::string_view name = pathPending_ ? std::string_view(listedName_, listedNameSize_) : std::string_view(path_);
  if (!pathPending_) name = name == "/" ? std::string_view() : name.substr(name.rfind('/') + 1);
  return listing.Find(name, &index) ? index : String::npos;
}

Int32 FolderItem::Count() const {
  detail::FolderListing& listing = OwnListing();
  listing.Refresh();
  return static_cast<Int32>(std::min<std::size_t>(listing.entries().size(), 0x7fffffff));
}

Ref<FolderItem> FolderItem::Item(Int32 index) const {
  detail::FolderListing& listing = OwnListing();
  listing.EnsureLoaded(index < 1 ? 0 : static_cast<std::size_t>(index));
  const auto& entries = listing.entries();
  if (index < 1 || static_cast<std::size_t>(index) > entries.size()) return nullptr;
  const std::size_t i = static_cast<std::size_t>(index - 1);
  // A listing loop walks the entries in order: have the next ones on their way.
  if (i + 4 < entries.size()) __builtin_prefetch(&entries[i + 4]);
  const detail::FolderEntry& entry = entries[i];
  const std::string_view name = entry.Name();
  FolderItem* item = listing.items.Reclaim();
  if (item) {
    item->path_.clear();
    item->ownListing_ = nullptr;
  } else {
    item = listing.items.HandOut(std::make_shared<FolderItem>()).get();
  }
  static_assert(kShortName == detail::FolderEntry::kInlineName);
  if (name.size() <= kShortName) {
    // A copy of fixed size is two moves, not a call.
    std::memcpy(item->listedName_, entry.nameInline, kShortName);
    item->listedNameSize_ = static_cast<std::uint8_t>(name.size());
    item->pathPending_ = true;
  } else {
    item->pathPending_ = false;
    item->path_ = detail::JoinPath(Path(), name);
  }
  item->listing_ = ownListing_;
  item->listingGeneration_ = listing.generation();
  item->listingIndex_ = i;
  return listing.items.Last();
}

String FolderItem::MacType() const {
  std::size_t index = listing_ ? ListedIndex(*listing_) : String::npos;
  if (index != String::npos) {
    const auto& entry = listing_->entries()[index];
    if (entry.kind == detail::FolderEntry::Folder) return "fold";
    return entry.kind == detail::FolderEntry::File && entry.text ? "TEXT" : "";
  }
  struct stat st {};
  if (::stat(Path().c_str(), &st) != 0) return "";
  if (S_ISDIR(st.st_mode)) return "fold";
  if (!S_ISREG(st.st_mode)) return "";
  String name = Name();
  if (detail::HasTextName(name) || detail::HasTextAttribute(Path())) return "TEXT";
  auto listing = detail::ListingFor(ParentPath(Path()));
  const auto* e = listing->Find(name);
  return e && e->text ? "TEXT" : "";
}

Ref<TextInputStream> FolderItem::OpenAsTextFile() const {
  std::shared_ptr<detail::FolderListing> parent;
  detail::FolderListing& listing = listing_ ? *listing_ : *(parent = detail::ListingFor(ParentPath(Path())));
  std::size_t index = ListedIndex(listing);
  // A first line held and current costs no reading (watched, no system call).
  if (index != String::npos) {
    // The stream handed out last is handed out again once nobody holds it;
    // the line goes straight into it.
    TextInputStream* reused = listing.streams.Reclaim();
    detail::HeldLine fresh;
    detail::HeldLine& held = reused ? reused->b_->held : fresh;
    bool unreadable = false;
    if (listing.FirstLine(index, held, &unreadable)) {
      // The path is needed only to read past the first line.
      String path = held.more ? Path() : String();
      if (reused) {
        reused->b_->Restart(std::move(path));
        return listing.streams.Last();
      }
      return listing.streams.HandOut(std::make_shared<TextInputStream>(
          std::make_unique<TextInputStream::Backing>(std::move(fresh), std::move(path))));
    }
    if (unreadable) return nullptr;
  }
  // Never blocks: the entry may have become a FIFO or a device since it was
  // listed, and only a regular file is read.
  detail::FileDescriptor fd(::open(Path().c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  if (!fd) return nullptr;
  struct stat st {};
  if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) return nullptr;
  auto backing = std::make_unique<TextInputStream::Backing>(fd.Release());
  backing->path = Path();
  // A file that opens but cannot be read (a bad sector) counts as one that
  // cannot be opened, rather than failing in the middle of its first line.
  try {
    backing->Fill();
  } catch (const IOException&) {
    return nullptr;
  }
  return std::make_shared<TextInputStream>(std::move(backing));
}

Ref<TextOutputStream> FolderItem::CreateTextFile() const {
  String folder = ParentPath(Path());
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return nullptr;
  if (::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0) return nullptr;
  if (::stat(Path().c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return nullptr;
  return std::make_shared<TextOutputStream>(
      std::make_unique<TextOutputStream::Backing>(detail::ListingFor(folder), folder, Name()));
}

Ref<FolderItem> Volume(Int32 index) {
  if (index != 0) return nullptr;
  const char* v = std::getenv("TALLYPOINT_STARTUP_VOLUME");
  return FolderItem::FromPath(v && *v ? v : "/");
}

Ref<FolderItem> SpecialFolder::Preferences() {
  String path;
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg && xdg[0] == '/') {
    path = xdg;  // a relative value is invalid and ignored, as the XDG rules say
  } else {
    const char* home = std::getenv("HOME");
    if (!home || !*home) {
      const passwd* pw = ::getpwuid(::getuid());
      home = pw ? pw->pw_dir : "/";
    }
    path = String(home) + "/.config";
  }
  // A fresh account may have no such folder yet; the settings must still be saved.
  MakeFolders(path);
  return FolderItem::FromPath(path);
}

std::int64_t FolderItem::Length() const {
  struct stat st {};
  if (::stat(Path().c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return 0;
  return static_cast<std::int64_t>(st.st_size);
}

Int32 FolderItem::FinishLeftovers(const std::function<String()>& nextName,
                                  const std::function<void(const String& text, const String& why)>& unfinished) {
  return detail::LeftoverTemporaries(Path(), *detail::ListingFor(Path())).Finish(nextName, unfinished);
}

}  // namespace fw
