#pragma once
// The settings file "lineKeeper.prefs" as the program reads it.
#include <string>

namespace tptest {

struct LineSettings {
  std::string port;
  int baud = 8, parity = 0, stop = 0, bits = 3;
};

std::string PrefsText(const LineSettings& s);

// Makes prefsFolder and writes a settings file naming the serial device there.
void WriteSettingsFile(const std::string& prefsFolder, const std::string& port, int baudCode = 10);

}  // namespace tptest
