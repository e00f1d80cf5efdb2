// The scanner as a program, over a folder of plug-ins that work, crash, hang, are none or are
// built for another machine: its report, its exit status and the list it writes.
#include "com/class_id.h"
#include "com/plugin_list_file.h"
#include "platform/child_process.h"
#include "tools/scan/scan_platform.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

namespace brvst::scan {
namespace {

namespace fs = std::filesystem;

const fs::path kBin = BRVST_BIN_DIR;

std::string Ext() {
  return CandidateExtension();
}

platform::ChildResult RunScanner(const std::vector<std::string>& arguments) {
  platform::ChildOptions options;
  options.timeoutMs = 60000;
  return platform::RunChild((kBin / BRVST_SCANNER).string(), arguments, options);
}

const ListedPlugin* FindListed(const std::vector<ListedPlugin>& list, const std::string& file) {
  for (const ListedPlugin& l : list) {
    if (fs::path(l.Record.DllPath).filename() == file) return &l;
  }
  return nullptr;
}

bool HasLine(const std::string& output, const std::string& start) {
  std::size_t at = 0;
  while ((at = output.find(start, at)) != std::string::npos) {
    if (at == 0 || output[at - 1] == '\n') return true;
    ++at;
  }
  return false;
}

class ScanFolder : public ::testing::Test {
 protected:
  void SetUp() override {
    // Other builds may run the same tests at the same time.
    root = fs::temp_directory_path() /
           ("brvst-scan-" +
            std::string(testing::UnitTest::GetInstance()->current_test_info()->name()) + "-" +
            std::to_string(std::random_device()()));
    fs::remove_all(root);
    plugins = root / "plugins";
    fs::create_directories(plugins / "sub" / "deeper");
    fs::create_directories(plugins / "dup");
    Copy("probe_effect.dll", "effect" + Ext());
    Copy("probe_synth.dll", "sub/synth" + Ext());
    Copy(BRVST_VID84, "sub/deeper/VID84" + Ext());
    Copy("probe_fault_load.dll", "crash" + Ext());
    Copy("probe_hang.dll", "hang" + Ext());
    Copy("scan_no_entry.dll", "noentry" + Ext());
    Copy("probe_effect.dll", "dup/effect" + Ext());  // same file name and id: a duplicate
    Copy("probe_effect.dll", "effect.txt");          // not a candidate
    std::ofstream(plugins / ("text" + Ext())) << "not a module\n";
    list = root / "list.ini";
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(root, ignored);
  }
  void Copy(const std::string& from, const std::string& to) {
    fs::copy_file(kBin / from, plugins / to, fs::copy_options::overwrite_existing);
  }

