#include "framework/files/PolledFolder.h"

#include "framework/system/Notice.h"

namespace fw::detail {

void PolledFolder::NotWatched(const String& path, const String& why) {
  if (told_) return;
  told_ = true;
  Notice("folder " + path + " is not watched for changes (" + why + "): each listing checks its files one by one");
}

bool PolledFolder::Current(const struct stat& st) const {
  if (!Unchanged(st)) return false;
  return !racy_ || NowNs() - lastReadEnd_ < 4 * lastReadCost_;
}

void PolledFolder::Read(const struct stat& st, std::int64_t started) {
  sig_ = FileStamp::Of(st);
  racy_ = started - sig_.mtimeNs < kTimestampStepNs;
  lastReadEnd_ = NowNs();
  lastReadCost_ = lastReadEnd_ - started;
}

bool PolledFolder::TakeOwnChange(const String& path, bool wasCurrent) {
  struct stat st {};
  if (!wasCurrent || ::stat(path.c_str(), &st) != 0) return false;
  sig_ = FileStamp::Of(st);
  return true;
}

}  // namespace fw::detail
