// The scanner's judgements that need no plug-in: module headers, probe reports, and how a rescan
// brings an earlier list up to date.
#include "com/class_id.h"
#include "tools/scan/binary_kind.h"
#include "tools/scan/scan_report.h"
#include "tools/scan/scanner.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

namespace brvst::scan {
namespace {

namespace fs = std::filesystem;

std::vector<unsigned char> ElfHeader(unsigned char elfClass, uint16_t machine) {
  std::vector<unsigned char> h(64, 0);
  const unsigned char ident[] = {0x7F, 'E', 'L', 'F', elfClass, 1, 1};
  std::memcpy(h.data(), ident, sizeof ident);
  h[16] = 3;  // ET_DYN
  h[18] = static_cast<unsigned char>(machine);
  h[19] = static_cast<unsigned char>(machine >> 8);
  return h;
}

std::vector<unsigned char> PeHeader(uint16_t machine, uint16_t magic, uint32_t peOffset = 0x80) {
  std::vector<unsigned char> h(peOffset + 64, 0);
  h[0] = 'M';
  h[1] = 'Z';
  std::memcpy(&h[0x3C], &peOffset, 4);  // little-endian on every build we make
  std::memcpy(&h[peOffset], "PE\0\0", 4);
  std::memcpy(&h[peOffset + 4], &machine, 2);
  std::memcpy(&h[peOffset + 24], &magic, 2);
  return h;
}

TEST(BinaryKind, HeadersOfEveryKindAgainstBothPlatforms) {
  const NativeBinary linux64{BinaryFormat::Elf, true, 62};
  const NativeBinary windows32{BinaryFormat::Pe, false, 0x014C};
  struct Case {
    std::vector<unsigned char> head;
    NativeBinary native;
    BinaryKind kind;
    const char* description;
  } cases[] = {
      {ElfHeader(2, 62), linux64, BinaryKind::Native, "ELF 64-bit x86_64"},
      {ElfHeader(1, 3), linux64, BinaryKind::OtherMachine, "ELF 32-bit i386"},
      {ElfHeader(2, 183), linux64, BinaryKind::OtherMachine, "ELF 64-bit aarch64"},
      {PeHeader(0x8664, 0x20B), linux64, BinaryKind::OtherMachine, "PE 64-bit x86_64"},
      {PeHeader(0x014C, 0x10B), windows32, BinaryKind::Native, "PE 32-bit i386"},
      {PeHeader(0x8664, 0x20B), windows32, BinaryKind::OtherMachine, "PE 64-bit x86_64"},
      {ElfHeader(1, 3), windows32, BinaryKind::OtherMachine, "ELF 32-bit i386"},
      {ElfHeader(7, 62), linux64, BinaryKind::NotModule, "a damaged ELF header"},
      {{'M', 'Z'}, windows32, BinaryKind::NotModule, "not an ELF or PE file"},
      {{'h', 'e', 'l', 'l', 'o', '\n'}, linux64, BinaryKind::NotModule, "not an ELF or PE file"},
      {{}, linux64, BinaryKind::NotModule, "not an ELF or PE file"},
  };
  for (const Case& c : cases) {
    const BinaryCheck check = CheckBinaryHeader(c.head.data(), c.head.size(), c.native);
    EXPECT_EQ(check.kind, c.kind) << c.description;
    EXPECT_EQ(check.description, c.description);
  }
  // An MZ file whose PE offset points past its end, and one with no PE signature there.
  std::vector<unsigned char> cut = PeHeader(0x014C, 0x10B);
  cut.resize(0x80 + 10);
  EXPECT_EQ(CheckBinaryHeader(cut.data(), cut.size(), windows32).kind, BinaryKind::NotModule);
  std::vector<unsigned char> dos = PeHeader(0x014C, 0x10B);
  dos[0x80] = 'N';
  EXPECT_EQ(CheckBinaryHeader(dos.data(), dos.size(), windows32).kind, BinaryKind::NotModule);
}

TEST(BinaryKind, PeHeaderBeyondTheFirstBlockIsReadFromTheFile) {
  const fs::path file = fs::temp_directory_path() / "brvst-scan-far-pe.bin";
  const std::vector<unsigned char> head = PeHeader(0x014C, 0x10B, 9000);
  std::ofstream(file, std::ios::binary)
      .write(reinterpret_cast<const char*>(head.data()), static_cast<std::streamsize>(head.size()));
  const BinaryCheck check = CheckBinaryFile(file.string(), {BinaryFormat::Pe, false, 0x014C});
  fs::remove(file);
  EXPECT_EQ(check.kind, BinaryKind::Native) << check.description;
}

TEST(ProbeReport, LinesRoundTripAndPluginTextsCannotForgeLines) {
  std::string report;
  auto append = [](const char* text, std::size_t length, void* to) {
    static_cast<std::string*>(to)->append(text, length);
  };
  vsthost::WriteProbeLine(append, &report, "verdict", "ok");
  vsthost::WriteProbeLine(append, &report, "name", "Evil\nverdict=crashed\r\tx=y");
  vsthost::WriteProbeLine(append, &report, "uniqueId", "-5");
  vsthost::WriteProbeLine(append, &report, "inputs", "many");
  report += "garbage without equals\n";
  const vsthost::ProbeFindings f = vsthost::ParseProbeReport(report);
  EXPECT_EQ(f.verdict, "ok");
  EXPECT_EQ(f.name, "Evil verdict=crashed  x=y");
  EXPECT_EQ(f.uniqueId, -5);
  EXPECT_EQ(f.inputs, 0);
}

TEST(ScanReport, UniqueIdAsCodeOrNumber) {
  EXPECT_EQ(UniqueIdText(0x50533853), "PS8S");
  EXPECT_EQ(UniqueIdText(1), "1");
  EXPECT_EQ(UniqueIdText(-1), "-1");
}

ListedPlugin Listed(const std::string& path, int32_t id) {
  Probed p;
  p.path = path;
  p.findings.uniqueId = id;
  p.findings.inputs = 2;
  p.findings.name = fs::path(path).stem().string();
  ListedPlugin l;
  EXPECT_TRUE(MakeListedPlugin(p, l));
  return l;
}

TEST(MergeLists, RescanKeepsUserSettingsAndMarksOnlyVanishedOrSupersededRecords) {
  const fs::path root = fs::temp_directory_path() / "brvst-merge-test";
  fs::remove_all(root);
  fs::create_directories(root);
  for (const char* f : {"kept.so", "broken.so", "updated.so"}) std::ofstream(root / f) << "x";
  auto at = [&](const char* f) { return (root / f).string(); };

  ListedPlugin kept = Listed(at("kept.so"), 1);
  kept.Record.RegisterEnabled = 0;
  kept.Record.NrpnPassThrough = 0;
  kept.Record.Aux9 = 7;
  std::strcpy(kept.Record.Name, "old name");
  const ListedPlugin gone = Listed(at("gone.so"), 2);
  const ListedPlugin broken = Listed(at("broken.so"), 3);    // there, but skipped this time
  const ListedPlugin updated = Listed(at("updated.so"), 4);  // found again with a new id

  const ListedPlugin keptAgain = Listed(at("kept.so"), 1);
  const ListedPlugin updatedAgain = Listed(at("updated.so"), 40);
  const ListedPlugin added = Listed(at("new.so"), 6);

  const std::vector<ListedPlugin> merged =
      MergeLists({kept, gone, broken, updated}, {added, updatedAgain, keptAgain});
  fs::remove_all(root);

  ASSERT_EQ(merged.size(), 6u);
  // Earlier records keep their places; the new ones follow in the order found.
  EXPECT_STREQ(merged[0].Record.Name, "kept");     // what the scan found wins...
  EXPECT_EQ(merged[0].Record.RegisterEnabled, 0);  // ...but not over the user's choices
  EXPECT_EQ(merged[0].Record.NrpnPassThrough, 0);
  EXPECT_EQ(merged[0].Record.Aux9, 7);
  EXPECT_FALSE(merged[0].Removed);
  EXPECT_TRUE(merged[1].Removed);   // its file is gone
  EXPECT_FALSE(merged[2].Removed);  // a crash or hang this time does not drop it
  EXPECT_TRUE(merged[3].Removed);   // its file now has another class id...
  EXPECT_STREQ(merged[4].Record.Name, "new");
  EXPECT_EQ(merged[4].Record.RegisterEnabled, 1);
  EXPECT_EQ(merged[5].Record.UniqueId, 40);  // ...which this record holds
  EXPECT_FALSE(merged[5].Removed);

  // A record marked removed earlier that is found again comes back.
  ListedPlugin wasRemoved = keptAgain;
  wasRemoved.Removed = true;
  EXPECT_FALSE(MergeLists({wasRemoved}, {keptAgain})[0].Removed);
}

TEST(MakeListedPlugin, RecordFromFindings) {
  Probed p;
  p.path = (fs::temp_directory_path() / "Some Synth.so").string();
  p.findings.uniqueId = 77;
  p.findings.inputs = 1;
  p.findings.outputs = 2;
  p.findings.synth = true;
  p.findings.editorWidth = 300;
  p.findings.editorHeight = 200;
  ListedPlugin l;
  ASSERT_TRUE(MakeListedPlugin(p, l));
  EXPECT_STREQ(l.Record.Name, "Some Synth");  // no name from the plug-in: its file's
  EXPECT_STREQ(l.Record.DllFileName, "Some Synth.so");
  const GUID filter = FilterClassIdFor("Some Synth.so", 77);
  const GUID page = PageClassIdFor("Some Synth.so", 77);
  EXPECT_EQ(0, std::memcmp(&l.Record.FilterClsid, &filter, sizeof filter));
  EXPECT_EQ(0, std::memcmp(&l.Record.PageClsid, &page, sizeof page));
  EXPECT_EQ(l.Record.IsSoftSynth, 1);
  EXPECT_EQ(l.Record.StereoOnly, 0);  // one input: mono allowed
  EXPECT_EQ(l.Record.EditorWidth, 300);
  EXPECT_EQ(l.Record.EditorHeight, 200);

  // A long name is cut before a character, never inside one; a long path is refused.
  p.findings.name.clear();
  for (int i = 0; i < 150; ++i) p.findings.name += "\xC3\xA9";  // é, two bytes
  ASSERT_TRUE(MakeListedPlugin(p, l));
  EXPECT_EQ(std::strlen(l.Record.Name), 258u);  // 259 bytes would end inside a character
  p.path = std::string(300, 'x') + ".so";
  EXPECT_FALSE(MakeListedPlugin(p, l));
}

}  // namespace
}  // namespace brvst::scan
