#include "framework/files/FirstLineCache.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <system_error>
#include <thread>
#include <vector>

#include "framework/LineBreak.h"
#include "framework/files/FileFirstLine.h"
#include "framework/system/FileDescriptor.h"

namespace fw::detail {

namespace {
using LineEnd = FolderEntry::LineEnd;

struct FirstLine {
  String bytes;
  LineEnd end = FolderEntry::NoEnd;
  bool more = false;
  FileStamp stamp{};
  bool settled = false;  // read at least a timestamp step after the file last changed
};

// Opens name (relative to the folder dfd) without blocking, whatever it has
// become since it was listed, and reads the first line of a regular file of
// at most maxSize bytes, at most kHeldLine bytes of that line. NotRead:
// gone, not a regular file, or too large.
FirstLineCache::Got ReadFirstLineAt(int dfd, const char* name, off_t maxSize, FirstLine& out) {
  const std::int64_t started = NowNs();
  const FileDescriptor fd = FileDescriptor::OpenAt(dfd, name, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (!fd) return FirstLineCache::Got::NotRead;
  struct stat st {};
  if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > maxSize) return FirstLineCache::Got::NotRead;
  const bool read = ReadFirstLine(fd.Get(), FirstLineCache::kHeldLine, out.bytes, out.end, out.more);
  out.stamp = FileStamp::Of(st);
  out.settled = started - std::max(out.stamp.mtimeNs, out.stamp.ctimeNs) >= kTimestampStepNs;
  return read ? FirstLineCache::Got::Read : FirstLineCache::Got::Failed;
}
}  // namespace

FirstLineCache::Got FirstLineCache::ReadInto(FolderEntry& entry, const char* path, bool stamped) {
  FirstLine line;
  const Got got = ReadFirstLineAt(AT_FDCWD, path, std::numeric_limits<off_t>::max(), line);
  if (got == Got::Failed) {
    Forget(entry);
    // Without a watch nothing would say when it changed: it is read again.
    if (!stamped) entry.line = FolderEntry::Unreadable;
  } else if (got == Got::Read) {
    // A line read within the timestamp step of a change may be older than
    // its stat says: held, but checked by reading again next time.
    Hold(entry, line.bytes, line.end, line.more, stamped && line.settled ? &line.stamp : nullptr);
  }
  return got;
}

void FirstLineCache::ReadAhead(const String& folder, FolderSnapshot::Entries& entries, bool stamped) {
  // Worth threads only for a large folder; a small one is read as it is listed.
  constexpr std::size_t kWorthIt = 512;
  std::vector<std::size_t> todo;
  for (std::size_t i = 0; i < entries.size(); ++i)
    if (entries[i].kind == FolderEntry::File && entries[i].text && entries[i].line == FolderEntry::Unknown)
      todo.push_back(i);
  if (todo.size() < kWorthIt) return;
  const FileDescriptor dir = FileDescriptor::Open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (!dir) return;
  const int dfd = dir.Get();
  struct Got {
    std::size_t entry;
    std::size_t at, size;  // in the slice's bytes
    LineEnd end;
    bool more;
    FileStamp stamp;
    bool settled;
  };
  struct Slice {
    std::vector<Got> got;
    String bytes;
  };
  const unsigned slices = std::clamp(std::thread::hardware_concurrency(), 1u, 8u);
  std::vector<Slice> read(slices);
  // Each slice is its own stretch of the listing, so the bytes come back in
  // listing order; nothing here touches the entries.
  auto work = [&](unsigned w) {
    Slice& s = read[w];
    const std::size_t from = todo.size() * w / slices, to = todo.size() * (w + 1) / slices;
    FirstLine line;
    for (std::size_t k = from; k < to; ++k) {
      const String name(entries[todo[k]].Name());
      // Files of a size no call record has are left to be read when asked for.
      if (ReadFirstLineAt(dfd, name.c_str(), 1 << 16, line) == FirstLineCache::Got::Read) {
        s.got.push_back(Got{todo[k], s.bytes.size(), line.bytes.size(), line.end, line.more, line.stamp, line.settled});
        s.bytes += line.bytes;
      }
    }
  };
  {
    // A thread that cannot start (a process limit) leaves its slice and the
    // ones after it to this thread; the threads started are joined here.
    std::vector<std::jthread> threads;
    threads.reserve(slices);
    unsigned next = 1;
    try {
      for (; next < slices; ++next) threads.emplace_back(work, next);
    } catch (const std::system_error&) {
    }
    work(0);
    for (unsigned w = next; w < slices; ++w) work(w);
  }
  for (const Slice& s : read)
    for (const Got& g : s.got)
      Hold(entries[g.entry], std::string_view(s.bytes).substr(g.at, g.size), g.end, g.more,
           stamped && g.settled ? &g.stamp : nullptr);
}

void FirstLineCache::HoldWritten(FolderEntry& entry, std::string_view content) {
  // Two bytes past the most held: a CR LF right after it is seen whole.
  const LineBreak br = FindLineBreak(content.substr(0, kHeldLine + 2));
  if (!br.found() || br.at > kHeldLine) {
    if (content.size() > kHeldLine) return Hold(entry, content.substr(0, kHeldLine), FolderEntry::Cut, true, nullptr);
    return Hold(entry, content, FolderEntry::NoEnd, false, nullptr);
  }
  const LineEnd end = content[br.at] == '\n' ? FolderEntry::LF : br.length == 2 ? FolderEntry::CRLF : FolderEntry::CR;
  Hold(entry, content.substr(0, br.at), end, br.next() < content.size(), nullptr);
}

bool FirstLineCache::StillCurrent(const FolderEntry& entry, const struct stat& st) {
  return entry.line == FolderEntry::Held && entry.stamp && *entry.stamp == FileStamp::Of(st);
}

void FirstLineCache::Hold(FolderEntry& e, std::string_view line, LineEnd end, bool more, const FileStamp* stamp) {
  Forget(e);
  if (line.size() > UINT32_MAX) return;
  e.lineData = lines_.Add(line, e.lineChunk);
  if (stamp) {
    if (freeStamps_.empty()) {
      e.stamp = &stamps_.emplace_back(*stamp);
    } else {
      e.stamp = freeStamps_.back();
      freeStamps_.pop_back();
      *e.stamp = *stamp;
    }
  }
  e.lineSize = static_cast<std::uint32_t>(line.size());
  e.lineEnd = end;
  e.more = more;
  e.line = FolderEntry::Held;
}

void FirstLineCache::Serve(const FolderEntry& e, HeldLine& out) const {
  // A stream handed out again mostly holds this chunk already: no new reference.
  if (const auto& owner = lines_.Owner(e.lineChunk); out.owner.get() != owner.get()) out.owner = owner;
  out.data = e.lineData;
  out.size = e.lineSize;
  out.end = e.lineEnd;
  out.more = e.more;
}

void FirstLineCache::Forget(FolderEntry& e) {
  if (e.line == FolderEntry::Held) {
    lines_.Forget(e.lineChunk, e.lineSize);
    if (e.stamp) freeStamps_.push_back(e.stamp);
  }
  e.line = FolderEntry::Unknown;
  e.lineData = nullptr;
  e.stamp = nullptr;
  e.lineSize = 0;
}

void FirstLineCache::Clear() {
  lines_.Clear();
  stamps_.clear();
  freeStamps_.clear();
}

void FirstLineCache::ForgetAll(FolderSnapshot::Entries& entries) {
  for (FolderEntry& e : entries) Forget(e);
}

void FirstLineCache::CompactIfWasteful(FolderSnapshot::Entries& entries) {
  if (!lines_.Wasteful()) return;
  ByteArena lines;
  for (FolderEntry& e : entries)
    if (e.line == FolderEntry::Held) e.lineData = lines.Add(std::string_view(e.lineData, e.lineSize), e.lineChunk);
  // Streams and rows that still show old lines keep their chunks alive.
  lines_ = std::move(lines);
}

}  // namespace fw::detail
