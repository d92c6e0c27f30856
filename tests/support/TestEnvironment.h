#pragma once
// What every test may use: a private temporary folder, and the environment
// that points the startup volume and the Preferences folder into it.
#include <string>

namespace tptest {

// A fresh temporary folder, removed with the object.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Points TALLYPOINT_STARTUP_VOLUME and XDG_CONFIG_HOME into dir for the
// lifetime of the object and restores them after.
class IsolatedVolume {
 public:
  explicit IsolatedVolume(const TempDir& dir);
  ~IsolatedVolume();
  std::string volume;
  std::string preferences;

 private:
  std::string oldVolume_, oldPrefs_;
  bool hadVolume_, hadPrefs_;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);

}  // namespace tptest
