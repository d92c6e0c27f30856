#include "framework/files/Folders.h"

#include "framework/files/FolderListing.h"

namespace fw::detail {

Folders& Folders::Process() {
  static Folders folders;
  return folders;
}

Folders::~Folders() {
  // Every listing unwatches itself now, while the watcher is whole: one that
  // a stream still holds outlives both.
  watcher_.End();
}

std::shared_ptr<FolderListing> Folders::ListingFor(const String& folderPath) {
  auto& slot = listings_[folderPath];
  if (!slot) slot = std::make_shared<FolderListing>(folderPath, watcher_);
  return slot;
}

std::shared_ptr<FolderListing> ListingFor(const String& folderPath) {
  return Folders::Process().ListingFor(folderPath);
}

}  // namespace fw::detail
