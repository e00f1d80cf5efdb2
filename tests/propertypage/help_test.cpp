// Help: the HTML Help control found through the registry (or by its file name), HtmlHelpA found
// by ordinal 14 on the first request, the help file asked for beside the adapter, no new attempt
// once that failed; and the compiled help file the Windows builds ship.
#include "propertypage/help.h"
#include "com/plugin_list.h"
#include "propertypage/help_testing.h"
#include "tests/propertypage/help_probe.h"
#include "tests/vsthost/probe_harness.h"

#include <gtest/gtest.h>

#include <cctype>
#include <fstream>
#include <iterator>
#include <string>

namespace brvst::test {
namespace {

constexpr char kControlKey[] = "CLSID\\{ADB880A6-D8FF-11CF-9377-00AA003B7A11}\\InprocServer32";
constexpr UINT kCloseAll = 0x12;  // HH_CLOSE_ALL: shows nothing

bool RealWindows() {
  return kPathSeparator == '\\';
}

// The registered HTML Help control for the test's length; what was there before comes back.
class RegisteredControl {
 public:
  RegisteredControl() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, kControlKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return;
    char value[MAX_PATH + 1] = {};
    DWORD size = MAX_PATH;
    had_ = RegQueryValueExA(key, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(value),
                            &size) == ERROR_SUCCESS;
    previous_ = value;
    RegCloseKey(key);
  }
  ~RegisteredControl() {
    if (had_)
      Set(previous_);
    else
      RegDeleteKeyA(HKEY_CLASSES_ROOT, kControlKey);
  }
  RegisteredControl(const RegisteredControl&) = delete;
  RegisteredControl& operator=(const RegisteredControl&) = delete;

  // The file registered before the test ("" when there was none).
  const std::string& previous() const { return previous_; }

  void Set(const std::string& path) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, kControlKey, 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(path.c_str()),
                   static_cast<DWORD>(path.size() + 1));
    RegCloseKey(key);
  }

 private:
  bool had_ = false;
  std::string previous_;
};

// The registry entry is shared: one test walks through every case in turn.
TEST(Help, LoadsTheControlOnceAndAsksForTheFileBesideTheAdapter) {
  SetModuleInstance(GetModuleHandleA(nullptr));
  RegisteredControl registered;
  const std::string probePath = BinPath("help_probe.dll");
  ModuleHold probe(probePath);
  auto getState =
      ProcAddressAs<HelpProbeGetStateProc>(GetProcAddress(probe.module(), kHelpProbeGetStateName));
  ASSERT_NE(getState, nullptr);
  const HelpProbeState& state = *getState();

  if (RealWindows()) {
    SCOPED_TRACE("the system's own registration");
    std::string registeredFile = registered.previous();
    for (char& c : registeredFile)
      c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_NE(registeredFile.find("hhctrl.ocx"), std::string::npos) << registeredFile;
    ResetHelpForTesting();
    CallHtmlHelp(nullptr, nullptr, kCloseAll, 0);
    HMODULE system = GetModuleHandleA("hhctrl.ocx");
    ASSERT_NE(system, nullptr);
    EXPECT_EQ(HelpStateForTesting().module, system);
    EXPECT_EQ(HelpStateForTesting().entry,
              reinterpret_cast<void*>(GetProcAddress(system, MAKEINTRESOURCEA(14))));
  }
  {
    SCOPED_TRACE("the registered control");
    ResetHelpForTesting();
    registered.Set(probePath);
    ShowAdapterHelp();
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, sizeof self);
    std::string expected = self;
    expected = expected.substr(0, expected.rfind(kPathSeparator) + 1) + "brvst.chm";
    EXPECT_EQ(state.calls, 1);
    EXPECT_EQ(std::string(state.file), expected);
    EXPECT_EQ(state.command, 0u);  // HH_DISPLAY_TOPIC
    EXPECT_EQ(state.data, 0u);
    EXPECT_EQ(state.caller, GetDesktopWindow());
    // Later requests go straight to the entry found the first time.
    EXPECT_EQ(CallHtmlHelp(nullptr, "other.chm", 7, 9), kHelpProbeWindow);
    EXPECT_EQ(state.calls, 2);
    EXPECT_EQ(state.command, 7u);
    EXPECT_EQ(state.data, 9u);
    const HelpState help = HelpStateForTesting();
    EXPECT_EQ(help.module, probe.module());
    EXPECT_EQ(help.entry,
              reinterpret_cast<void*>(GetProcAddress(probe.module(), MAKEINTRESOURCEA(14))));
  }
  {
    SCOPED_TRACE("a control without HtmlHelpA");
    ResetHelpForTesting();
    registered.Set(BinPath("probe_effect.dll"));
    EXPECT_EQ(CallHtmlHelp(nullptr, "a.chm", 0, 0), nullptr);
    EXPECT_TRUE(HelpStateForTesting().unavailable);
    // Help stays unavailable, even once a working control is registered.
    registered.Set(probePath);
    EXPECT_EQ(CallHtmlHelp(nullptr, "a.chm", 0, 0), nullptr);
    ShowAdapterHelp();
    EXPECT_EQ(state.calls, 2);
  }
  {
    SCOPED_TRACE("a registered file that does not load");
    ResetHelpForTesting();
    registered.Set(BinPath("no_such_help_control.dll"));
    CallHtmlHelp(nullptr, nullptr, kCloseAll, 0);
    const HelpState help = HelpStateForTesting();
    EXPECT_EQ(state.calls, 2);
    if (RealWindows()) {
      // The system's control, found by its file name.
      HMODULE system = GetModuleHandleA("hhctrl.ocx");
      ASSERT_NE(system, nullptr);
      EXPECT_EQ(help.module, system);
      EXPECT_EQ(help.entry, reinterpret_cast<void*>(GetProcAddress(system, MAKEINTRESOURCEA(14))));
      EXPECT_FALSE(help.unavailable);
    } else {
      // Linux has no HTML Help control: help is off for good.
      EXPECT_EQ(help.module, nullptr);
      EXPECT_TRUE(help.unavailable);
    }
  }
  ResetHelpForTesting();
}

TEST(HelpFile, IsACompiledHelpFileHoldingItsPages) {
  if (!RealWindows()) GTEST_SKIP() << "the help file ships with the Windows builds";
  std::ifstream in(BinPath("brvst.chm"), std::ios::binary);
  const std::string chm{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  ASSERT_GE(chm.size(), 96u);
  EXPECT_EQ(chm.substr(0, 4), "ITSF");
  // The directory names every page, uncompressed.
  for (const char* page : {"/index.html", "/registering.html", "/page.html", "/presets.html"})
    EXPECT_NE(chm.find(page), std::string::npos) << page;
}

}  // namespace
}  // namespace brvst::test
