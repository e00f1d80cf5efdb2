// brvst-regsvr as its users run it, and brvst-render making its filter through what it
// registered: processes of their own over a registry of the test's own.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

namespace {

const std::string kBin = BRVST_BIN_DIR;
const std::string kTool = kBin + "/brvst-regsvr";
const std::string kAdapter = kBin + "/libbrvst.so";
const std::string kRenderer = kBin + "/brvst-render";
const std::string kFilterClass = "{DE3C7405-C195-11D6-9691-C8E297C92840}";

struct Outcome {
  int status = -1;
  std::string out, err;
};

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class RegsvrCli : public ::testing::Test {
 protected:
  void TearDown() override {
    for (const std::string& path : {registry, registry + ".lock", outPath, errPath, copy, wav})
      std::remove(path.c_str());
  }

  Outcome Run(const std::string& args, const std::string& program = kTool) const {
    const std::string command = "BRVST_REGISTRY='" + registry + "' '" + program + "' " + args +
                                " >'" + outPath + "' 2>'" + errPath + "'";
    Outcome outcome;
    const int status = std::system(command.c_str());
    if (WIFEXITED(status)) outcome.status = WEXITSTATUS(status);
    outcome.out = ReadText(outPath);
    outcome.err = ReadText(errPath);
    return outcome;
  }

  // Per test: ctest runs the tests of this program side by side.
  const std::string base = testing::TempDir() + "regsvr-cli-" +
                           testing::UnitTest::GetInstance()->current_test_info()->name();
  const std::string registry = base + ".reg";
  const std::string outPath = base + ".out";
  const std::string errPath = base + ".err";
  const std::string copy = base + "-copy.so";
  const std::string wav = base + ".wav";
};

TEST_F(RegsvrCli, RegistersListsAndUnregistersTheAdapter) {
  Outcome run = Run("'" + kAdapter + "'");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "DllRegisterServer in " + kAdapter + " succeeded.\n");

  run = Run("--list");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out,
            "ZAD VID 84\n"
            "  class id  {DE3C7405-C195-11D6-9691-C8E297C92840}\n"
            "  module    " +
                kAdapter +
                "\n"
                "  merit     0x00200000\n"
                "  pin       Input (input)\n"
                "    type    MEDIATYPE_Audio / any\n"
                "  pin       Output (output)\n"
                "    type    MEDIATYPE_Audio / any\n");

  run = Run("/u /s '" + kAdapter + "'");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "") << "silent";
  EXPECT_EQ(Run("--list").out, "");
}

TEST_F(RegsvrCli, ErrorsAreOneLineWithRegsvr32sStatus) {
  const struct {
    std::string args;
    int status;
    std::string firstLine;
  } cases[] = {
      {"", 1, "usage: brvst-regsvr [/u] [/s] MODULE"},
      {"/x '" + kAdapter + "'", 1, "usage: brvst-regsvr [/u] [/s] MODULE"},
      {"'" + kBin + "/no-such.so'", 3,
       "brvst-regsvr: " + kBin + "/no-such.so: the module could not be loaded: it does not exist"},
      {"'" + kBin + "/probe_effect.dll'", 4,
       "brvst-regsvr: " + kBin +
           "/probe_effect.dll: the module has no entry point DllRegisterServer"},
  };
  for (const auto& c : cases) {
    const Outcome run = Run(c.args);
    EXPECT_EQ(run.status, c.status) << c.args;
    EXPECT_EQ(run.err.substr(0, run.err.find('\n')).substr(0, c.firstLine.size()), c.firstLine)
        << c.args;
    EXPECT_EQ(run.out, "");
  }
  EXPECT_EQ(Run("--help").status, 0);

  // A damaged registry is reported, never listed as if empty.
  std::ofstream(registry) << "not a registry\n";
  const Outcome damaged = Run("--list");
  EXPECT_EQ(damaged.status, 5);
  EXPECT_NE(damaged.err.find("brvst-regsvr: the filter mapper could not list its filters"),
            std::string::npos)
      << damaged.err;
  EXPECT_EQ(damaged.out, "");
}

// A host's way to the filter: COM through the registry. The filter object lives in the module
// COM loaded, which the renderer reads only when it is its own build's adapter.
TEST_F(RegsvrCli, TheRendererMakesARegisteredFilterThroughComOnlyFromItsOwnAdapter) {
  const std::string clsid = " --clsid '" + kFilterClass + "'";
  Outcome run = Run("--info" + clsid, kRenderer);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "brvst-render: " + kFilterClass + ": the class is not registered\n");

  ASSERT_EQ(Run("/s '" + kAdapter + "'").status, 0);
  run = Run("--info" + clsid, kRenderer);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out.substr(0, run.out.find('\n')), "Name        ZAD VID 84");
  run = Run("'" + kBin + "/demo.wav' -o '" + wav + "'" + clsid, kRenderer);
  EXPECT_EQ(run.status, 0) << run.err;
  const std::string throughCom = ReadText(wav);
  EXPECT_EQ(Run("'" + kBin + "/demo.wav' -o '" + wav + "'", kRenderer).status, 0);
  EXPECT_GT(throughCom.size(), 1000000u);
  EXPECT_TRUE(throughCom == ReadText(wav)) << "the same filter, reached two ways";

  // A module that differs from the renderer's adapter, if only by one byte at its end.
  ASSERT_EQ(
      std::system(("cp '" + kAdapter + "' '" + copy + "' && printf x >> '" + copy + "'").c_str()),
      0);
  ASSERT_EQ(Run("/s '" + copy + "'").status, 0);
  run = Run("--info" + clsid, kRenderer);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "brvst-render: " + kFilterClass + ": the class is served by " + copy +
                         ", not by this build's adapter " + kAdapter + "\n");
  EXPECT_EQ(Run("--clsid nonsense --info", kRenderer).status, 2);
}

}  // namespace
