// The plug-in list file: what it reads, what it refuses and where, and how it is replaced.
#include "com/plugin_list_file.h"
#include "com/class_id.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace brvst {
namespace {

namespace fs = std::filesystem;

// An absolute plug-in folder as the platform writes one.
const std::string kRoot = kPathSeparator == '/' ? "/plugins/" : "C:\\plugins\\";

class ListFile : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ =
        fs::temp_directory_path() /
        ("brvst-listfile-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
         "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder_);
    fs::create_directories(folder_);
    path_ = (folder_ / kPluginListFileName).string();
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }

  void Put(const std::string& text) { std::ofstream(path_, std::ios::binary) << text; }
  std::string Contents() const {
    std::ifstream in(path_, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  fs::path folder_;
  std::string path_;
};

// Text in the record's narrow form: UTF-8, or the ANSI code page.
std::string SystemText(const char16_t* wide) {
  char text[64];
  WideCharToMultiByte(platform::kFileNamesAreUtf8 ? CP_UTF8 : CP_ACP, 0,
                      reinterpret_cast<LPCWSTR>(wide), -1, text, sizeof text, nullptr, nullptr);
  return text;
}

ListedPlugin Listed(const std::string& name, const std::string& file, int32_t id) {
  ListedPlugin listed;
  EXPECT_TRUE(MakeDefaultRecord(kRoot.c_str(), listed.Record));
  std::memset(listed.Record.Name, 0, sizeof listed.Record.Name);
  std::memset(listed.Record.DllPath, 0, sizeof listed.Record.DllPath);
  std::memset(listed.Record.DllFileName, 0, sizeof listed.Record.DllFileName);
  std::strcpy(listed.Record.Name, name.c_str());
  std::strcpy(listed.Record.DllPath, (kRoot + file).c_str());
  std::strcpy(listed.Record.DllFileName, file.c_str());
  listed.Record.UniqueId = id;
  listed.Record.FilterClsid = FilterClassIdFor(file, id);
  listed.Record.PageClsid = PageClassIdFor(file, id);
  return listed;
}

void ExpectSameRecord(const PluginRecord& a, const PluginRecord& b) {
  EXPECT_STREQ(a.Name, b.Name);
  EXPECT_STREQ(a.DllPath, b.DllPath);
  EXPECT_EQ(std::memcmp(&a, &b, sizeof a), 0) << a.Name;
}

TEST_F(ListFile, EveryFieldSurvivesAWriteAndARead) {
  std::vector<ListedPlugin> records;
  records.push_back(Listed("3 Band EQ", "3BandEQ-vst.so", 0x444E4245));
  records.push_back(Listed(SystemText(u"Gr\u00F6\u00DFe"), "DragonflyHallReverb-vst.so", -5));
  ListedPlugin& second = records.back();
  second.Removed = true;
  second.Vendor = "Brimley; Sons";
  second.Inputs = 2;
  second.Outputs = 8;
  second.Latency = 0;
  second.Parameters = 12;
  second.Programs = 1;
  PluginRecord& r = second.Record;
  r.FilterClsid = {0x01234567, 0x89AB, 0xCDEF, {0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32, 0x10}};
  r.IsSoftSynth = 1;
  r.RegisterEnabled = 0;
  r.EditorWidth = 32767;
  r.EditorHeight = 0;
  r.StereoOnly = 0;
  r.NrpnPassThrough = 0;
  r.VstNamePrefix = 1;
  r.Aux1 = INT32_MIN;
  r.Aux9 = INT32_MAX;

  ASSERT_EQ(WritePluginListFile(path_, records), "");
  const std::string text = Contents();
  EXPECT_NE(text.find("UniqueId=1145979461 ; DNBE\n"), std::string::npos) << text;
  EXPECT_NE(text.find("Name=Gr\xC3\xB6\xC3\x9F"
                      "e\n"),
            std::string::npos)
      << "UTF-8 in the file";
  EXPECT_EQ(text.find("Vendor", text.find("3BandEQ")), text.find("Vendor=Brimley; Sons"))
      << "unknown informative fields are left out";

  const PluginListRead read = ReadPluginListFile(path_);
  EXPECT_TRUE(read.Found);
  ASSERT_EQ(read.Error, "");
  ASSERT_EQ(read.Records.size(), 2u);
  ExpectSameRecord(read.Records[0].Record, records[0].Record);
  ExpectSameRecord(read.Records[1].Record, records[1].Record);
  EXPECT_FALSE(read.Records[0].Removed);
  EXPECT_EQ(read.Records[0].Inputs, -1);
  const ListedPlugin& back = read.Records[1];
  EXPECT_TRUE(back.Removed);
  EXPECT_EQ(back.Vendor, "Brimley; Sons");
  EXPECT_EQ(std::vector<int32_t>(
                {back.Inputs, back.Outputs, back.Latency, back.Parameters, back.Programs}),
            std::vector<int32_t>({2, 8, 0, 12, 1}));

  // Replaced in one step: no temporary file stays beside it.
  ASSERT_EQ(WritePluginListFile(path_, {records[0]}), "");
  EXPECT_EQ(ReadPluginListFile(path_).Records.size(), 1u);
  EXPECT_EQ(std::distance(fs::directory_iterator(folder_), fs::directory_iterator()), 1);
}

// What a person writes by hand: the required keys only, in any case, with comments, CRLF line
// ends and a byte-order mark. The rest comes from the adapter's own record and the file name.
TEST_F(ListFile, OmittedFieldsTakeTheDefaultRecordsValuesAndTheNameBasedClassIds) {
  Put("\xEF\xBB\xBF; mine\r\n[brvst-plugins]\r\nVERSION = 1\r\n\r\n[plugin]\r\n"
      "name = My Delay  \r\n  # a comment\r\ndllpath=" +
      kRoot +
      "My Delay.so\r\n"
      "uniqueid=  42 ; '...*'\r\n");
  const PluginListRead read = ReadPluginListFile(path_);
  ASSERT_EQ(read.Error, "");
  ASSERT_EQ(read.Records.size(), 1u);
  const PluginRecord& r = read.Records[0].Record;
  EXPECT_STREQ(r.Name, "My Delay");
  EXPECT_STREQ(r.DllFileName, "My Delay.so");
  EXPECT_EQ(r.UniqueId, 42);
  EXPECT_EQ(r.FilterClsid, FilterClassIdFor("My Delay.so", 42));
  EXPECT_EQ(r.PageClsid, PageClassIdFor("My Delay.so", 42));
  PluginRecord defaults;
  ASSERT_TRUE(MakeDefaultRecord("", defaults));
  EXPECT_EQ(
      std::vector<int32_t>({r.Aux1, r.Aux2, r.Aux3, r.Aux4, r.Aux5, r.Aux6, r.Aux7, r.Aux8, r.Aux9,
                            r.RegisterEnabled, r.IsSoftSynth, r.EditorWidth, r.EditorHeight,
                            r.StereoOnly, r.NrpnPassThrough, r.VstNamePrefix}),
      std::vector<int32_t>({defaults.Aux1, defaults.Aux2, defaults.Aux3, defaults.Aux4,
                            defaults.Aux5, defaults.Aux6, defaults.Aux7, defaults.Aux8,
                            defaults.Aux9, 1, 0, defaults.EditorWidth, defaults.EditorHeight,
                            defaults.StereoOnly, defaults.NrpnPassThrough,
                            defaults.VstNamePrefix}));
  EXPECT_FALSE(read.Records[0].Removed);

  Put("[brvst-plugins]\nversion=1\n");
  const PluginListRead empty = ReadPluginListFile(path_);
  EXPECT_TRUE(empty.Found);
  EXPECT_EQ(empty.Error, "");
  EXPECT_TRUE(empty.Records.empty());

  const PluginListRead none = ReadPluginListFile((folder_ / "nothing.ini").string());
  EXPECT_FALSE(none.Found);
  EXPECT_EQ(none.Error, "") << "a missing file is no error";
}

// Every damaged file gives no record at all and names the file, the line and the reason.
TEST_F(ListFile, ADamagedFileIsRefusedWholeWithItsLineAndReason) {
  const std::string head = "[brvst-plugins]\nversion=1\n";
  const std::string good = "[plugin]\nName=Good\nDllPath=" + kRoot + "good.so\nUniqueId=1\n";
  const std::string plugin = "[plugin]\nName=P\nDllPath=" + kRoot + "p.so\n";  // lines 3-5
  const std::string noPath = "[plugin]\nName=P\nUniqueId=1\n";
  struct Case {
    std::string text;
    int line;
    const char* reason;
  };
  const std::vector<Case> cases = {
      {"", 1, "does not begin with [brvst-plugins]"},
      {"; only a comment\n" + good, 2, "does not begin with [brvst-plugins]"},
      {"[brvst-plugins]\n" + good, 1, "has no version"},
      {"[brvst-plugins]\nversion=2\n", 2, "version 2 is not supported"},
      {"[brvst-plugins]\nversion=1\nversion=1\n", 3, "twice"},
      {"[brvst-plugins]\nversion=1\nwhat=1\n", 3, "unknown key 'what'"},
      {"Name=x\n[brvst-plugins]\n", 1, "before the first section"},
      {head + good + "[plugins]\n", 7, "unknown section [plugins]"},
      {head + good + "[plugin\n", 7, "closing ']'"},
      {head + good + "[brvst-plugins]\n", 7, "must come first"},
      {head + good + "[plugin]\nName Good\n", 8, "without '='"},
      {head + good + "=1\n", 7, "without a key"},
      {head + good + "Colour=red\n", 7, "unknown key 'Colour'"},
      {head + good + "NAME=Again\n", 7, "Name is given twice"},
      {head + "[plugin]\nDllPath=" + kRoot + "x.so\nUniqueId=1\n" + good, 3, "has no Name"},
      {head + "[plugin]\nName=x\nUniqueId=1\n", 3, "has no DllPath"},
      {head + good + plugin, 7, "has no UniqueId"},
      {head + plugin + "UniqueId=1x\n", 6, "UniqueId is not a 32-bit whole number"},
      {head + plugin + "UniqueId=2147483648\n", 6, "UniqueId is not a 32-bit whole number"},
      {head + plugin + "UniqueId=\n", 6, "UniqueId is not a 32-bit whole number"},
      {head + plugin + "UniqueId=1\nRemoved=2\n", 7, "Removed is neither 0 nor 1"},
      {head + plugin + "UniqueId=1\nEditorWidth=-1\n", 7, "EditorWidth is not a size"},
      {head + plugin + "UniqueId=1\nEditorHeight=32768\n", 7, "EditorHeight is not a size"},
      {head + plugin + "UniqueId=1\nOutputs=-2\n", 7, "Outputs is not a count"},
      {head + plugin + "UniqueId=1\nFilterClsid={DE3C7405-C195-11D6-9691-C8E297C9284}\n", 7,
       "FilterClsid is not a class id"},
      {head + plugin + "UniqueId=1\nPageClsid=DE3C7405-C195-11D6-9691-C8E297C92840\n", 7,
       "PageClsid is not a class id"},
      {head + plugin + "UniqueId=1\nPageClsid={DE3C7405-C195-11D6-9691-C8E297C9284G}\n", 7,
       "PageClsid is not a class id"},
      {head + plugin +
           "UniqueId=1\nFilterClsid={DE3C7405-C195-11D6-9691-C8E297C92840}\n"
           "PageClsid={de3c7405-c195-11d6-9691-c8e297c92840}\n",
       3, "FilterClsid and PageClsid are the same"},
      {head + "[plugin]\nName=x\nDllPath=relative/x.so\n", 5, "not an absolute path"},
      {head + "[plugin]\nName=x\nUniqueId=1\nDllPath=" + kRoot + "\n", 3, "names a folder"},
      {head + plugin + "DllFileName=sub/p.so\n", 6, "DllFileName is not a file name"},
      {head + noPath + "DllPath=" + kRoot + std::string(300, 'p') + ".so\n", 6,
       "DllPath is longer than 259 bytes"},
      {head + plugin + "DllFileName=" + std::string(260, 'p') + "\n", 6,
       "DllFileName is longer than 259 bytes"},
      {head + "[plugin]\nName=\xC3(\n", 4, "Name is not UTF-8 text"},
      {head + "[plugin]\nVendor=\xFF\n", 4, "Vendor is not UTF-8 text"},
      {head + std::string("[plugin]\nName=a\0b\n", 18), 4, "NUL byte"},
  };
  for (const Case& c : cases) {
    Put(c.text);
    const PluginListRead read = ReadPluginListFile(path_);
    EXPECT_TRUE(read.Found);
    EXPECT_TRUE(read.Records.empty()) << c.text;
    const std::string where = path_ + ", line " + std::to_string(c.line) + ": ";
    EXPECT_EQ(read.Error.rfind(where, 0), 0u) << read.Error << "\n--- for:\n" << c.text;
    EXPECT_NE(read.Error.find(c.reason), std::string::npos) << read.Error << "\n--- for:\n"
                                                            << c.text;
  }
}

// Names are for people: a long one is cut, at a character and never inside one. A path is for
// the loader: cut, or with a character the system cannot name, it would be some other file.
TEST_F(ListFile, LongNamesAreCutWholeCharactersWhilePathsMustFit) {
  const std::string name = std::string(257, 'a') + "\xC3\xB6\xC3\xB6\xC3\xB6";
  Put("[brvst-plugins]\nversion=1\n[plugin]\nName=" + name + "\nDllPath=" + kRoot +
      "x.so\nUniqueId=1\n");
  PluginListRead read = ReadPluginListFile(path_);
  ASSERT_EQ(read.Error, "");
  ASSERT_EQ(read.Records.size(), 1u);
  const std::string cut = read.Records[0].Record.Name;
  EXPECT_LT(cut.size(), sizeof read.Records[0].Record.Name);
  EXPECT_EQ(cut.substr(0, 257), std::string(257, 'a'));
  EXPECT_GT(cut.size(), 257u) << "as much as fits is kept";
  // Nothing half: the cut record writes back as valid UTF-8 and reads again the same.
  ASSERT_EQ(WritePluginListFile(path_, read.Records), "");
  read = ReadPluginListFile(path_);
  ASSERT_EQ(read.Error, "");
  EXPECT_EQ(std::string(read.Records[0].Record.Name), cut);

  // A path of exactly 259 bytes fits.
  const std::string longest = kRoot + std::string(259 - kRoot.size() - 3, 'p') + ".so";
  Put("[brvst-plugins]\nversion=1\n[plugin]\nName=x\nDllPath=" + longest + "\nUniqueId=1\n");
  read = ReadPluginListFile(path_);
  ASSERT_EQ(read.Error, "");
  EXPECT_EQ(std::string(read.Records[0].Record.DllPath), longest);

  // A character outside the ANSI code page: fine where file names are UTF-8 bytes.
  Put("[brvst-plugins]\nversion=1\n[plugin]\nName=\xE6\x97\xA5\nDllPath=" + kRoot +
      "\xE6\x97\xA5.so\nUniqueId=1\n");
  read = ReadPluginListFile(path_);
  if (platform::kFileNamesAreUtf8) {
    ASSERT_EQ(read.Error, "");
    EXPECT_STREQ(read.Records[0].Record.DllFileName, "\xE6\x97\xA5.so");
  } else {
    EXPECT_NE(read.Error.find("line 5: DllPath has characters this system's code page lacks"),
              std::string::npos)
        << read.Error;
  }
}

TEST_F(ListFile, AFileOverTheLimitIsRefusedUnread) {
  Put("[brvst-plugins]\nversion=1\n" + std::string(kPluginListFileLimit, ';'));
  const PluginListRead read = ReadPluginListFile(path_);
  EXPECT_TRUE(read.Records.empty());
  EXPECT_EQ(read.Error, path_ + ": the file is larger than 4 MiB");
}

// A write that cannot finish leaves the old file as it was, and no temporary file.
TEST_F(ListFile, AFailedWriteLeavesTheOldListAndNoTemporaryFile) {
  const std::vector<ListedPlugin> one = {Listed("One", "one.so", 1)};
  ASSERT_EQ(WritePluginListFile(path_, one), "");
  const std::string before = Contents();

  ListedPlugin broken = Listed("Two", "two.so", 2);
  std::strcpy(broken.Record.Name, "Two\nName=Injected");
  EXPECT_EQ(WritePluginListFile(path_, {one[0], broken}), path_ + ": Name holds a line break");
  EXPECT_EQ(Contents(), before);
  broken = Listed("Two", "two.so", 2);
  std::strcpy(broken.Record.DllPath, "two.so");
  EXPECT_EQ(WritePluginListFile(path_, {one[0], broken}),
            path_ +
                ": not written, it would not read back (line 33: DllPath is not an absolute "
                "path)");
  broken.Record.DllPath[0] = '\0';
  EXPECT_NE(WritePluginListFile(path_, {broken}).find("(line 8: DllPath is not an absolute path)"),
            std::string::npos);
  EXPECT_EQ(Contents(), before);

  // Its folder is a file: nothing can be created there.
  const std::string blocked = (folder_ / kPluginListFileName / "list.ini").string();
  const std::string error = WritePluginListFile(blocked, one);
  EXPECT_EQ(error.rfind(blocked + ": ", 0), 0u) << error;
  EXPECT_EQ(Contents(), before);
  EXPECT_EQ(std::distance(fs::directory_iterator(folder_), fs::directory_iterator()), 1);

  // Missing folders are made.
  const std::string deep = (folder_ / "a" / "b" / kPluginListFileName).string();
  ASSERT_EQ(WritePluginListFile(deep, one), "");
  EXPECT_EQ(ReadPluginListFile(deep).Records.size(), 1u);
}

}  // namespace
}  // namespace brvst
