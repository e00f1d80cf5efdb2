// Every test process keeps its keys in a registry file of its own: CTest runs tests in parallel,
// and one test unregistering the adapter must not pull the keys from under another that has just
// registered it. Child processes (the command-line tools a test starts) inherit the file.
// The user's configuration folder is one of the build's too, and so is the plug-in list, so that
// neither a user's list nor one a scan left beside the build's adapter joins a test.

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string& OwnRegistry() {
  static std::string path;
  return path;
}

const bool kOwnRegistry = [] {
  std::string& path = OwnRegistry();
  path = std::string(BRVST_TEST_REGISTRY_DIR) + "/test-registry-" + std::to_string(::getpid()) +
         ".reg";
  std::remove(path.c_str());  // a file left by a crashed process of the same id
  ::setenv("BRVST_REGISTRY", path.c_str(), 1);
  ::setenv("XDG_CONFIG_HOME", (std::string(BRVST_TEST_REGISTRY_DIR) + "/test-config").c_str(), 1);
  // Nor a list a user's scan left beside the build's adapter.
  ::setenv("BRVST_PLUGIN_LIST",
           (std::string(BRVST_TEST_REGISTRY_DIR) + "/test-config/brvst/brvst-plugins.ini").c_str(),
           1);
  std::atexit([] {
    std::remove(OwnRegistry().c_str());
    std::remove((OwnRegistry() + ".lock").c_str());
  });
  return true;
}();

}  // namespace
