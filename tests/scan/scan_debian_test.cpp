// From a scan to sound: Debian's VST 2 plug-ins (dpf-plugins-vst, and lsp-plugins-vst, whose
// plug-ins export only VSTPluginMain) scanned, the adapter registered, and every effect the scan
// listed made through COM by its class id and rendered.
#include "com/plugin_list_file.h"
#include "platform/child_process.h"
#include "tools/render/audio_file.h"
#include "tools/scan/scan_report.h"
#include "vst2/vst2.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <random>

namespace brvst::scan {
namespace {

namespace fs = std::filesystem;

const fs::path kBin = BRVST_BIN_DIR;

platform::ChildResult RunTool(const std::string& program,
                              const std::vector<std::string>& arguments) {
  platform::ChildOptions options;
  options.timeoutMs = 120000;
  options.inheritStderr = true;
  return platform::RunChild((kBin / program).string(), arguments, options);
}

bool Sounds(const std::string& wav) {
  render::AudioClip clip;
  std::string error;
  if (!render::ReadAudioFile(wav, clip, error)) return false;
  const int bytes = clip.BytesPerSample();
  for (std::size_t at = 0; at + bytes <= clip.data.size(); at += bytes) {
    if (std::fabs(render::DecodeSample(clip.format, &clip.data[at])) > 1e-4f) return true;
  }
  return false;
}

TEST(ScanDebianPlugins, EveryScannedEffectRendersThroughItsRegisteredClass) {
  const char* chosen[] = {"/usr/lib/vst/lsp-plugins/compressor-stereo.so",
                          "/usr/lib/vst/lsp-plugins/comp-delay-mono.so",
                          "/usr/lib/vst/lsp-plugins/slap-delay-mono.so"};
  fs::path root =
      fs::temp_directory_path() / ("brvst-scan-debian-" + std::to_string(std::random_device()()));
  fs::create_directories(root / "plugins");
  int linked = 0;
  for (const auto& entry : fs::directory_iterator("/usr/lib/vst")) {
    const std::string name = entry.path().filename().string();
    if (!name.ends_with("-vst.so")) continue;
    fs::create_symlink(entry.path(), root / "plugins" / name);
    ++linked;
  }
  for (const char* file : chosen) {
    if (!fs::exists(file)) continue;
    fs::create_symlink(file, root / "plugins" / fs::path(file).filename());
    ++linked;
  }
  if (linked < 4) GTEST_SKIP() << "dpf-plugins-vst and lsp-plugins-vst are not installed";
  // The adapter reads a list beside it before the user's: there must be none for this test's.
  ASSERT_FALSE(fs::exists(kBin / kPluginListFileName))
      << (kBin / kPluginListFileName) << " shadows the test's list: remove it";

  setenv("XDG_CONFIG_HOME", root.c_str(), 1);
  setenv("BRVST_REGISTRY", (root / "registry.reg").c_str(), 1);
  const std::string list = (root / "brvst" / kPluginListFileName).string();
  ASSERT_EQ(RunTool("brvst-scan", {"--out", list, (root / "plugins").string()}).exitCode, 0);
  const PluginListRead read = ReadPluginListFile(list);
  ASSERT_EQ(read.Error, "");
  EXPECT_EQ(static_cast<int>(read.Records.size()), linked);
  ASSERT_EQ(RunTool("brvst-regsvr", {"/s", (kBin / "libbrvst.so").string()}).exitCode, 0);

  int rendered = 0;
  for (const ListedPlugin& l : read.Records) {
    if (l.Record.IsSoftSynth) continue;
    SCOPED_TRACE(l.Record.DllPath);
    const std::string out = (root / "out.wav").string();
    const platform::ChildResult render =
        RunTool("brvst-render", {"--clsid", ClassIdText(l.Record.FilterClsid), "--tail", "0",
                                 (kBin / "demo.wav").string(), "-o", out});
    EXPECT_EQ(render.exitCode, 0) << platform::DescribeChildEnd(render);
    // Amplitude Imposer gives the main pair the loudness of inputs 3 and 4, which hear silence
    // (the adapter feeds one stereo pair): its silence is the right answer.
    if (l.Record.UniqueId != vst2::FourCC('A', 'm', 'I', 'm')) {
      EXPECT_TRUE(Sounds(out));
    }
    ++rendered;
  }
  EXPECT_GE(rendered, 3);
  fs::remove_all(root);
}

}  // namespace
}  // namespace brvst::scan
