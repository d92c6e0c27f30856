#include "framework/files/OwnChange.h"

namespace fw::detail {

OwnChange::~OwnChange() {
  if (told_) return;
  listing_.dirty_ = true;
  listing_.AfterOwnChange(false);
}

void OwnChange::Added(std::string_view name, FolderEntry::Kind kind, bool text) {
  told_ = true;
  listing_.OwnAdded(wasCurrent_, name, kind, text);
}

void OwnChange::Published(std::string_view name, std::string_view content) {
  Added(name, FolderEntry::File, true);
  listing_.OwnFirstLine(name, content);
}

void OwnChange::PublishedAll(const std::vector<Arrival>& files) {
  told_ = true;
  std::vector<std::string_view> names;
  names.reserve(files.size());
  for (const Arrival& f : files) names.push_back(f.name);
  listing_.OwnAddedFiles(wasCurrent_, names);
  for (const Arrival& f : files) listing_.OwnFirstLine(f.name, f.content);
}

void OwnChange::Removed(std::string_view name) {
  told_ = true;
  listing_.OwnRemoved(wasCurrent_, name);
}

void OwnChange::MayHaveChanged(std::string_view name) {
  told_ = true;
  listing_.OwnRemoved(false, name);
}

void OwnChange::LeftNoTrace() {
  told_ = true;
  listing_.AfterOwnChange(wasCurrent_);
}

}  // namespace fw::detail
