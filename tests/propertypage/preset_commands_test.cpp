// The page's commands against a probe plug-in: the file dialogs as the user sees them, the files
// handed to the instance, the folder remembered in the registry, and the rename dialog. Both
// platforms: on Linux the desktop script answers the dialogs, under Wine the system's own
// dialogs are filled in and confirmed.
#include "propertypage/adapter_property_page.h"
#include "resources/resource_ids.h"
#include "tests/vsthost/probe_harness.h"

#include "desktop_script.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace brvst::test {
namespace {

namespace fs = std::filesystem;

constexpr char kKeyPrefix[] = "Software\\Brimley Music Software\\Brimley VST Adapter\\Plug-Ins\\";
constexpr char kCannotOpen[] = "The file could not be opened.";

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class PresetCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    // Tests of this suite run at once in separate processes: each has a plug-in file name, and
    // so a registry key, and a folder of its own; a file name as long as real ones are.
    const std::string test = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    const auto tag = static_cast<unsigned>(std::hash<std::string>{}(test) % 100000);
    std::snprintf(probe.record.DllFileName, sizeof probe.record.DllFileName,
                  "DragonflyHallReverb-vst-%05u.dll", tag);
    keyName = std::string(kKeyPrefix) + probe.record.DllFileName;
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, keyName.c_str());
    root = fs::temp_directory_path() / ("brvst-" + test);
    fs::remove_all(root);
    fs::create_directories(root / "presets");
    fs::create_directories(root / "other");

    HRESULT hr = S_OK;
    page =
        new AdapterPropertyPage(probe.record.Name, nullptr, &hr, &probe.record.PageClsid, 400, 100);
    page->NonDelegatingAddRef();
    IUnknown* object = static_cast<IBaseFilter*>(probe.filter.get());
    ASSERT_EQ(page->SetObjects(1, &object), S_OK);
  }

  void TearDown() override {
    page->NonDelegatingRelease();
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, keyName.c_str());
    std::error_code ignored;
    fs::remove_all(root, ignored);
  }

  std::string Path(const std::string& relative) const {
    return (root / relative).make_preferred().string();
  }

  // The plug-in's key, with `folder` remembered in it when one is given.
  void CreateKey(const std::string& folder = {}) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyName.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    if (!folder.empty())
      RegSetValueExA(key, "PresetPath", 0, REG_SZ, reinterpret_cast<const BYTE*>(folder.c_str()),
                     static_cast<DWORD>(folder.size() + 1));
    RegCloseKey(key);
  }

  // The remembered folder; "(no key)" or "(no value)" when there is none.
  std::string StoredFolder() const {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyName.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
      return "(no key)";
    char text[300] = {};
    DWORD size = sizeof text - 1;
    const LSTATUS status =
        RegQueryValueExA(key, "PresetPath", nullptr, nullptr, reinterpret_cast<BYTE*>(text), &size);
    RegCloseKey(key);
    return status == ERROR_SUCCESS ? text : "(no value)";
  }

  VstPlugInstance& plugin() const { return probe.plugin(); }

  // Writes what the instance's `save` writes to `path`, as the commands would.
  void SaveTo(void (VstPlugInstance::*save)(FILE*), const std::string& path) const {
    FILE* out = std::fopen(path.c_str(), "wb");
    ASSERT_NE(out, nullptr);
    (plugin().*save)(out);
    std::fclose(out);
  }

  ProbeFilter probe{"probe_effect.dll"};
  std::string keyName;
  fs::path root;
  AdapterPropertyPage* page = nullptr;
};

