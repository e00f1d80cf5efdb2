// The module loader, on both platforms: load, resolve, free, failures and file names.
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>

namespace {

constexpr char kModuleName[] = "platform_test_module.dll";

std::string ExecutablePath() {
  char path[1024];
  const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  return std::string(path, length);
}

std::string OurFolder() {
  const std::string path = ExecutablePath();
  return path.substr(0, path.rfind(kPathSeparator) + 1);
}

// A loaded module, freed at the end of the scope.
struct Library {
  explicit Library(const std::string& path) : handle(LoadLibraryA(path.c_str())) {}
  ~Library() {
    if (handle != nullptr) FreeLibrary(handle);
  }
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;
  template <class Function>
  Function Get(const char* name) const {
    // Through void (*)(), the type every function pointer may be cast to without a warning.
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(handle, name)));
  }
  HMODULE handle;
};

TEST(Loader, LoadsResolvesAndFreesAModuleDrivingItsDllMain) {
  const std::string path = OurFolder() + kModuleName;
  auto module = std::make_unique<Library>(path);
  ASSERT_NE(module->handle, nullptr) << path << ", error " << GetLastError();
  auto attachCount = module->Get<int (*)()>("TestModuleAttachCount");
  auto instance = module->Get<HINSTANCE (*)()>("TestModuleInstance");
  auto onDetach = module->Get<void (*)(int*)>("TestModuleOnDetach");
  auto attachPath = module->Get<const char* (*)()>("TestModuleAttachPath");
  ASSERT_NE(attachCount, nullptr);
  ASSERT_NE(attachPath, nullptr);
  ASSERT_NE(instance, nullptr);
  ASSERT_NE(onDetach, nullptr);
  EXPECT_EQ(attachCount(), 1);
  EXPECT_EQ(instance(), module->handle);  // DllMain sees the handle LoadLibraryA returns
  EXPECT_EQ(std::string(attachPath()), path);

  // A second load finds the loaded module: same handle, no second attach.
  {
    Library again(path);
    EXPECT_EQ(again.handle, module->handle);
    EXPECT_EQ(attachCount(), 1);
  }
  EXPECT_EQ(GetModuleHandleA(kModuleName), module->handle);

  int detached = 0;
  onDetach(&detached);
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

  Library module(OurFolder() + kModuleName);
  ASSERT_NE(module.handle, nullptr);
  SetLastError(0);
  EXPECT_EQ(GetProcAddress(module.handle, "NoSuchExport"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
  // Only the module's own exports: not what its dependencies define.
  EXPECT_EQ(GetProcAddress(module.handle, "malloc"), nullptr);
}

TEST(Loader, ModuleFileNamesAreFullPathsAndCutToTheBuffer) {
  const std::string self = ExecutablePath();
  ASSERT_FALSE(self.empty());
  EXPECT_NE(self.find("platform_loader_test"), std::string::npos) << self;
  char path[1024];
  EXPECT_EQ(GetModuleFileNameA(GetModuleHandleA(nullptr), path, sizeof path), self.size());
  EXPECT_EQ(path, self);

  Library module(OurFolder() + kModuleName);
  ASSERT_NE(module.handle, nullptr);
  const DWORD length = GetModuleFileNameA(module.handle, path, sizeof path);
  EXPECT_EQ(std::string(path, length), OurFolder() + kModuleName);

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
