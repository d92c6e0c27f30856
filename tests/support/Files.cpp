#include "support/Files.h"

#include <fstream>
#include <sstream>

namespace tptest {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

bool WriteFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  out.close();
  return static_cast<bool>(out);
}

std::vector<std::string> ReadLines(const std::string& path) {
  std::vector<std::string> lines;
  std::stringstream in(ReadFile(path));
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  return lines;
}

}  // namespace tptest
