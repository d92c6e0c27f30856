#pragma once
// The few places where a test reaches into the framework. The shipped
// program links framework/ShippedSeams.cpp, in which each does the plain
// thing; the test build links framework/testing/TestSeams.cpp instead, so
// the shipped program holds no test switch.

#include <optional>
#include <vector>

#include "framework/Object.h"

namespace fw {

struct ModalRequest {
  String kind;  // "MsgBox" or "MessageDialog"
  String message;
  String explanation;
  std::vector<String> captions;  // visible buttons: action, cancel, alternate
};
enum class ModalAnswer { Action, Cancel, Alternate };

namespace seams {

// An answer when the modal is not to be shown; nullopt shows it.
std::optional<ModalAnswer> AnswerWithoutShowing(const ModalRequest& request);

// Seconds since the epoch on the wall clock (CLOCK_REALTIME).
double WallClockSeconds();

// Whether the ports the platform enumerates are listed.
bool PlatformSerialPortsListed();

}  // namespace seams
}  // namespace fw
