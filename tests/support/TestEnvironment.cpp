#include "support/TestEnvironment.h"

#include <unistd.h>

#include <cstdio>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace tptest {

namespace fs = std::filesystem;

TempDir::TempDir() {
  std::string tmpl = (fs::temp_directory_path() / "tallypoint-test-XXXXXX").string();
  if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
}

TempDir::~TempDir() {
  std::error_code ec;
  // Tests may leave read-only folders behind; make them removable first.
  for (auto it = fs::recursive_directory_iterator(path_, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec))
    fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(path_, ec);
}

static bool Save(const char* name, std::string& into) {
  const char* v = getenv(name);
  if (v) into = v;
  return v != nullptr;
}

static void Restore(const char* name, bool had, const std::string& value) {
  if (had) setenv(name, value.c_str(), 1);
  else unsetenv(name);
}

IsolatedVolume::IsolatedVolume(const TempDir& dir) : volume(dir / "volume"), preferences(dir / "preferences") {
  fs::create_directories(volume);
  fs::create_directories(preferences);
  hadVolume_ = Save("TALLYPOINT_STARTUP_VOLUME", oldVolume_);
  hadPrefs_ = Save("XDG_CONFIG_HOME", oldPrefs_);
  setenv("TALLYPOINT_STARTUP_VOLUME", volume.c_str(), 1);
  setenv("XDG_CONFIG_HOME", preferences.c_str(), 1);
}

IsolatedVolume::~IsolatedVolume() {
  Restore("TALLYPOINT_STARTUP_VOLUME", hadVolume_, oldVolume_);
  Restore("XDG_CONFIG_HOME", hadPrefs_, oldPrefs_);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

StderrCapture::StderrCapture() : path_(dir_ / "stderr") {
  std::fflush(stderr);
  saved_ = ::dup(2);
  if (FILE* f = std::fopen(path_.c_str(), "w")) {
    ::dup2(::fileno(f), 2);
    std::fclose(f);
  }
}

StderrCapture::~StderrCapture() { Restore(); }

void StderrCapture::Restore() {
  if (saved_ < 0) return;
  std::fflush(stderr);
  ::dup2(saved_, 2);
  ::close(saved_);
  saved_ = -1;
}

std::string StderrCapture::Text() {
  Restore();
  return ReadFile(path_);
}

std::vector<std::string> StderrCapture::Lines() {
  std::vector<std::string> lines;
  std::stringstream in(Text());
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  return lines;
}

}  // namespace tptest
