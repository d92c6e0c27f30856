#include "support/TestEnvironment.h"

#include <cstdlib>
#include <stdexcept>

namespace tptest {

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

static std::string Made(const std::string& path) {
  fs::create_directories(path);
  return path;
}

IsolatedVolume::IsolatedVolume(const std::string& root)
    : volume(Made(root + "/volume")),
      preferences(Made(root + "/preferences")),
      volumeEnv_("TALLYPOINT_STARTUP_VOLUME", volume),
      preferencesEnv_("XDG_CONFIG_HOME", preferences) {}

}  // namespace tptest
