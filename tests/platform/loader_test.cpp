// The module loader, on both platforms: load, resolve, free, failures and file names.
#include "platform/platform.h"
#include "test_module.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <type_traits>

namespace {

constexpr char kModuleName[] = "platform_test_module.dll";

std::string ExecutablePath() {
  char path[1024];
  return std::string(path, GetModuleFileNameA(nullptr, path, sizeof path));
}

std::string OurFolder() {
  const std::string path = ExecutablePath();
  return path.substr(0, path.rfind(kPathSeparator) + 1);
}

// A loaded module, freed at the end of the scope.
using Library = std::unique_ptr<std::remove_pointer_t<HMODULE>, decltype(&FreeLibrary)>;

Library Load(const std::string& path) {
  return Library(LoadLibraryA(path.c_str()), FreeLibrary);
}

TEST(Loader, LoadsResolvesAndFreesAModuleDrivingItsDllMain) {
  const std::string path = OurFolder() + kModuleName;
  Library module = Load(path);
  ASSERT_NE(module, nullptr) << path << ", error " << GetLastError();
  auto getState =
      ProcAddressAs<TestModuleGetStateFn>(GetProcAddress(module.get(), "TestModuleGetState"));
  ASSERT_NE(getState, nullptr);
  TestModuleState& state = *getState();
  EXPECT_EQ(state.attachCount, 1);
  EXPECT_EQ(state.attachInstance, module.get());  // DllMain sees what LoadLibraryA returns
  EXPECT_EQ(std::string(state.attachPath), path);

  // A second load finds the loaded module: same handle, no second attach.
  EXPECT_EQ(Load(path).get(), module.get());
  EXPECT_EQ(state.attachCount, 1);
  EXPECT_EQ(GetModuleHandleA(kModuleName), module.get());

  int detached = 0;
  state.detachFlag = &detached;
  module.reset();
  EXPECT_EQ(detached, 1);
  EXPECT_EQ(GetModuleHandleA(kModuleName), nullptr);
}

TEST(Loader, FailuresSetTheLastError) {
  SetLastError(0);
  EXPECT_EQ(LoadLibraryA((OurFolder() + "no_such_module.dll").c_str()), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));

  const std::string junk = OurFolder() + "platform_loader_junk.dll";
  std::ofstream(junk) << "this is no module\n";
  SetLastError(0);
  EXPECT_EQ(LoadLibraryA(junk.c_str()), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_BAD_EXE_FORMAT));

  const Library module = Load(OurFolder() + kModuleName);
  ASSERT_NE(module, nullptr);
  SetLastError(0);
  EXPECT_EQ(GetProcAddress(module.get(), "NoSuchExport"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
  // Only the module's own exports: not what its dependencies define.
  EXPECT_EQ(GetProcAddress(module.get(), "malloc"), nullptr);
}

TEST(Loader, ModuleFileNamesAreFullPathsAndCutToTheBuffer) {
  const std::string self = ExecutablePath();
  EXPECT_NE(self.find("platform_loader_test"), std::string::npos) << self;

  // A module loaded by a relative path still names itself in full after a change of folder.
  const std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(OurFolder());
  const Library module = Load(std::string(".") + kPathSeparator + kModuleName);
  std::filesystem::current_path(std::filesystem::path(OurFolder()).root_path());
  ASSERT_NE(module, nullptr);
  char path[1024];
  const DWORD length = GetModuleFileNameA(module.get(), path, sizeof path);
  EXPECT_EQ(std::string(path, length), OurFolder() + kModuleName);
  std::filesystem::current_path(previous);

  // A buffer one short: cut, the buffer's size returned, ERROR_INSUFFICIENT_BUFFER. (Windows
  // since Vista also terminates the cut name; Wine, as Windows XP, does not.)
  const auto size = static_cast<DWORD>(self.size());
  std::string cut(self.size() + 8, 'x');
  SetLastError(0);
  EXPECT_EQ(GetModuleFileNameA(nullptr, cut.data(), size), size);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(cut.substr(0, size - 1), self.substr(0, size - 1));
  // Just enough: the whole name and its length.
  EXPECT_EQ(GetModuleFileNameA(nullptr, cut.data(), size + 1), size);
  EXPECT_EQ(std::string(cut.c_str()), self);
}

}  // namespace