TEST_F(PresetCommands, LoadPresetStartsInTheRememberedFolderAndRemembersTheNewOne) {
  const std::string preset = Path("other/a.fxp");
  SaveTo(&VstPlugInstance::SavePreset, preset);
  const float saved = plugin().GetParameter(0);
  plugin().SetParameter(0, 0.875f);
  CreateKey(Path("presets"));

  DesktopScript script;
  script.Queue(Answer::File(preset));
  page->OnLoadPreset();

  const auto shown = script.shown();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].kind, Shown::Kind::FileDialog);
  EXPECT_EQ(shown[0].caption, "Load VST Preset...");
  EXPECT_EQ(shown[0].folder, Path("presets"));
  ASSERT_GE(shown[0].fileTypes.size(), 2u);
  EXPECT_EQ(shown[0].fileTypes[0], "Settings (*.fxp)");
  EXPECT_EQ(shown[0].fileTypes[1], "All Files (*.*)");
  EXPECT_FLOAT_EQ(plugin().GetParameter(0), saved);
  EXPECT_EQ(StoredFolder(), Path("other"));
}

TEST_F(PresetCommands, SavesAppendTheExtensionToEveryName) {
  CreateKey();
  DesktopScript script;
  script.Queue(Answer::File(Path("presets/mine")));
  page->OnSavePreset();
  script.Queue(Answer::File(Path("presets/mine.fxp")));
  page->OnSavePreset();
  script.Queue(Answer::File(Path("other/all")));
  page->OnSaveBank();

  const auto shown = script.shown();
  ASSERT_EQ(shown.size(), 3u);
  EXPECT_EQ(shown[0].caption, "Save settings as...");
  EXPECT_EQ(shown[2].caption, "Save settings as...");
  ASSERT_FALSE(shown[2].fileTypes.empty());
  EXPECT_EQ(shown[2].fileTypes[0], "Settings (*.fxb)");
  // The second save starts where the first one saved.
  EXPECT_EQ(shown[1].folder, Path("presets"));
  EXPECT_EQ(ReadFile(Path("presets/mine.fxp")).substr(0, 4), "CcnK");
  EXPECT_EQ(ReadFile(Path("presets/mine.fxp.fxp")).substr(0, 4), "CcnK");
  EXPECT_FALSE(fs::exists(Path("presets/mine.fxp.fxp.fxp")));
  const std::string bank = ReadFile(Path("other/all.fxb"));
  ASSERT_GE(bank.size(), 12u);
  EXPECT_EQ(bank.substr(8, 4), "FxBk");
  EXPECT_EQ(StoredFolder(), Path("other"));
}

TEST_F(PresetCommands, LoadBankTakesAFileChosenUnderAllFiles) {
  const std::string bank = Path("other/bank.dat");
  SaveTo(&VstPlugInstance::SaveBank, bank);
  const float saved = plugin().GetParameter(1);
  plugin().SetParameter(1, 0.125f);

  DesktopScript script;
  script.Queue(Answer::File(bank).WithFileType(2));
  page->OnLoadBank();

  const auto shown = script.shown();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].caption, "Load VST Bank...");
  ASSERT_EQ(shown[0].fileTypes.size(), 2u);
  EXPECT_EQ(shown[0].fileTypes[0], "Settings (*.fxb)");
  EXPECT_FLOAT_EQ(plugin().GetParameter(1), saved);
}

TEST_F(PresetCommands, WithoutTheKeyNoFolderIsOfferedOrStored) {
  DesktopScript script;
  script.Queue(Answer::File(Path("other/x")));
  page->OnSavePreset();
  ASSERT_EQ(script.shown().size(), 1u);
  // Windows then shows a folder of its own choosing.
  if (!RealWindows()) {
    EXPECT_EQ(script.shown()[0].folder, "");
  }
  EXPECT_TRUE(fs::exists(Path("other/x.fxp")));
  EXPECT_EQ(StoredFolder(), "(no key)");
}

TEST_F(PresetCommands, CancelChangesNothing) {
  CreateKey(Path("presets"));
  const float before = plugin().GetParameter(0);
  DesktopScript script;
  script.Queue(Answer::Cancel());
  page->OnLoadPreset();
  script.Queue(Answer::Cancel());
  page->OnSaveBank();
  const auto shown = script.shown();
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[1].kind, Shown::Kind::FileDialog);
  EXPECT_TRUE(fs::is_empty(root / "presets"));
  EXPECT_FLOAT_EQ(plugin().GetParameter(0), before);
  EXPECT_EQ(StoredFolder(), Path("presets"));
}

