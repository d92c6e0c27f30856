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
  // Most paths are normal already (every child of a listed folder is).
  if (path.find("//") == String::npos && (path.size() < 2 || path.back() != '/')) return path;
  fs::path out = fs::path(path).root_path();
  for (const fs::path& part : fs::path(path).relative_path())
    if (!part.empty()) out /= part;
  return out.string();
}

// Of a normalized path.
String ParentPath(const String& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == String::npos) return ".";
  return slash == 0 ? String("/") : path.substr(0, slash);
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

// What a FolderItem knows of itself: its path or, for an item made by Item,
// its place in its folder's listing.
class FolderItem::Backing {
 public:
  // The path of an item made by Item is put together only when asked for:
  // a listing loop asks most items for nothing but their type and first line.
  const String& Path() const {
    if (pathPending) MakePath();
    return path;
  }
  void MakePath() const {
    path = detail::JoinPath(listing->path, ListedName());
    pathPending = false;
  }
  std::string_view ListedName() const { return {listedName, listedNameSize}; }
  // The listing of this folder itself, looked up once for Count and Item.
  detail::FolderListing& OwnListing() const {
    if (!ownListing) ownListing = detail::ListingFor(Path()).get();
    return *ownListing;
  }
  // This item's place in listing (its folder's), or npos when it is not listed.
  std::size_t ListedIndex(const detail::FolderListing& listing) const;

  mutable String path;
  mutable bool pathPending = false;
  // A listed name as short as a call file's, copied from its entry.
  static constexpr std::size_t kShortName = detail::FolderEntry::kInlineName;
  std::uint8_t listedNameSize = 0;
  char listedName[kShortName];
  // Set by Item: the folder's cached listing and this item's place in it, so
  // that MacType and OpenAsTextFile in a listing loop cost no lookup.
  // Listings live as long as the process (Folders), so a plain pointer is safe.
  detail::FolderListing* listing = nullptr;
  std::uint64_t listingGeneration = 0;
  std::size_t listingIndex = 0;
  mutable detail::FolderListing* ownListing = nullptr;
};

FolderItem::FolderItem() : b_(std::make_unique<Backing>()) {}
FolderItem::~FolderItem() = default;

Ref<FolderItem> FolderItem::FromPath(const String& path) {
  auto item = std::make_shared<FolderItem>();
  item->b_->path = Normalized(path);
  return item;
}

String FolderItem::Name() const {
  if (b_->pathPending) return String(b_->ListedName());
  return b_->path.substr(b_->path.rfind('/') + 1);  // npos + 1 is 0: the whole of a bare name
}

String FolderItem::NativePath() const { return b_->Path(); }

Ref<FolderItem> FolderItem::Parent() const {
  if (b_->Path() == "/" || b_->Path().empty()) return nullptr;
  return FromPath(ParentPath(b_->Path()));
}

Ref<FolderItem> FolderItem::Child(const String& name) const { return FromPath(detail::JoinPath(b_->Path(), name)); }

bool FolderItem::HasChild(const String& name) const {
  if (const auto listed = b_->OwnListing().Knows(name)) return *listed != nullptr;
  return Child(name)->Exists();
}

bool FolderItem::Exists() const {
  struct stat st {};
  return ::stat(b_->Path().c_str(), &st) == 0;
}

