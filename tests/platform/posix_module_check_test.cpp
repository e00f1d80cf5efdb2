// The helper process behind the module check and LoadLibraryA: what is kept, what is checked
// again, what the helper is given, and what happens when it is missing, hangs, or is reaped by
// the host.
#include "platform/module_check.h"
#include "platform/platform.h"
#include "platform/posix/module_check_testing.h"
#include "within_time_limit.h"

#include <dlfcn.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <latch>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace brvst::platform {
namespace {

namespace fs = std::filesystem;
using testing::HasSubstr;

constexpr char kBehaviourVariable[] = "BRVST_LOADCHECK_MODULE";

// Each test works on copies in a folder of its own: a copy is a file no check has seen yet.
class PosixModuleCheck : public testing::Test {
 protected:
  void SetUp() override {
    folder_ =
        fs::temp_directory_path() / ("brvst_module_check_" + std::to_string(getpid()) + "_" +
                                     testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(folder_);
  }
  void TearDown() override {
    unsetenv(kBehaviourVariable);
    SetModuleCheckHelperForTesting(nullptr);
    SetModuleCheckTimeoutForTesting(kModuleCheckTimeout);
    fs::remove_all(folder_);
  }

  // A copy of a module of the bin folder, under `name` in the test's folder.
  std::string Copy(const char* module, const std::string& name) {
    const fs::path to = folder_ / name;
    fs::copy_file(fs::path(BRVST_BIN_DIR) / module, to, fs::copy_options::overwrite_existing);
    return to.string();
  }

  fs::path folder_;
};

// LoadLibraryA refuses the module as one whose initialisation fails, as Windows does.
void ExpectInitFails(const std::string& path) {
  SetLastError(0);
  EXPECT_EQ(LoadLibraryA(path.c_str()), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DLL_INIT_FAILED));
}

TEST_F(PosixModuleCheck, EachFileIsCheckedOnceUntilItChanges) {
  const std::string plugin = Copy("probe_fault_load.dll", "plugin.dll");
  const unsigned before = ModuleChecksStarted();
  ExpectInitFails(plugin);
  ExpectInitFails(plugin);
  EXPECT_EQ(CheckModuleLoads(plugin.c_str()).verdict, ModuleLoad::InitFails);
  EXPECT_EQ(ModuleChecksStarted(), before + 1);

  // Touched: the same bytes are checked again.
  fs::last_write_time(plugin, fs::last_write_time(plugin) + std::chrono::seconds(1));
  EXPECT_EQ(CheckModuleLoads(plugin.c_str()).verdict, ModuleLoad::InitFails);
  EXPECT_EQ(ModuleChecksStarted(), before + 2);

  // Replaced, as an installer replaces a file, by a module that loads.
  fs::rename(Copy("probe_effect.dll", "staged.dll"), plugin);
  HMODULE module = LoadLibraryA(plugin.c_str());
  ASSERT_NE(module, nullptr) << GetLastError();
  EXPECT_NE(GetProcAddress(module, "main"), nullptr);
  EXPECT_EQ(ModuleChecksStarted(), before + 3);
  FreeLibrary(module);
  // Unloaded, then loaded again on the kept verdict.
  module = LoadLibraryA(plugin.c_str());
  EXPECT_NE(module, nullptr);
  EXPECT_EQ(ModuleChecksStarted(), before + 3);
  FreeLibrary(module);
}

// Named for the ThreadSanitizer preset, which runs the concurrency tests.
class PosixModuleCheckConcurrency : public PosixModuleCheck {};

TEST_F(PosixModuleCheckConcurrency, ChecksOfOneFileShareOneHelper) {
  const std::string plugin = Copy("probe_effect.dll", "plugin.dll");
  const unsigned before = ModuleChecksStarted();
  constexpr int kThreads = 4;
  std::latch start(kThreads);
  std::vector<ModuleLoad> verdicts(kThreads, ModuleLoad::Unchecked);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i)
    threads.emplace_back([&, i] {
      start.arrive_and_wait();
      verdicts[i] = CheckModuleLoads(plugin.c_str()).verdict;
    });
  for (std::thread& thread : threads) thread.join();
  EXPECT_THAT(verdicts, testing::Each(ModuleLoad::Loads));
  EXPECT_EQ(ModuleChecksStarted(), before + 1);
}

