#pragma once
#include "framework/Event.h"
#include "framework/SerialPort.h"

namespace fw {

// A serial line. Codes: Baud 0..10 = 300, 600, 1200, 1800, 2400, 3600, 4800,
// 7200, 9600, 14400, 19200; Bits 0..3 = 5..8 data bits; Parity 0..2 = none,
// odd, even; Stop 0..2 = 1, 1.5, 2 stop bits. CTS on = RTS/CTS flow control,
// XON on = XON/XOFF flow control, DTR on raises DTR.
class Serial : public Object {
 public:
  Serial();
  ~Serial() override;

  Ref<fw::SerialPort> SerialPort() const;
  void SerialPort(Ref<fw::SerialPort> port);
  Int32 Baud() const;
  void Baud(Int32 code);
  Int32 Bits() const;
  void Bits(Int32 code);
  Int32 Parity() const;
  void Parity(Int32 code);
  Int32 Stop() const;
  void Stop(Int32 code);
  bool CTS() const;
  void CTS(bool on);
  bool DTR() const;
  void DTR(bool on);
  bool XON() const;
  void XON(bool on);

  // True when the port opened. Opening an open port applies the settings
  // again and succeeds. With no port assigned it returns False, and also
  // when another serial object or process holds the line: the port is
  // held exclusively (a lock that ends with the holder) until Close.
  // A port given that does not open is told on standard error, with its
  // device and why, once per call.
  bool Open();
  void Close();
  bool IsOpen() const;
  String ReadAll();  // every byte received and not yet read, unconverted

  Event<void()> DataAvailable{this, "DataAvailable"};
  Event<void(std::vector<Int32>)> LineStateChanged{this, "LineStateChanged"};
  // Raised once for a fatal error (the device went away); the port is then closed.
  Event<void()> Error{this, "Error"};

  Int32 LastErrorCode() const;

  class Backing;

 private:
  std::unique_ptr<Backing> b_;
};

}  // namespace fw
