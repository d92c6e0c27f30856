#pragma once
// What every test may use: a private temporary folder, and the environment
// that points the startup volume and the Preferences folder into it.
#include <string>

#include "support/Files.h"
#include "support/NotCopied.h"
#include "support/ScopedEnv.h"

namespace tptest {

// A fresh temporary folder, removed with the object.
class TempDir : NotCopied {
 public:
  TempDir();
  ~TempDir();
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Points TALLYPOINT_STARTUP_VOLUME and XDG_CONFIG_HOME to root/volume and
// root/preferences (both made) for the lifetime of the object.
class IsolatedVolume {
 public:
  explicit IsolatedVolume(const std::string& root);
  explicit IsolatedVolume(const TempDir& dir) : IsolatedVolume(dir.path()) {}
  std::string volume;
  std::string preferences;

 private:
  ScopedEnv volumeEnv_, preferencesEnv_;
};

}  // namespace tptest
