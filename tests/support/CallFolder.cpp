#include "support/CallFolder.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>

#include "support/Files.h"

namespace tptest {

// Splits "<stamp><counter>.txt"; the stamp of a four-digit year has 14 digits.
static bool ParseCallFileName(const std::string& name, std::string& stamp, long& counter) {
  if (name.size() < 19 || name.compare(name.size() - 4, 4, ".txt") != 0) return false;
  std::string base = name.substr(0, name.size() - 4);
  if (!std::all_of(base.begin(), base.end(), [](char c) { return c >= '0' && c <= '9'; })) return false;
  stamp = base.substr(0, 14);
  std::string n = base.substr(14);
  if (n.empty() || n.size() > 9) return false;
  counter = std::stol(n);
  return true;
}

CallFolder ReadCallFolder(const std::string& dir, bool withContent) {
  CallFolder out;
  std::error_code ec;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    CallFile f;
    f.name = it->path().filename().string();
    struct stat st {};
    if (stat(it->path().c_str(), &st) == 0 && S_ISREG(st.st_mode) && ParseCallFileName(f.name, f.stamp, f.counter)) {
      if (withContent) f.content = ReadFile(it->path().string());
      f.mtime = double(st.st_mtim.tv_sec) + double(st.st_mtim.tv_nsec) / 1e9;
      out.files.push_back(std::move(f));
    } else {
      out.strays.push_back(f.name);
    }
  }
  std::sort(out.files.begin(), out.files.end(), [](const CallFile& a, const CallFile& b) {
    return a.stamp != b.stamp ? a.stamp < b.stamp : a.counter < b.counter;
  });
  std::sort(out.strays.begin(), out.strays.end());
  return out;
}

std::vector<CallFile> ReadCalls(const std::string& dir, std::vector<std::string>* strays) {
  CallFolder folder = ReadCallFolder(dir);
  if (strays) *strays = std::move(folder.strays);
  return std::move(folder.files);
}

std::vector<std::string> Contents(const std::vector<CallFile>& calls) {
  std::vector<std::string> v;
  for (const auto& c : calls) v.push_back(c.content);
  return v;
}

size_t CountCalls(const std::string& dir) { return ReadCallFolder(dir, false).files.size(); }

std::string StampAt(time_t t) {
  tm lt{};
  localtime_r(&t, &lt);
  char b[32];
  std::snprintf(b, sizeof b, "%04d%02d%02d%02d%02d%02d", lt.tm_year + 1900, lt.tm_mon + 1, lt.tm_mday, lt.tm_hour,
                lt.tm_min, lt.tm_sec);
  return b;
}

}  // namespace tptest
