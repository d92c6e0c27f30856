#include "support/ProcFigures.h"

#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

#include "support/Files.h"

namespace tptest {

double CpuSeconds(pid_t pid) {
  std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
  auto close = stat.rfind(')');
  if (close == std::string::npos) return -1;
  std::istringstream in(stat.substr(close + 2));
  std::string field;
  std::vector<std::string> f;
  while (in >> field && f.size() < 13) f.push_back(field);
  if (f.size() < 13) return -1;
  // After the command: state is field 3, utime 14, stime 15.
  double ticks = std::stod(f[11]) + std::stod(f[12]);
  return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

double SelfCpuSeconds() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
         static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

long StatusKb(pid_t pid, const std::string& key) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.compare(0, key.size() + 1, key + ":") == 0) return std::atol(line.c_str() + key.size() + 1);
  }
  return -1;
}

bool HoldsOpen(pid_t pid, const std::string& path) {
  std::error_code ec;
  std::string dir = "/proc/" + std::to_string(pid) + "/fd";
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code ec2;
    if (fs::read_symlink(it->path(), ec2).string() == path) return true;
  }
  return false;
}

}  // namespace tptest
