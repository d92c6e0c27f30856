#include "framework/TextInputStream.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "framework/qt/StreamBackings.h"

namespace fw {

TextInputStream::Backing::~Backing() { CloseFd(); }

void TextInputStream::Backing::CloseFd() {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

bool TextInputStream::Backing::Fill() {
  if (fd < 0) return false;
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
    ssize_t n = ::read(fd, chunk, sizeof chunk);
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

TextInputStream::TextInputStream(std::unique_ptr<Backing> b) : b_(std::move(b)) {}
TextInputStream::~TextInputStream() = default;

String TextInputStream::ReadLine() {
  Backing& b = *b_;
  std::size_t scanned = 0;  // bytes after pos already known to hold no line end
  for (;;) {
    std::size_t end = b.buf.find_first_of("\r\n", b.pos + scanned);
    if (end != String::npos) {
      // A CR at the end of what is read so far may be the first half of CR LF.
      if (b.buf[end] == '\r' && end + 1 == b.buf.size()) {
        std::size_t offset = end - b.pos;
        if (b.Fill()) {
          scanned = offset;
          continue;
        }
        end = b.pos + offset;
      }
      String line = b.buf.substr(b.pos, end - b.pos);
      std::size_t next = end + 1;
      if (b.buf[end] == '\r' && next < b.buf.size() && b.buf[next] == '\n') ++next;
      b.pos = next;
      return line;
    }
    scanned = b.buf.size() - b.pos;
    if (!b.Fill()) {
      String line = b.buf.substr(b.pos);
      b.pos = b.buf.size();
      return line;
    }
  }
}

String TextInputStream::ReadAll() {
  Backing& b = *b_;
  while (b.Fill()) {
  }
  String rest = b.buf.substr(b.pos);
  b.pos = b.buf.size();
  return rest;
}

bool TextInputStream::EndOfFile() const { return b_->pos >= b_->buf.size() && !b_->Fill(); }

void TextInputStream::Close() {
  b_->CloseFd();
  b_->buf.clear();
  b_->pos = 0;
}

}  // namespace fw
