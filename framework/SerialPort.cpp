#include "framework/SerialPort.h"

namespace fw {

String SerialPort::Name() const {
  const auto slash = device_.find_last_of('/');
  return slash == String::npos ? device_ : device_.substr(slash + 1);
}

}  // namespace fw