  fs::path root;
  fs::path plugins;
  fs::path list;
};

TEST_F(ScanFolder, EveryKindOfPluginReportedAndTheGoodOnesListed) {
  const auto start = std::chrono::steady_clock::now();
  // Three probes at a time: the results come in any order, and are still judged in the order
  // found (the duplicate is the second effect, not the first).
  const platform::ChildResult run =
      RunScanner({"--jobs", "3", "--timeout", "2", "--out", list.string(), plugins.string()});
  const auto took = std::chrono::steady_clock::now() - start;
  ASSERT_EQ(run.end, platform::ChildEnd::Exited) << platform::DescribeChildEnd(run);
  EXPECT_EQ(run.exitCode, 0) << run.output;
  EXPECT_LT(took, std::chrono::seconds(30));  // the hang cost its 2 s, not the default 10
  const std::string& out = run.output;
  const std::string p = plugins.string();
  const std::string sep(1, static_cast<char>(fs::path::preferred_separator));
  EXPECT_TRUE(HasLine(out, "skipped " + p + sep + "crash" + Ext() + ": crashed")) << out;
  EXPECT_TRUE(HasLine(out, "skipped " + p + sep + "hang" + Ext() + ": hung")) << out;
  EXPECT_TRUE(HasLine(out, "skipped " + p + sep + "noentry" + Ext() + ": not a plug-in (no VST 2"))
      << out;
  EXPECT_TRUE(HasLine(out, "skipped " + p + sep + "text" + Ext() + ": not a plug-in")) << out;
  EXPECT_TRUE(
      HasLine(out, "skipped " + p + sep + "dup" + sep + "effect" + Ext() + ": duplicate class id"))
      << out;
  EXPECT_EQ(out.find("effect.txt"), std::string::npos);
  EXPECT_TRUE(HasLine(out, "Wrote 3 plug-ins to " + list.string())) << out;
  EXPECT_EQ(out.substr(out.rfind('\n', out.size() - 2) + 1).rfind("Wrote ", 0),
            0u);  // the last line
  EXPECT_TRUE(HasLine(out, "probe_synth ")) << out;

  const PluginListRead read = ReadPluginListFile(list.string());
  ASSERT_TRUE(read.Found);
  ASSERT_EQ(read.Error, "");
  ASSERT_EQ(read.Records.size(), 3u);
  const ListedPlugin* effect = FindListed(read.Records, "effect" + Ext());
  const ListedPlugin* synth = FindListed(read.Records, "synth" + Ext());
  const ListedPlugin* vid84 = FindListed(read.Records, "VID84" + Ext());
  ASSERT_TRUE(effect && synth && vid84);
  EXPECT_EQ(fs::path(effect->Record.DllPath), plugins / ("effect" + Ext()));
  EXPECT_STREQ(effect->Record.Name, "probe_effect");
  EXPECT_EQ(effect->Vendor, "Brimley Probes");
  const GUID filter = FilterClassIdFor("effect" + Ext(), effect->Record.UniqueId);
  EXPECT_EQ(std::memcmp(&effect->Record.FilterClsid, &filter, sizeof filter), 0);
  EXPECT_EQ(effect->Record.IsSoftSynth, 0);
  EXPECT_EQ(effect->Record.StereoOnly, 1);
  EXPECT_EQ(effect->Record.RegisterEnabled, 1);
  EXPECT_EQ(effect->Parameters, 4);
  EXPECT_EQ(effect->Programs, 3);
  EXPECT_EQ(synth->Record.IsSoftSynth, 1);
  EXPECT_EQ(synth->Record.StereoOnly, 0);  // no inputs: mono allowed
  EXPECT_EQ(vid84->Record.UniqueId, 0x50533853);
}

TEST_F(ScanFolder, WrongArchitectureIsToldApartFromNoModule) {
  // A module for this system but the other processor (Linux), or for the other system (Windows,
  // where a Linux library is that).
  const char* foreign = NativeModuleFormat() == BinaryFormat::Elf
                            ? "/usr/lib/i386-linux-gnu/libc.so.6"
                            : "Z:/usr/lib/x86_64-linux-gnu/libc.so.6";
  if (!fs::exists(foreign)) GTEST_SKIP() << foreign << " is not installed (package libc6:i386)";
  fs::path only = root / "foreign";
  fs::create_directories(only);
  fs::copy_file(foreign, only / ("libc32" + Ext()));
  const platform::ChildResult run = RunScanner({"--out", list.string(), only.string()});
  ASSERT_EQ(run.end, platform::ChildEnd::Exited);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_NE(run.output.find("libc32" + Ext() + ": wrong architecture (a module for ELF "),
            std::string::npos)
      << run.output;
}

TEST_F(ScanFolder, RescanKeepsTheUsersChoiceAndMarksVanishedPlugins) {
  ASSERT_EQ(RunScanner({"--timeout", "2", "--out", list.string(), plugins.string()}).exitCode, 0);
  PluginListRead first = ReadPluginListFile(list.string());
  ASSERT_EQ(first.Records.size(), 3u);
  for (ListedPlugin& l : first.Records) {
    if (fs::path(l.Record.DllPath).filename() == "effect" + Ext()) l.Record.RegisterEnabled = 0;
  }
  ASSERT_EQ(WritePluginListFile(list.string(), first.Records), "");
  fs::remove(plugins / "sub" / ("synth" + Ext()));

  const platform::ChildResult run =
      RunScanner({"--timeout", "2", "--json", "--out", list.string(), plugins.string()});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_NE(run.output.find("\"verdict\": \"hung\""), std::string::npos) << run.output;
  EXPECT_EQ(run.output.rfind("{", 0), 0u);  // nothing but the document on stdout
  const PluginListRead second = ReadPluginListFile(list.string());
  ASSERT_EQ(second.Records.size(), 3u);
  EXPECT_EQ(FindListed(second.Records, "effect" + Ext())->Record.RegisterEnabled, 0);
  EXPECT_FALSE(FindListed(second.Records, "effect" + Ext())->Removed);
  EXPECT_TRUE(FindListed(second.Records, "synth" + Ext())->Removed);
  EXPECT_FALSE(FindListed(second.Records, "VID84" + Ext())->Removed);
}

TEST_F(ScanFolder, UsageErrorsAndAnUnwritableList) {
  struct Case {
    std::vector<std::string> arguments;
    int status;
  } cases[] = {
      {{}, 2},
      {{"--timeout", "0", plugins.string()}, 2},
      {{"--timeout", "ten", plugins.string()}, 2},
      {{"--jobs", "0", plugins.string()}, 2},
      {{"--out"}, 2},
      {{"--bogus", plugins.string()}, 2},
      {{(root / "no-such-folder").string()}, 2},
      {{"--help"}, 0},
      // The list's folder would have to be a file that exists.
      {{"--out", (plugins / ("effect" + Ext()) / "list.ini").string(), (plugins / "dup").string()},
       1},
  };
  for (const Case& c : cases) {
    const platform::ChildResult run = RunScanner(c.arguments);
    std::string joined;
    for (const std::string& a : c.arguments) joined += a + " ";
    ASSERT_EQ(run.end, platform::ChildEnd::Exited) << joined;
    EXPECT_EQ(run.exitCode, c.status) << joined;
  }
  // A damaged list is left as it is, not replaced by one that lost its records.
  std::ofstream(list) << "[brvst-plugins]\nversion=1\n[plugin]\nName=x\nUniqueId=notanumber\n";
  EXPECT_EQ(RunScanner({"--out", list.string(), (plugins / "dup").string()}).exitCode, 1);
  std::ifstream kept(list);
  std::string firstLine;
  std::getline(kept, firstLine);
  EXPECT_EQ(firstLine, "[brvst-plugins]");
}

}  // namespace
}  // namespace brvst::scan
