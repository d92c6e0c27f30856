#include "support/SettingsFile.h"

#include "support/Files.h"

namespace tptest {

std::string PrefsText(const LineSettings& s) {
  return "port\t" + s.port + "\nbaud\t" + std::to_string(s.baud) + "\nparity\t" + std::to_string(s.parity) +
         "\nstop\t" + std::to_string(s.stop) + "\nbits\t" + std::to_string(s.bits) + "\n";
}

void WriteSettingsFile(const std::string& prefsFolder, const std::string& port, int baudCode) {
  fs::create_directories(prefsFolder);
  WriteFile(prefsFolder + "/lineKeeper.prefs", PrefsText({port, baudCode}));
}

}  // namespace tptest
