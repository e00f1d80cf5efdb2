// Every test process keeps its keys in a registry file of its own: CTest runs tests in parallel,
// and one test unregistering the adapter must not pull the keys from under another that has just
// registered it. Child processes (the command-line tools a test starts) inherit the file.
// The user's configuration folder is one of the build's too, so that a plug-in list of the
// user's never joins the adapter's record in a test.

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
  std::atexit([] {
    std::remove(OwnRegistry().c_str());
    std::remove((OwnRegistry() + ".lock").c_str());
  });
  return true;
}();

}  // namespace
