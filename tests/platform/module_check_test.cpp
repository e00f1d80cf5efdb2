// Modules that fault while they load, on both platforms: on Linux against our loader and its
// helper process, under Wine against the system's loader, which contains such a fault itself.
#include "platform/module_check.h"
#include "platform/fault_trap.h"
#include "platform/platform.h"
#include "within_time_limit.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace brvst::platform {
namespace {

using testing::AnyOf;

std::string InBin(const char* file) {
  return std::string(BRVST_BIN_DIR) + kPathSeparator + file;
}

// The load inside a fault trap, as a cautious host might place it: on Linux a trapped fault in
// the module's initialisation would leave the dynamic linker's lock held.
TEST(ModuleCheck, AModuleFaultingWhileItLoadsFailsAndLoadingGoesOn) {
  HMODULE module = nullptr;
  DWORD error = 0;
  const Fault fault = FaultTrap([&] {
    SetLastError(0);
    module = LoadLibraryA(InBin("probe_fault_load.dll").c_str());
    error = GetLastError();
  });
  EXPECT_EQ(fault, Fault::None) << FaultName(fault);
  EXPECT_EQ(module, nullptr);
  // Windows documents the failed load, and ERROR_DLL_INIT_FAILED for an entry point that fails;
  // Wine answers a fault inside one with the fault's own code, ERROR_NOACCESS. Our loader gives
  // ERROR_DLL_INIT_FAILED (posix_module_check_test holds it to exactly that).
  EXPECT_THAT(error,
              AnyOf(static_cast<DWORD>(ERROR_DLL_INIT_FAILED), static_cast<DWORD>(ERROR_NOACCESS)));

  // Another thread loads, resolves and frees a module: every step takes the loader's lock.
  const bool worked = WithinTimeLimit([] {
    HMODULE other = LoadLibraryA(InBin("probe_effect.dll").c_str());
    const bool found = other != nullptr && GetProcAddress(other, "main") != nullptr;
    return found && FreeLibrary(other) != FALSE;
  });
  EXPECT_TRUE(worked);
}

TEST(ModuleCheck, Verdicts) {
  const std::string junk = InBin("module_check_junk.dll");
  std::ofstream(junk) << "this is no module\n";
  struct Case {
    std::string path;
    ModuleLoad verdict;
  } const cases[] = {
      {InBin("probe_effect.dll"), ModuleLoad::Loads},
      {InBin("probe_fault_load.dll"), ModuleLoad::InitFails},
      {InBin("no_such_module.dll"), ModuleLoad::Fails},
      {junk, ModuleLoad::Fails},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    const ModuleCheck check = WithinTimeLimit([&] { return CheckModuleLoads(c.path.c_str()); });
    EXPECT_EQ(check.verdict, c.verdict) << check.message;
    // A failure says why, for the report the user sees.
    EXPECT_EQ(check.message.empty(), c.verdict == ModuleLoad::Loads) << check.message;
  }
  std::filesystem::remove(junk);
}

}  // namespace
}  // namespace brvst::platform