TEST_F(PosixModuleCheck, ALoadedModuleIsNotChecked) {
  const std::string plugin = Copy("probe_effect.dll", "plugin.dll");
  void* loaded = dlopen(plugin.c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(loaded, nullptr) << dlerror();
  const unsigned before = ModuleChecksStarted();
  HMODULE module = LoadLibraryA(plugin.c_str());
  EXPECT_EQ(module, static_cast<HMODULE>(loaded));
  EXPECT_EQ(ModuleChecksStarted(), before);
  FreeLibrary(module);
  dlclose(loaded);
}

TEST_F(PosixModuleCheck, WithoutItsHelperModulesLoadUncheckedAndAreCheckedLater) {
  SetModuleCheckHelperForTesting((folder_ / "brvst-loadcheck").c_str());  // nothing there
  const std::string plugin = Copy("probe_effect.dll", "plugin.dll");
  const unsigned before = ModuleChecksStarted();
  const ModuleCheck check = CheckModuleLoads(plugin.c_str());
  EXPECT_EQ(check.verdict, ModuleLoad::Unchecked);
  EXPECT_THAT(check.message, HasSubstr("brvst-loadcheck"));
  HMODULE module = LoadLibraryA(plugin.c_str());
  ASSERT_NE(module, nullptr) << GetLastError();
  EXPECT_NE(GetProcAddress(module, "main"), nullptr);
  FreeLibrary(module);
  EXPECT_EQ(ModuleChecksStarted(), before);

  SetModuleCheckHelperForTesting(nullptr);
  EXPECT_EQ(CheckModuleLoads(plugin.c_str()).verdict, ModuleLoad::Loads);
  EXPECT_EQ(ModuleChecksStarted(), before + 1);
}

// A host with descriptors open that are not close-on-exec, as hosts often have: the helper gets
// none of them, only /dev/null for its standard streams and the report pipe; and it runs in the
// host's environment, which is how the module learns what to do here.
TEST_F(PosixModuleCheck, TheHelperGetsTheHostsEnvironmentAndNoneOfItsDescriptors) {
  int stray[2];
  ASSERT_EQ(pipe(stray), 0);
  const fs::path report = folder_ / "descriptors.txt";
  setenv(kBehaviourVariable, ("report:" + report.string()).c_str(), 1);
  EXPECT_EQ(CheckModuleLoads(Copy("loadcheck_module.dll", "reporter.dll").c_str()).verdict,
            ModuleLoad::Loads);
  close(stray[0]);
  close(stray[1]);

  std::ostringstream written;
  written << std::ifstream(report).rdbuf();
  EXPECT_THAT(written.str(), testing::MatchesRegex(
                                 "0 /dev/null\n1 /dev/null\n2 /dev/null\n3 pipe:\\[[0-9]+\\]\n"));
}

TEST_F(PosixModuleCheck, AModuleThatHangsWhileLoadingIsGivenUpAndItsHelperReaped) {
  SetModuleCheckTimeoutForTesting(std::chrono::milliseconds(500));
  setenv(kBehaviourVariable, "hang", 1);
  const std::string plugin = Copy("loadcheck_module.dll", "hangs.dll");
  const ModuleCheck check = WithinTimeLimit([&] { return CheckModuleLoads(plugin.c_str()); });
  EXPECT_EQ(check.verdict, ModuleLoad::InitFails);
  EXPECT_THAT(check.message, HasSubstr("did not finish loading"));
  ExpectInitFails(plugin);
  // No helper is left, not even as a zombie.
  errno = 0;
  EXPECT_EQ(waitpid(-1, nullptr, WNOHANG), -1);
  EXPECT_EQ(errno, ECHILD);
}

// A host that ignores SIGCHLD has its children reaped by the system, so waitpid never sees the
// helper's status; the report alone must carry the verdict.
TEST_F(PosixModuleCheck, AHostThatLeavesNoChildToWaitForStillGetsVerdicts) {
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  struct sigaction previous {};
  ASSERT_EQ(sigaction(SIGCHLD, &ignore, &previous), 0);
  const std::string files[] = {Copy("probe_effect.dll", "good.dll"),
                               Copy("probe_fault_load.dll", "bad.dll")};
  const auto [good, bad] = WithinTimeLimit([&] {
    return std::pair(CheckModuleLoads(files[0].c_str()), CheckModuleLoads(files[1].c_str()));
  });
  sigaction(SIGCHLD, &previous, nullptr);
  EXPECT_EQ(good.verdict, ModuleLoad::Loads);
  EXPECT_EQ(bad.verdict, ModuleLoad::InitFails);
}

}  // namespace
}  // namespace brvst::platform
