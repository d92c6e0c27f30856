#include "framework/Serial.h"

#include "framework/qt/SerialBacking.h"

// LineStateChanged is never raised by this layer: Linux reports modem-line
// changes only through a blocking ioctl (TIOCMIWAIT) or by polling, and the
// program's run stays on one thread with an idle loop.

namespace fw {

Serial::Serial() : b_(std::make_unique<Backing>(*this)) {}
Serial::~Serial() = default;

Ref<fw::SerialPort> Serial::SerialPort() const { return b_->port; }
void Serial::SerialPort(Ref<fw::SerialPort> port) { b_->port = std::move(port); }

Int32 Serial::Baud() const { return b_->baud; }
void Serial::Baud(Int32 code) {
  b_->baud = code;
  b_->SettingChanged();
}
Int32 Serial::Bits() const { return b_->bits; }
void Serial::Bits(Int32 code) {
  b_->bits = code;
  b_->SettingChanged();
}
Int32 Serial::Parity() const { return b_->parity; }
void Serial::Parity(Int32 code) {
  b_->parity = code;
  b_->SettingChanged();
}
Int32 Serial::Stop() const { return b_->stop; }
void Serial::Stop(Int32 code) {
  b_->stop = code;
  b_->SettingChanged();
}
bool Serial::CTS() const { return b_->cts; }
void Serial::CTS(bool on) {
  b_->cts = on;
  b_->SettingChanged();
}
bool Serial::DTR() const { return b_->dtr; }
void Serial::DTR(bool on) {
  b_->dtr = on;
  b_->SettingChanged();
}
bool Serial::XON() const { return b_->xon; }
void Serial::XON(bool on) {
  b_->xon = on;
  b_->SettingChanged();
}

bool Serial::Open() { return b_->Open(); }
void Serial::Close() { b_->Close(); }
bool Serial::IsOpen() const { return b_->IsOpen(); }
String Serial::ReadAll() { return b_->ReadAll(); }
Int32 Serial::LastErrorCode() const { return b_->lastError; }

}  // namespace fw
