#pragma once
// What every test may use: a private temporary folder, and the environment
// that points the startup volume and the Preferences folder into it.
#include <string>
#include <vector>

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

// What the process writes to standard error while the object lives.
class StderrCapture {
 public:
  StderrCapture();
  ~StderrCapture();
  StderrCapture(const StderrCapture&) = delete;
  StderrCapture& operator=(const StderrCapture&) = delete;
  // What was written so far; standard error goes back to where it was.
  std::string Text();
  std::vector<std::string> Lines();

 private:
  void Restore();
  TempDir dir_;
  std::string path_;
  int saved_ = -1;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);

}  // namespace tptest
