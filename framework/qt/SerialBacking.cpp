#include "framework/qt/SerialBacking.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "framework/RuntimeInternal.h"
#include "framework/system/SerialLine.h"

namespace fw {

namespace {

constexpr unsigned kRates[] = {300, 600, 1200, 1800, 2400, 3600, 4800, 7200, 9600, 14400, 19200};
// Per wake-up, so that a flooding device cannot starve the rest of the loop;
// the notifier fires again for what is left.
constexpr size_t kMaxReadPerWake = 64 * 1024;

// The caller's status line says only that the port did not open, and a copy
// run as a service shows none: standard error hears which port and why,
// once per attempt.
bool Refused(const String& device, const String& why) {
  ReportFailure("cannot open serial port " + device + ": " + why);
  return false;
}

}  // namespace

Serial::Backing::Backing(Serial& owner) : owner_(owner) {
  notifier_.setEnabled(false);
  QObject::connect(&notifier_, &QSocketNotifier::activated, [this] { OnReadable(); });
}

Serial::Backing::~Backing() { CloseDescriptor(); }

int Serial::Backing::Apply() {
  if (baud < 0 || baud > 10 || bits < 0 || bits > 3 || parity < 0 || parity > 2 || stop < 0 || stop > 2)
    return EINVAL;
  detail::LineSettings s;
  s.baud = kRates[baud];
  s.dataBits = 5 + bits;
  s.parity = parity == 1 ? detail::LineParity::Odd
             : parity == 2 ? detail::LineParity::Even
                           : detail::LineParity::None;
  // Linux knows only 1 or 2 stop bits: 1.5 is given as 2 (with 5 data bits a
  // UART sends 1.5 for that setting anyway).
  s.stopBits = stop == 0 ? 1 : 2;
  s.rtsCts = cts;
  s.xonXoff = xon;
  if (int e = detail::ApplyLineSettings(fd_.Get(), s)) return e;
  if (int e = detail::SetDtr(fd_.Get(), dtr); e && !isPty_) return e;  // a pty has no modem lines
  return 0;
}

bool Serial::Backing::Open() {
  // A line already open is left running: closing it would only lose input.
  if (!port) {
    lastError = ENODEV;
    return false;
  }
  const String path = port->InputDriverName();
  if (fd_ && path != device_) CloseDescriptor();
  if (!fd_) {
    auto fd = detail::FileDescriptor::Open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (!fd) {
      lastError = errno;
      return Refused(path, std::strerror(lastError));
    }
    // One reader per line: a second copy of the program would take part of
    // every record. The lock holds against root too, and goes with the last
    // descriptor, however the process ends. No TIOCEXCL: a holder killed
    // without warning leaves it set on a pseudo-terminal whose other side
    // stays open (a device server's bridge), and the next copy, run as an
    // ordinary user, could not open the line at all.
    if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
      lastError = errno == EWOULDBLOCK ? EBUSY : errno;
      return Refused(path, lastError == EBUSY ? String("locked by another reader of the line")
                                              : std::strerror(lastError));
    }
    fd_ = std::move(fd);
    device_ = path;
    isPty_ = detail::IsPseudoTerminal(fd_.Get());
  }
  // Applied also to a line already open. Settings that cannot be applied
  // close the port, so that the caller's "unable to open" matches the line.
  if (int e = Apply()) {
    lastError = e;
    CloseDescriptor();
    return Refused(path, String("line settings refused: ") + std::strerror(e));
  }
  lastError = 0;
  notifier_.setSocket(fd_.Get());
  notifier_.setEnabled(true);
  return true;
}

void Serial::Backing::Close() { CloseDescriptor(); }

void Serial::Backing::CloseDescriptor() {
  // Disarm before closing: a notifier on a closed descriptor would wake the
  // loop for ever.
  notifier_.setEnabled(false);
  notifier_.setSocket(-1);
  if (fd_) {
    // Failures are moot on a line that went away.
    ::flock(fd_.Get(), LOCK_UN);
    fd_.Reset();
    ++generation_;
  }
}

void Serial::Backing::SettingChanged() {
  if (!fd_) return;
  // A failure is only noted: a line that went away is reported by the read
  // side, once, and Open reports anything else.
  lastError = Apply();
}

String Serial::Backing::ReadAll() {
  String out;
  out.swap(buffer_);
  return out;
}

void Serial::Backing::OnReadable() {
  auto keep = detail::KeepAlive(owner_);
  if (!fd_) return;
  int failure = 0;
  bool got = false;
  size_t total = 0;
  char chunk[4096];
  while (total < kMaxReadPerWake) {
    ssize_t n = ::read(fd_.Get(), chunk, sizeof chunk);
    if (n > 0) {
      buffer_.append(chunk, static_cast<size_t>(n));
      total += static_cast<size_t>(n);
      got = true;
      continue;
    }
    if (n == 0) {
      failure = EIO;  // a hung-up tty reads as end of file
      break;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EWOULDBLOCK) {
      if (!got) {
        // Woken with nothing to read: only a hang-up or an error does that.
        pollfd p{fd_.Get(), POLLIN, 0};
        if (::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL))) failure = EIO;
      }
      break;
    }
    failure = errno;
    break;
  }
  const unsigned gen = generation_;
  if (failure) notifier_.setEnabled(false);  // nothing more from this descriptor
  // Bytes read before the failure are delivered first.
  if (got) owner_.DataAvailable.Raise();
  // The handler may have closed or reopened the port: the failure was the old line's.
  if (!failure || gen != generation_) return;
  lastError = failure;
  CloseDescriptor();
  owner_.Error.Raise();
}

}  // namespace fw
