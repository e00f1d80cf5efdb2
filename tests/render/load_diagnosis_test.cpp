// The renderer's words for a plug-in that did not load, beside the adapter's own report.
#include "tools/render/load_diagnosis.h"

#include "desktop_script.h"
#include "filter/adapter_filter.h"
#include "tests/fixtures/plugins/probe_api.h"
#include "tools/render/message_catcher.h"
#include "tools/render/plugin_choice.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace brvst::test {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

std::string BinPath(const std::string& file) {
  return std::string(BRVST_BIN_DIR) + kPathSeparator + file;
}

// The adapter's filter for the plug-in at `path`, built as the renderer builds it, with what
// the adapter showed while it did.
struct RenderedFilter {
  explicit RenderedFilter(const std::string& path) {
    render::MessageCatcher catcher;
    SetModuleInstance(GetModuleHandleA(nullptr));  // reports come from this executable
    if (!render::RecordForPath(path, record)) throw std::runtime_error("no record for " + path);
    IBaseFilter* base = nullptr;
    if (FAILED(CreateAdapterFilter(&record, nullptr, IID_IBaseFilter,
                                   reinterpret_cast<void**>(&base))))
      throw std::runtime_error("the filter was not built");
    filter = static_cast<AdapterFilter*>(base);
    shown = catcher.Take();
  }
  ~RenderedFilter() { filter->Release(); }
  RenderedFilter(const RenderedFilter&) = delete;
  RenderedFilter& operator=(const RenderedFilter&) = delete;

  PluginRecord record;
  AdapterFilter* filter = nullptr;
  std::vector<std::string> shown;
};

// A scratch file or folder beside the other tests' scratch files, removed afterwards.
struct Scratch {
  explicit Scratch(const std::string& name) : path(testing::TempDir() + "brvst_diag_" + name) {}
  ~Scratch() {
    std::error_code error;
    std::filesystem::remove_all(path, error);
  }
  std::string path;
};

struct Case {
  const char* what;
  std::string path;
  std::vector<std::string> said;  // in the clause
};

TEST(LoadDiagnosis, EachCauseIsNamedInOneLine) {
  Scratch folder("folder.dll");
  std::filesystem::create_directory(folder.path);
  Scratch text("text.dll");
  std::ofstream(text.path) << std::string(200, 'x') << "\nno module, only text\n";
  char magic[32];
  std::snprintf(magic, sizeof magic, "(magic 0x%08X)",
                static_cast<unsigned>(probe::kProbeWrongMagic));
  const std::vector<std::string> notAModule =
      RealWindows() ? std::vector<std::string>{"not a loadable module for this platform: "}
                    : std::vector<std::string>{"not a loadable module for this platform: ",
                                               "invalid ELF header"};

  const Case cases[] = {
      {"missing file", BinPath("no_such_plugin.dll"), {"the file does not exist"}},
      {"folder", folder.path, {"it is a folder"}},
      {"text file", text.path, notAModule},
      {"no entry point",
       BinPath(BRVST_MODULE_WITHOUT_ENTRY),
       {"it exports no VST 2 entry point (main, Main or VSTPluginMain)"}},
      {"null entry", BinPath("probe_null_entry.dll"), {"its entry point returned no plug-in"}},
      {"wrong magic", BinPath("probe_bad_magic.dll"), {"returned no VST 2 plug-in", magic}},
      {"null dispatcher", BinPath("probe_null_dispatcher.dll"), {"no dispatcher"}},
      {"absurd counts", BinPath("probe_absurd_counts.dll"), {"more channels"}},
      {"faults while it loads", BinPath("probe_fault_load.dll"), {"initialisation failed"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RenderedFilter rendered(c.path);
    ASSERT_EQ(rendered.filter->Plugin->effect, nullptr);
    const std::string cause = render::LoadFailureCause(c.path, *rendered.filter->Plugin);
    for (const std::string& said : c.said) EXPECT_THAT(cause, HasSubstr(said));
    EXPECT_THAT(cause, Not(HasSubstr("\n")));
    EXPECT_THAT(cause, Not(HasSubstr("%1")));
    EXPECT_THAT(cause, Not(HasSubstr(c.path))) << "the caller names the path";
    EXPECT_THAT(rendered.shown, ::testing::ElementsAre("VST Adapter Error: The following VST "
                                                       "plug-in failed to load:-  " +
                                                       c.path));
  }
}

TEST(LoadDiagnosis, ACrashWhileOpeningIsNamedAndItsReportDialogIsCaughtInOneLine) {
  const std::string path = BinPath("probe_fault_entry.dll");
  RenderedFilter rendered(path);
  EXPECT_EQ(render::LoadFailureCause(path, *rendered.filter->Plugin),
            "it crashed while it was being opened");
  ASSERT_EQ(rendered.shown.size(), 1u);
  EXPECT_THAT(rendered.shown[0],
              ::testing::StartsWith("Brimley VST Adapter: Serious error: The following plug-in:- "
                                    "probe_fault_entry.dll caused a serious error during load."));
  EXPECT_THAT(rendered.shown[0], Not(HasSubstr("\n")));
}

TEST(LoadDiagnosis, ALoadThatSucceededHasNoCause) {
  const std::string path = BinPath("probe_effect.dll");
  RenderedFilter rendered(path);
  ASSERT_NE(rendered.filter->Plugin->effect, nullptr);
  EXPECT_EQ(render::LoadFailureCause(path, *rendered.filter->Plugin), "");
  EXPECT_TRUE(rendered.shown.empty());
}

}  // namespace
}  // namespace brvst::test
