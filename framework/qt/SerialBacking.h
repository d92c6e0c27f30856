#pragma once
// The descriptor behind a Serial: opened and configured directly (termios),
// watched by a QSocketNotifier, so pseudo-terminals work as real ports do.

#include <QSocketNotifier>
#include <memory>

#include "framework/Serial.h"
#include "framework/system/FileDescriptor.h"

namespace fw {

class Serial::Backing {
 public:
  explicit Backing(Serial& owner);
  ~Backing();
  Backing(const Backing&) = delete;
  Backing& operator=(const Backing&) = delete;

  Ref<fw::SerialPort> port;
  Int32 baud = 8;  // 9600
  Int32 bits = 3;  // 8 data bits
  Int32 parity = 0;
  Int32 stop = 0;
  bool cts = false;
  bool dtr = false;
  bool xon = false;
  Int32 lastError = 0;  // errno of the latest failure, 0 when none

  bool Open();
  void Close();
  bool IsOpen() const { return fd_.Valid(); }
  String ReadAll();
  // A line setting changed: an open line takes it at once.
  void SettingChanged();

 private:
  int Apply();  // 0 or an errno value
  void OnReadable();
  void CloseDescriptor();

  Serial& owner_;
  detail::FileDescriptor fd_;
  String device_;
  bool isPty_ = false;
  unsigned generation_ = 0;  // bumped at every close, so a stale failure is not reported
  String buffer_;            // received, not yet read by the program
  QSocketNotifier notifier_{QSocketNotifier::Read};
};

}  // namespace fw