bool FolderItem::Directory() const {
  struct stat st {};
  return ::stat(b_->Path().c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void FolderItem::CreateAsFolder() {
  detail::OwnChange change(*detail::ListingFor(ParentPath(b_->Path())));
  if (::mkdir(b_->Path().c_str(), 0777) == 0) change.Added(Name(), detail::FolderEntry::Folder, false);
  else change.LeftNoTrace();
}

void FolderItem::Delete() {
  detail::OwnChange change(*detail::ListingFor(ParentPath(b_->Path())));
  const bool folder = Directory();
  if ((folder ? ::rmdir(b_->Path().c_str()) : ::unlink(b_->Path().c_str())) != 0) return change.LeftNoTrace();
  change.Removed(Name());
  // A folder made again at this path is another one, with nothing in it yet.
  if (folder) b_->OwnListing().FolderRemoved();
}

std::size_t FolderItem::Backing::ListedIndex(const detail::FolderListing& l) const {
  // Item set these; they hold until the listing changes.
  if (listing == &l && listingGeneration == l.generation() && listingIndex < l.entries().size())
    return listingIndex;
  std::size_t index = 0;
  std::string_view name = pathPending ? ListedName() : std::string_view(path);
  if (!pathPending) name = name == "/" ? std::string_view() : name.substr(name.rfind('/') + 1);
  return l.Find(name, &index) ? index : String::npos;
}

Int32 FolderItem::Count() const {
  detail::FolderListing& listing = b_->OwnListing();
  listing.Refresh();
  return static_cast<Int32>(std::min<std::size_t>(listing.entries().size(), 0x7fffffff));
}

Ref<FolderItem> FolderItem::Item(Int32 index) const {
  detail::FolderListing& listing = b_->OwnListing();
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
    item->b_->path.clear();
    item->b_->ownListing = nullptr;
  } else {
    item = listing.items.HandOut(std::make_shared<FolderItem>()).get();
  }
  Backing& b = *item->b_;
  if (name.size() <= Backing::kShortName) {
    // A copy of fixed size is two moves, not a call.
    std::memcpy(b.listedName, entry.nameInline, Backing::kShortName);
    b.listedNameSize = static_cast<std::uint8_t>(name.size());
    b.pathPending = true;
  } else {
    b.pathPending = false;
    b.path = detail::JoinPath(b_->Path(), name);
  }
  b.listing = &listing;
  b.listingGeneration = listing.generation();
  b.listingIndex = i;
  return listing.items.Last();
}

String FolderItem::MacType() const {
  const Backing& b = *b_;
  std::size_t index = b.listing ? b.ListedIndex(*b.listing) : String::npos;
  if (index != String::npos) {
    const auto& entry = b.listing->entries()[index];
    if (entry.kind == detail::FolderEntry::Folder) return "fold";
    return entry.kind == detail::FolderEntry::File && entry.text ? "TEXT" : "";
  }
  struct stat st {};
  if (::stat(b_->Path().c_str(), &st) != 0) return "";
  if (S_ISDIR(st.st_mode)) return "fold";
  if (!S_ISREG(st.st_mode)) return "";
  String name = Name();
  if (detail::HasTextName(name) || detail::HasTextAttribute(b_->Path())) return "TEXT";
  auto listing = detail::ListingFor(ParentPath(b_->Path()));
  const auto* e = listing->Find(name);
  return e && e->text ? "TEXT" : "";
}

Ref<TextInputStream> FolderItem::OpenAsTextFile() const {
  std::shared_ptr<detail::FolderListing> parent;
  detail::FolderListing& listing = b_->listing ? *b_->listing : *(parent = detail::ListingFor(ParentPath(b_->Path())));
  std::size_t index = b_->ListedIndex(listing);
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
      String path = held.more ? b_->Path() : String();
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
  auto fd = detail::FileDescriptor::Open(b_->Path().c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (!fd) return nullptr;
  struct stat st {};
  if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) return nullptr;
  auto backing = std::make_unique<TextInputStream::Backing>(std::move(fd));
  backing->path = b_->Path();
  // A file that opens but cannot be read (a bad sector) counts as one that
  // cannot be opened, rather than failing in the middle of its first line.
  try {
    backing->Fill();
  } catch (const IOException&) {
    return nullptr;
  }
  return std::make_shared<TextInputStream>(std::move(backing));
}

Ref<TextOutputStream> FolderItem::CreateTextFile(String* why) const {
  auto refused = [why](int err) -> Ref<TextOutputStream> {
    if (why) *why = std::strerror(err);
    return nullptr;
  };
  String folder = ParentPath(b_->Path());
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0) return refused(errno);
  if (!S_ISDIR(st.st_mode)) return refused(ENOTDIR);
  if (::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0) return refused(errno);
  // One look at the name: whether an item of it exists (only such an item is
  // ever replaced), and whether it is a folder, also through a link. A
  // watched folder's listing knows without a system call (see HasChild);
  // should another process make the name meanwhile, Close does not replace it.
  std::shared_ptr<detail::FolderListing> listing = detail::ListingFor(folder);
  bool exists = false;
  if (const auto listed = listing->Knows(Name())) {
    exists = *listed != nullptr;
    if (exists && (*listed)->kind == detail::FolderEntry::Folder) return refused(EISDIR);
  } else {
    exists = ::lstat(b_->Path().c_str(), &st) == 0;
    if (exists && (S_ISDIR(st.st_mode) || (S_ISLNK(st.st_mode) && ::stat(b_->Path().c_str(), &st) == 0 &&
                                           S_ISDIR(st.st_mode))))
      return refused(EISDIR);
  }
  return std::make_shared<TextOutputStream>(
      std::make_unique<TextOutputStream::Backing>(std::move(listing), folder, Name(), exists));
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
  if (::stat(b_->Path().c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return 0;
  return static_cast<std::int64_t>(st.st_size);
}

Int32 FolderItem::FinishLeftovers(const std::function<String()>& nextName,
                                  const std::function<void(const String& text, const String& why)>& unfinished) {
  return detail::LeftoverTemporaries(b_->Path(), *detail::ListingFor(b_->Path())).Finish(nextName, unfinished);
}

}  // namespace fw
