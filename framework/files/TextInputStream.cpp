#include "framework/TextInputStream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "framework/LineBreak.h"
#include "framework/files/FileFirstLine.h"
#include "framework/files/StreamBackings.h"

namespace fw {

TextInputStream::Backing::~Backing() { CloseFd(); }

void TextInputStream::Backing::CloseFd() { fd.Reset(); }

bool TextInputStream::Backing::Fill() {
  if (!fd) return false;
  // Drop what was consumed so a long file does not pile up in memory.
  if (pos > 0 && pos == buf.size()) {
    buf.clear();
    pos = 0;
  } else if (pos > (1u << 16)) {
    buf.erase(0, pos);
    pos = 0;
  }
  char chunk[1 << 16];
  for (;;) {
    ssize_t n = ::read(fd.Get(), chunk, sizeof chunk);
    if (n > 0) {
      buf.append(chunk, static_cast<std::size_t>(n));
      return true;
    }
    if (n < 0 && errno == EINTR) continue;
    int err = errno;
    CloseFd();
    if (n < 0) throw IOException("cannot read " + path + ": " + std::strerror(err));
    return false;
  }
}

void TextInputStream::Backing::Unhold() {
  using detail::FolderEntry;
  holding = false;
  buf.clear();
  pos = 0;
  if (held.end == FolderEntry::Cut) {
    // Where the line ends is not known: the file is read from its start.
    held = {};
    OpenAt(0);
    if (served) SkipLine();
    return;
  }
  const std::size_t endSize = held.end == FolderEntry::CRLF ? 2 : held.end == FolderEntry::NoEnd ? 0 : 1;
  if (!served) {
    buf.assign(held.data, held.size);
    if (held.end == FolderEntry::CR || held.end == FolderEntry::CRLF) buf += '\r';
    if (held.end == FolderEntry::LF || held.end == FolderEntry::CRLF) buf += '\n';
  }
  const bool more = held.more;
  const off_t skip = static_cast<off_t>(held.size + endSize);
  held = {};
  if (!more) return;
  // The rest is read from the file, past the line already known.
  OpenAt(skip);
}

void TextInputStream::Backing::OpenAt(off_t offset) {
  fd = detail::FileDescriptor::Open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  struct stat st {};
  if (!fd || ::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode) || ::lseek(fd.Get(), offset, SEEK_SET) != offset) {
    int err = !fd ? errno : EIO;
    CloseFd();
    throw IOException("cannot read " + path + ": " + std::strerror(err));
  }
}

void TextInputStream::Backing::SkipLine() {
  for (;;) {
    const LineBreak br = FindLineBreak(buf, pos);
    if (!br.found()) {
      pos = buf.size();  // Fill drops what was read
      if (!Fill()) return;
      continue;
    }
    if (br.crAtEnd) {
      // It may be the first half of a CR LF.
      pos = br.at;
      if (Fill()) continue;
      pos = buf.size();
      return;
    }
    pos = br.next();
    return;
  }
}

TextInputStream::TextInputStream(std::unique_ptr<Backing> b) : b_(std::move(b)) {}
TextInputStream::~TextInputStream() = default;

TextLine TextInputStream::ReadLine() {
  Backing& b = *b_;
  if (b.holding) {
    if (!b.served) {
      b.served = true;
      // A list that shows this line refers to the held bytes instead of a
      // copy. The line takes the stream's reference: once served, the stream
      // needs no more of the bytes than their size.
      const std::string_view bytes(b.held.data, b.held.size);
      if (b.held.end == detail::FolderEntry::Cut)
        return TextLine(std::move(b.held.owner), bytes, std::make_shared<detail::FileFirstLine>(b.path));
      return TextLine(std::move(b.held.owner), bytes);
    }
    if (!b.held.more) return String();
    b.Unhold();
  }
  const String& data = b.buf;
  std::size_t scanned = 0;  // bytes after pos already known to hold no line end
  for (;;) {
    LineBreak br = FindLineBreak(data, b.pos + scanned);
    if (br.found()) {
      // A CR at the end of what is read so far may be the first half of CR LF.
      if (br.crAtEnd) {
        const std::size_t offset = br.at - b.pos;
        if (b.Fill()) {
          scanned = offset;
          continue;
        }
        br.at = b.pos + offset;  // a CR alone: Fill may have moved what was read
      }
      String line = data.substr(b.pos, br.at - b.pos);
      b.pos = br.next();
      return line;
    }
    scanned = data.size() - b.pos;
    if (!b.Fill()) {
      String line = data.substr(b.pos);
      b.pos = data.size();
      return line;
    }
  }
}

String TextInputStream::ReadAll() {
  Backing& b = *b_;
  if (b.holding) b.Unhold();
  while (b.Fill()) {
  }
  const String& data = b.buf;
  String rest = data.substr(b.pos);
  b.pos = data.size();
  return rest;
}

bool TextInputStream::EndOfFile() const {
  Backing& b = *b_;
  if (b.holding) {
    if (!b.served) return b.held.size == 0 && b.held.end == detail::FolderEntry::NoEnd && !b.held.more;  // an empty file
    if (b.held.end != detail::FolderEntry::Cut) return !b.held.more;
    b.Unhold();  // past a line held only in part, the file itself tells
  }
  return b.pos >= b.buf.size() && !b.Fill();
}

void TextInputStream::Close() {
  b_->CloseFd();
  String().swap(b_->buf);
  b_->held = {};
  b_->holding = false;
  b_->pos = 0;
}

}  // namespace fw
