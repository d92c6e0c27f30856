#pragma once
// A change this process makes in a folder, told to the folder's listing so
// that it need not read the folder again. Made before the change; one of
// the calls below says what the change did. One that is never told (an
// exception on its way) leaves the listing to read the folder afresh.
#include <string_view>
#include <vector>

#include "framework/files/FolderListing.h"

namespace fw::detail {

class OwnChange {
 public:
  explicit OwnChange(FolderListing& listing) : listing_(listing), wasCurrent_(listing.BeginOwnChange()) {}
  ~OwnChange();
  OwnChange(const OwnChange&) = delete;
  OwnChange& operator=(const OwnChange&) = delete;

  void Added(std::string_view name, FolderEntry::Kind kind, bool text);
  // A text file published whole, content its beginning.
  void Published(std::string_view name, std::string_view content);
  struct Arrival {
    std::string_view name, content;
  };
  // Many text files published whole (any number, also none).
  void PublishedAll(const std::vector<Arrival>& files);
  void Removed(std::string_view name);
  // Failed half-way: the name may or may not be there.
  void MayHaveChanged(std::string_view name);
  // Nothing visible changed (a temporary that came and went, or a failure).
  void LeftNoTrace();

 private:
  FolderListing& listing_;
  const bool wasCurrent_;
  bool told_ = false;
};

}  // namespace fw::detail
