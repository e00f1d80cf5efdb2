// brvst-regsvr as its users run it: a process of its own over a registry of the test's own.
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

struct Outcome {
  int status = -1;
  std::string out, err;
};

std::string ReadText(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class RegsvrCli : public ::testing::Test {
 protected:
  void TearDown() override {
    for (const std::string& path : {registry, registry + ".lock", outPath, errPath})
      std::remove(path.c_str());
  }

  Outcome Run(const std::string& args) const {
    const std::string command = "BRVST_REGISTRY='" + registry + "' '" + kTool + "' " + args +
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
            "  module    " + kAdapter + "\n"
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
       "brvst-regsvr: " + kBin + "/probe_effect.dll: the module has no entry point DllRegisterServer"},
  };
  for (const auto& c : cases) {
    const Outcome run = Run(c.args);
    EXPECT_EQ(run.status, c.status) << c.args;
    EXPECT_EQ(run.err.substr(0, run.err.find('\n')).substr(0, c.firstLine.size()), c.firstLine)
        << c.args;
    EXPECT_EQ(run.out, "");
  }
  EXPECT_EQ(Run("--help").status, 0);
}

}  // namespace
