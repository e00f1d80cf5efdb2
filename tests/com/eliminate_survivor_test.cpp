// EliminateSubKey over a key that cannot be deleted, in a registry of the test's own (Linux).
#include "com/registration.h"

#include "registry_keys.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace brvst {
namespace {

using test::CreateKey;
using test::KeyExists;

// Our registry refuses to delete its predefined keys, as Windows refuses a key one may not
// delete: HKEY_LOCAL_MACHINE\Software\Classes survives, and the walk goes on past it. In a
// registry of the test's own.
TEST(EliminateSubKey, ASubkeyThatSurvivesItsDeletionEndsTheWalkOverIt) {
  const char* saved = std::getenv("BRVST_REGISTRY");
  const std::string savedPath = saved != nullptr ? saved : "";
  const std::string own = std::string(BRVST_BIN_DIR) + "/eliminate-test.reg";
  std::remove(own.c_str());
  setenv("BRVST_REGISTRY", own.c_str(), 1);
  CreateKey(HKEY_LOCAL_MACHINE, "Software\\A");
  CreateKey(HKEY_LOCAL_MACHINE, "Software\\Classes\\CLSID\\x");
  CreateKey(HKEY_LOCAL_MACHINE, "Software\\Z\\y");
  EXPECT_EQ(EliminateSubKey(HKEY_LOCAL_MACHINE, "Software"), S_OK);
  const bool leftA = KeyExists(HKEY_LOCAL_MACHINE, "Software\\A");
  const bool leftZ = KeyExists(HKEY_LOCAL_MACHINE, "Software\\Z");
  const bool leftClasses = KeyExists(HKEY_LOCAL_MACHINE, "Software\\Classes");
  const bool leftClassIds = KeyExists(HKEY_CLASSES_ROOT, "CLSID");
  setenv("BRVST_REGISTRY", savedPath.c_str(), 1);
  std::remove(own.c_str());
  EXPECT_FALSE(leftA);
  EXPECT_FALSE(leftZ) << "keys after the survivor are deleted too";
  EXPECT_TRUE(leftClasses);
  EXPECT_FALSE(leftClassIds);
}

}  // namespace
}  // namespace brvst