TEST_F(PresetCommands, AFileThatCannotBeOpenedIsReportedAndNotHandedOn) {
  if (RealWindows()) GTEST_SKIP() << "the system's dialog refuses a folder that does not exist";
  CreateKey(Path("presets"));
  const float before = plugin().GetParameter(0);
  DesktopScript script;
  // A folder that does not exist: the file can be neither read nor created.
  script.Queue(Answer::File(Path("missing/a.fxp")));
  page->OnLoadPreset();
  script.Queue(Answer::File(Path("missing/b")));
  page->OnSaveBank();

  std::vector<std::string> messages;
  for (const Shown& s : script.shown())
    if (s.kind == Shown::Kind::Box) messages.push_back(s.text);
  EXPECT_EQ(messages, (std::vector<std::string>{kCannotOpen, kCannotOpen}));
  EXPECT_FALSE(fs::exists(Path("missing")));
  EXPECT_FLOAT_EQ(plugin().GetParameter(0), before);
  EXPECT_EQ(StoredFolder(), Path("presets"));
}

TEST_F(PresetCommands, AFileThatIsNoPresetIsReportedByTheInstanceAndItsFolderKept) {
  CreateKey();
  std::ofstream(Path("other/text.fxp"), std::ios::binary) << "not a preset at all, but long enough";
  DesktopScript script;
  script.Queue(Answer::File(Path("other/text.fxp")));
  page->OnLoadPreset();
  const auto shown = script.shown();
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[1].kind, Shown::Kind::Box);
  EXPECT_EQ(shown[1].caption, "VST Adapter Error");
  EXPECT_NE(shown[1].text, kCannotOpen);
  EXPECT_EQ(StoredFolder(), Path("other"));
}

TEST_F(PresetCommands, RenameShowsTheCurrentNameAndKeepsTwentyThreeCharacters) {
  plugin().SetProgram(1);
  probe.hold.Reset();
  DesktopScript script;
  script.Queue(Answer::Ok().Typing(IDC_PROGRAM_NAME, "abcdefghijklmnopqrstuvwxyz1234"));
  page->OnProgramName(nullptr);
  // Unchanged: the name is set all the same.
  script.Queue(Answer::Ok());
  page->OnProgramName(nullptr);

  const auto shown = script.shown();
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0].caption, "Program name");
  ASSERT_NE(shown[0].Control(IDC_PROGRAM_NAME), nullptr);
  EXPECT_EQ(shown[0].Control(IDC_PROGRAM_NAME)->text, "Bright");
  EXPECT_EQ(shown[1].Control(IDC_PROGRAM_NAME)->text, "abcdefghijklmnopqrstuvw");

  std::vector<std::string> names;
  for (const auto& entry : probe.hold.Entries(probe::kProbeDispatch))
    if (entry.opcode == vst2::effSetProgramName) {
      EXPECT_EQ(entry.index, 1);
      names.push_back(entry.text);
    }
  EXPECT_EQ(names,
            (std::vector<std::string>{"abcdefghijklmnopqrstuvw", "abcdefghijklmnopqrstuvw"}));
  char current[64];
  plugin().GetProgramName(1, current);
  EXPECT_STREQ(current, "abcdefghijklmnopqrstuvw");
}

TEST_F(PresetCommands, DoNothingWithoutAFilter) {
  CreateKey(Path("presets"));
  IUnknown* object = static_cast<IBaseFilter*>(probe.filter.get());
  ASSERT_EQ(page->SetObjects(0, &object), S_OK);
  probe.hold.Reset();
  DesktopScript script;
  page->OnLoadPreset();
  page->OnSavePreset();
  page->OnLoadBank();
  page->OnSaveBank();
  page->OnProgramName(nullptr);
  EXPECT_TRUE(script.shown().empty());
  EXPECT_EQ(probe.hold.Log().count, 0u);
  EXPECT_EQ(StoredFolder(), Path("presets"));
}

}  // namespace
}  // namespace brvst::test
