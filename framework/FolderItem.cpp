#include "framework/FolderItem.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "framework/TextInputStream.h"
#include "framework/TextOutputStream.h"
#include "framework/qt/FolderListing.h"
#include "framework/qt/StreamBackings.h"

namespace fw {

namespace {
// "/a//b/" and "/a/b" are one folder, and so one listing.
String Normalized(const String& path) {
  String out;
  out.reserve(path.size());
  for (char c : path)
    if (!(c == '/' && !out.empty() && out.back() == '/')) out += c;
  while (out.size() > 1 && out.back() == '/') out.pop_back();
  return out;
}

String ParentPath(const String& path) {
  auto slash = path.rfind('/');
  if (slash == String::npos) return ".";
  return slash == 0 ? String("/") : path.substr(0, slash);
}

String NameOf(const String& path) {
  auto slash = path.rfind('/');
  return slash == String::npos ? path : path.substr(slash + 1);
}

String JoinPath(const String& folder, const String& name) {
  return folder == "/" ? "/" + name : folder + "/" + name;
}

bool MakeFolders(const String& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  String parent = ParentPath(path);
  if (parent != path && !MakeFolders(parent)) return false;
  return ::mkdir(path.c_str(), 0700) == 0 || errno == EEXIST;
}
}  // namespace

FolderItem::FolderItem() = default;

Ref<FolderItem> FolderItem::FromPath(const String& path) {
  auto item = std::make_shared<FolderItem>();
  item->path_ = Normalized(path);
  return item;
}

String FolderItem::Name() const { return path_ == "/" ? String() : NameOf(path_); }
String FolderItem::NativePath() const { return path_; }

Ref<FolderItem> FolderItem::Parent() const {
  if (path_ == "/" || path_.empty()) return nullptr;
  return FromPath(ParentPath(path_));
}

Ref<FolderItem> FolderItem::Child(const String& name) const { return FromPath(JoinPath(path_, name)); }

bool FolderItem::Exists() const {
  struct stat st {};
  return ::stat(path_.c_str(), &st) == 0;
}

bool FolderItem::Directory() const {
  struct stat st {};
  return ::stat(path_.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void FolderItem::CreateAsFolder() {
  auto listing = detail::ListingFor(ParentPath(path_));
  bool wasCurrent = listing->BeginOwnChange();
  if (::mkdir(path_.c_str(), 0777) == 0) listing->OwnAdded(wasCurrent, Name(), detail::FolderListing::Folder, false);
}

void FolderItem::Delete() {
  auto listing = detail::ListingFor(ParentPath(path_));
  bool wasCurrent = listing->BeginOwnChange();
  int rc = Directory() ? ::rmdir(path_.c_str()) : ::unlink(path_.c_str());
  if (rc == 0) listing->OwnRemoved(wasCurrent, Name());
}

Int32 FolderItem::Count() const {
  auto listing = detail::ListingFor(path_);
  listing->Refresh();
  return static_cast<Int32>(std::min<std::size_t>(listing->entries.size(), 0x7fffffff));
}

Ref<FolderItem> FolderItem::Item(Int32 index) const {
  auto listing = detail::ListingFor(path_);
  listing->EnsureLoaded();
  if (index < 1 || static_cast<std::size_t>(index) > listing->entries.size()) return nullptr;
  std::size_t i = static_cast<std::size_t>(index - 1);
  auto item = std::make_shared<FolderItem>();
  item->path_ = JoinPath(path_, listing->entries[i].name);
  item->listing_ = listing;
  item->listingGeneration_ = listing->generation;
  item->listingIndex_ = i;
  return item;
}

String FolderItem::MacType() const {
  const detail::FolderListing::Entry* entry = nullptr;
  if (listing_) {
    if (listing_->generation == listingGeneration_ && listingIndex_ < listing_->entries.size())
      entry = &listing_->entries[listingIndex_];
    else
      entry = listing_->Find(Name());
  }
  if (entry) {
    if (entry->kind == detail::FolderListing::Folder) return "fold";
    return entry->kind == detail::FolderListing::File && entry->text ? "TEXT" : "";
  }
  struct stat st {};
  if (::stat(path_.c_str(), &st) != 0) return "";
  if (S_ISDIR(st.st_mode)) return "fold";
  if (!S_ISREG(st.st_mode)) return "";
  String name = Name();
  if (detail::HasTextName(name) || detail::HasTextAttribute(path_)) return "TEXT";
  auto listing = detail::ListingFor(ParentPath(path_));
  const auto* e = listing->Find(name);
  return e && e->text ? "TEXT" : "";
}

Ref<TextInputStream> FolderItem::OpenAsTextFile() const {
  auto listing = listing_ ? listing_ : detail::ListingFor(ParentPath(path_));
  String name = Name();
  struct stat st {};
  if (::stat(path_.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return nullptr;
  // Unchanged since it was last read or written here (same inode, size,
  // modification and change time, so also the same permissions).
  if (const auto* cached = listing->CachedContent(name, detail::StatKey::Of(st)))
    return std::make_shared<TextInputStream>(std::make_unique<TextInputStream::Backing>(cached->bytes, -1));

  int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(fd);
    return nullptr;
  }
  auto backing = std::make_unique<TextInputStream::Backing>(String(), fd);
  backing->path = path_;
  if (S_ISREG(st.st_mode) && static_cast<std::size_t>(st.st_size) <= detail::FolderListing::kCachedFileMax) {
    // Read it whole now; if it grew meanwhile, keep reading but cache nothing.
    while (backing->Fill()) {
    }
    if (backing->buf.size() == static_cast<std::size_t>(st.st_size))
      listing->RememberContent(name, detail::StatKey::Of(st), backing->buf);
  }
  return std::make_shared<TextInputStream>(std::move(backing));
}

Ref<TextOutputStream> FolderItem::CreateTextFile() const {
  String folder = ParentPath(path_);
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return nullptr;
  if (::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0) return nullptr;
  if (::stat(path_.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return nullptr;
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

}  // namespace fw
