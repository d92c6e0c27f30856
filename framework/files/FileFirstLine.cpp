#include "framework/files/FileFirstLine.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <limits>

#include "framework/LineBreak.h"
#include "framework/system/FileDescriptor.h"

namespace fw::detail {

bool ReadFirstLine(int fd, std::size_t limit, String& line, FolderEntry::LineEnd& end, bool& more) {
  line.clear();
  end = FolderEntry::NoEnd;
  more = false;
  char chunk[4096];
  bool pendingCR = false;  // CR LF may be split across reads
  for (;;) {
    ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) {
      if (pendingCR) end = FolderEntry::CR;
      return true;
    }
    const std::string_view got(chunk, static_cast<std::size_t>(n));
    if (pendingCR) {
      end = got[0] == '\n' ? FolderEntry::CRLF : FolderEntry::CR;
      more = (end == FolderEntry::CRLF ? 1u : 0u) < got.size();
      return true;
    }
    const LineBreak br = FindLineBreak(got);
    if (line.size() + (br.found() ? br.at : got.size()) > limit) {
      line.append(got.substr(0, limit - line.size()));
      end = FolderEntry::Cut;
      more = true;
      return true;
    }
    if (!br.found()) {
      line.append(got);
      continue;
    }
    line.append(got.substr(0, br.at));
    if (br.crAtEnd) {
      pendingCR = true;
      continue;
    }
    end = got[br.at] == '\n' ? FolderEntry::LF : br.length == 2 ? FolderEntry::CRLF : FolderEntry::CR;
    more = br.next() < got.size();
    return true;
  }
}

String FileFirstLine::WholeLine(std::string_view start) const {
  // Never blocks: the file may have become a FIFO or a device since it was listed.
  const FileDescriptor fd = FileDescriptor::Open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (!fd) return String(start);
  String line;
  FolderEntry::LineEnd end;
  bool more;
  struct stat st {};
  const bool read = ::fstat(fd.Get(), &st) == 0 && S_ISREG(st.st_mode) &&
                    ReadFirstLine(fd.Get(), std::numeric_limits<std::size_t>::max(), line, end, more);
  return read ? line : String(start);
}

}  // namespace fw::detail
