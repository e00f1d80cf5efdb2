// The registry of our platform layer: the Win32 calls' results, the .reg file behind them, and
// what happens when processes share it, crash while writing it, or find it damaged.
#include "platform/platform.h"
#include "platform/posix/registry_testing.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace brvst::platform {
namespace {

namespace fs = std::filesystem;
using testing::HasSubstr;

std::string ReadText(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteText(const fs::path& file, const std::string& text) {
  std::ofstream(file, std::ios::binary) << text;
}

class PosixRegistry : public testing::Test {
 protected:
  void SetUp() override {
    folder_ =
        fs::temp_directory_path() / ("brvst-registry-" + std::to_string(::getpid()) + "-" +
                                     testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(folder_);
    // The registry file's folder is made by the first write.
    file_ = folder_ / "sub" / "registry.reg";
    if (const char* previous = std::getenv("BRVST_REGISTRY")) previous_ = previous;
    ::setenv("BRVST_REGISTRY", file_.c_str(), 1);
  }
  void TearDown() override {
    // The registry the rest of the run uses, never the user's own.
    if (previous_)
      ::setenv("BRVST_REGISTRY", previous_->c_str(), 1);
    else
      ::unsetenv("BRVST_REGISTRY");
    fs::remove_all(folder_);
  }
  std::optional<std::string> previous_;

  HKEY Create(HKEY parent, const char* path, DWORD* disposition = nullptr) {
    HKEY key = nullptr;
    EXPECT_EQ(
        RegCreateKeyExA(parent, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, disposition),
        ERROR_SUCCESS)
        << path;
    return key;
  }
  void SetString(HKEY key, const char* name, const std::string& text) {
    EXPECT_EQ(RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                             static_cast<DWORD>(text.size() + 1)),
              ERROR_SUCCESS);
  }
  // The value's bytes and type, or the error.
  LONG Query(HKEY key, const char* name, std::string& data, DWORD& type) {
    DWORD size = 0;
    if (const LONG status = RegQueryValueExA(key, name, nullptr, &type, nullptr, &size))
      return status;
    data.assign(size, '\0');
    return RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size);
  }
  std::vector<std::string> SubKeys(HKEY key) {
    std::vector<std::string> names;
    char name[256];
    for (DWORD i = 0;; ++i) {
      DWORD length = sizeof name;
      const LONG status = RegEnumKeyExA(key, i, name, &length, nullptr, nullptr, nullptr, nullptr);
      if (status == ERROR_NO_MORE_ITEMS) break;
      EXPECT_EQ(status, ERROR_SUCCESS);
      if (status != ERROR_SUCCESS) break;
      names.emplace_back(name, length);
    }
    return names;
  }

  fs::path folder_;
  fs::path file_;
};

TEST_F(PosixRegistry, KeysAreCaseInsensitiveKeepTheirFirstNameAndNestByBackslashes) {
  DWORD disposition = 0;
  HKEY key = Create(HKEY_LOCAL_MACHINE, "Software\\Brimley\\Plug-Ins\\VID 84.dll", &disposition);
  EXPECT_EQ(disposition, DWORD{REG_CREATED_NEW_KEY});
  RegCloseKey(key);
  key = Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\brimley\\PLUG-INS\\vid 84.DLL\\", &disposition);
  EXPECT_EQ(disposition, DWORD{REG_OPENED_EXISTING_KEY});
  RegCloseKey(key);

  HKEY brimley = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "software\\BRIMLEY", 0, KEY_READ, &brimley),
            ERROR_SUCCESS);
  EXPECT_EQ(SubKeys(brimley), std::vector<std::string>{"Plug-Ins"});
  EXPECT_EQ(RegCloseKey(brimley), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(brimley), ERROR_INVALID_HANDLE);

  HKEY missing = reinterpret_cast<HKEY>(1);
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Nobody", 0, KEY_READ, &missing),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(missing, nullptr);
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "\\Software", 0, KEY_READ, &missing),
            ERROR_BAD_PATHNAME);
  EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\\\Twice", 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &missing, nullptr),
            ERROR_BAD_PATHNAME);

  // HKEY_CLASSES_ROOT is the machine's Software\Classes.
  RegCloseKey(Create(HKEY_CLASSES_ROOT, "CLSID\\{DE3C7405-C195-11D6-9691-C8E297C92840}"));
  HKEY clsid = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Classes\\CLSID", 0, KEY_READ, &clsid),
            ERROR_SUCCESS);
  EXPECT_EQ(SubKeys(clsid), std::vector<std::string>{"{DE3C7405-C195-11D6-9691-C8E297C92840}"});
  RegCloseKey(clsid);
  EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\Classes"), ERROR_ACCESS_DENIED);
}

TEST_F(PosixRegistry, ValuesAnswerSizesShortBuffersAndAccessAsWin32Does) {
  HKEY key = Create(HKEY_CURRENT_USER, "Values");
  SetString(key, nullptr, "ZAD VID 84");
  // Stored as given: eight bytes and no terminating NUL.
  ASSERT_EQ(
      RegSetValueExA(key, "HelpFilePath", 0, REG_SZ, reinterpret_cast<const BYTE*>("blah.hlp"), 8),
      ERROR_SUCCESS);
  const DWORD one = 1;
  ASSERT_EQ(
      RegSetValueExA(key, "HelpFileTopic", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4),
      ERROR_SUCCESS);
  EXPECT_EQ(RegSetValueExA(key, "Nothing", 0, REG_BINARY, nullptr, 3), ERROR_NOACCESS);

  DWORD type = 0, size = 0;
  EXPECT_EQ(RegQueryValueExA(key, "", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(type, DWORD{REG_SZ});
  EXPECT_EQ(size, 11u);
  char buffer[64];
  std::memset(buffer, 'x', sizeof buffer);
  size = 10;  // one short
  EXPECT_EQ(
      RegQueryValueExA(key, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size),
      ERROR_MORE_DATA);
  EXPECT_EQ(size, 11u);
  size = 11;
  EXPECT_EQ(
      RegQueryValueExA(key, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size),
      ERROR_SUCCESS);
  EXPECT_STREQ(buffer, "ZAD VID 84");
  EXPECT_EQ(
      RegQueryValueExA(key, nullptr, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), nullptr),
      ERROR_INVALID_PARAMETER);

  std::string data;
  ASSERT_EQ(Query(key, "helpfilepath", data, type), ERROR_SUCCESS);  // names ignore case too
  EXPECT_EQ(data, "blah.hlp");
  ASSERT_EQ(Query(key, "HELPFILETOPIC", data, type), ERROR_SUCCESS);
  EXPECT_EQ(type, DWORD{REG_DWORD});
  EXPECT_EQ(data, std::string("\x01\0\0\0", 4));
  EXPECT_EQ(Query(key, "Absent", data, type), ERROR_FILE_NOT_FOUND);

  // Rights follow the handle's access, as under Wine.
  HKEY reader = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Values", 0, KEY_READ, &reader), ERROR_SUCCESS);
  EXPECT_EQ(Query(reader, "HelpFilePath", data, type), ERROR_SUCCESS);
  EXPECT_EQ(RegSetValueExA(reader, "X", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4),
            ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteValueA(reader, "HelpFilePath"), ERROR_ACCESS_DENIED);

  char name[16];
  DWORD nameLength = sizeof name, valueSize = 0;
  ASSERT_EQ(RegEnumValueA(reader, 1, name, &nameLength, nullptr, &type, nullptr, &valueSize),
            ERROR_SUCCESS);
  EXPECT_STREQ(name, "HelpFilePath");
  EXPECT_EQ(nameLength, 12u);
  EXPECT_EQ(valueSize, 8u);
  nameLength = 12;  // no room for the NUL
  EXPECT_EQ(RegEnumValueA(reader, 1, name, &nameLength, nullptr, nullptr, nullptr, nullptr),
            ERROR_MORE_DATA);
  nameLength = sizeof name;
  EXPECT_EQ(RegEnumValueA(reader, 3, name, &nameLength, nullptr, nullptr, nullptr, nullptr),
            ERROR_NO_MORE_ITEMS);
  RegCloseKey(reader);

  EXPECT_EQ(RegDeleteValueA(key, "helpFILEpath"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueA(key, "HelpFilePath"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(Query(key, "HelpFilePath", data, type), ERROR_FILE_NOT_FOUND);
  RegCloseKey(key);
}

TEST_F(PosixRegistry, EnumeratesInNameOrderAndDeletesOnlyLeaves) {
  HKEY parent = Create(HKEY_LOCAL_MACHINE, "Tree");
  for (const char* name : {"beta", "Alpha", "gamma\\deep", "Delta"})
    RegCloseKey(Create(parent, name));
  EXPECT_EQ(SubKeys(parent), (std::vector<std::string>{"Alpha", "beta", "Delta", "gamma"}));

  char small[5];
  DWORD length = sizeof small;  // "Alpha" needs six
  EXPECT_EQ(RegEnumKeyExA(parent, 0, small, &length, nullptr, nullptr, nullptr, nullptr),
            ERROR_MORE_DATA);

  EXPECT_EQ(RegDeleteKeyA(parent, "GAMMA"), ERROR_ACCESS_DENIED);  // it has a subkey
  EXPECT_EQ(RegDeleteKeyA(parent, "gamma\\DEEP"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyA(parent, "gamma"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyA(parent, "gamma"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, ""), ERROR_ACCESS_DENIED);
  EXPECT_EQ(SubKeys(parent), (std::vector<std::string>{"Alpha", "beta", "Delta"}));

  // A handle outlives its key, but only to say so.
  HKEY alpha = Create(parent, "alpha");
  EXPECT_EQ(RegDeleteKeyA(parent, "Alpha"), ERROR_SUCCESS);
  std::string data;
  DWORD type;
  EXPECT_EQ(Query(alpha, "x", data, type), ERROR_KEY_DELETED);
  EXPECT_EQ(RegSetValueExA(alpha, "x", 0, REG_BINARY, nullptr, 0), ERROR_KEY_DELETED);
  RegCloseKey(alpha);
  RegCloseKey(parent);
}

TEST_F(PosixRegistry, TheFileIsRegTextThatReadsBackAsWritten) {
  HKEY key = Create(HKEY_CLASSES_ROOT, "CLSID\\{X}\\InprocServer32");
  SetString(key, nullptr, "/opt/a \"quoted\" C:\\path");
  SetString(key, "ThreadingModel", "Both");
  SetString(key, "Two lines", "one\ntwo");
  std::vector<BYTE> binary(60);
  for (size_t i = 0; i < binary.size(); ++i) binary[i] = static_cast<BYTE>(i * 7);
  ASSERT_EQ(RegSetValueExA(key, "Pins", 0, REG_BINARY, binary.data(), 60), ERROR_SUCCESS);
  const DWORD merit = 0x200000;
  ASSERT_EQ(RegSetValueExA(key, "Merit", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&merit), 4),
            ERROR_SUCCESS);
  RegCloseKey(key);

  const std::string text = ReadText(file_);
  EXPECT_EQ(text.rfind("Windows Registry Editor Version 5.00\n", 0), 0u);
  EXPECT_THAT(text, HasSubstr("\n[HKEY_LOCAL_MACHINE\\Software\\Classes\\CLSID\\{X}]\n"));
  EXPECT_THAT(text, HasSubstr("\n@=\"/opt/a \\\"quoted\\\" C:\\\\path\"\n"));
  EXPECT_THAT(text, HasSubstr("\n\"Merit\"=dword:00200000\n"));
  EXPECT_THAT(text, HasSubstr("\"Two lines\"=hex(1):6f,6e,65,0a,74,77,6f,00\n"));
  EXPECT_THAT(text, HasSubstr(",\\\n  "));  // long hex data continues on the next line

  // The same registry read back by a process of its own, through the file alone.
  const pid_t child = ::fork();
  if (child == 0) {
    HKEY reread = nullptr;
    std::string data;
    DWORD type = 0;
    bool same = RegOpenKeyExA(HKEY_CLASSES_ROOT, "clsid\\{x}\\INPROCSERVER32", 0, KEY_READ,
                              &reread) == ERROR_SUCCESS;
    same = same && Query(reread, nullptr, data, type) == ERROR_SUCCESS &&
           data == std::string("/opt/a \"quoted\" C:\\path\0", 24);
    same = same && Query(reread, "Two lines", data, type) == ERROR_SUCCESS && type == REG_SZ &&
           data == std::string("one\ntwo\0", 8);
    same = same && Query(reread, "Pins", data, type) == ERROR_SUCCESS && type == REG_BINARY &&
           data == std::string(binary.begin(), binary.end());
    _exit(same ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

  // Edits by hand are seen by the next call.
  WriteText(file_,
            "Windows Registry Editor Version 5.00\r\n\r\n; by hand\r\n"
            "[HKEY_CLASSES_ROOT\\Hand]\r\n\"Bytes\"=hex(7):61,00,\\\r\n  62,00,00\r\n");
  std::string data;
  DWORD type = 0;
  HKEY hand = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Classes\\hand", 0, KEY_READ, &hand),
            ERROR_SUCCESS);
  ASSERT_EQ(Query(hand, "bytes", data, type), ERROR_SUCCESS);
  EXPECT_EQ(type, DWORD{REG_MULTI_SZ});
  EXPECT_EQ(data, std::string("a\0b\0\0", 5));
  RegCloseKey(hand);
}

TEST_F(PosixRegistry, ADamagedFileIsRefusedLeftAsItIsAndReportedOnce) {
  fs::create_directories(file_.parent_path());
  const std::string damaged =
      "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\Kept]\n\"A\"=dword:1\n"
      "\"B\"=hex:0g\n";
  for (const std::string& text :
       {damaged, std::string(), std::string("Windows Registry Editor Version 5.00\n\0\0\0", 40),
        std::string("Windows Registry Editor Version 5.00\n\"A\"=\"outside\"\n")}) {
    WriteText(file_, text);
    testing::internal::CaptureStderr();
    HKEY key = nullptr;
    const DWORD one = 1;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Kept", 0, KEY_READ, &key), ERROR_BADDB);
    EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "New", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              &key, nullptr),
              ERROR_BADDB);
    EXPECT_EQ(key, nullptr);
    EXPECT_EQ(RegSetValueExA(HKEY_LOCAL_MACHINE, "V", 0, REG_DWORD,
                             reinterpret_cast<const BYTE*>(&one), 4),
              ERROR_BADDB);
    EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Kept"), ERROR_BADDB);
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(ReadText(file_), text);
    EXPECT_FALSE(fs::exists(file_.string() + ".tmp"));
    EXPECT_THAT(said, HasSubstr(file_.string() + " is damaged at line "));
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
  }

  // Mended, it works again.
  WriteText(file_, "REGEDIT4\n[HKEY_LOCAL_MACHINE\\Kept]\n");
  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Kept", 0, KEY_READ, &key), ERROR_SUCCESS);
  RegCloseKey(key);
}

TEST_F(PosixRegistry, ProcessesWritingAtOnceKeepEachOthersKeys) {
  constexpr int kProcesses = 3, kKeys = 30;
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    const pid_t child = ::fork();
    if (child == 0) {
      bool ok = true;
      for (int k = 0; k < kKeys; ++k) {
        const std::string name = "Shared\\P" + std::to_string(p) + "K" + std::to_string(k);
        HKEY key = nullptr;
        ok = ok && RegCreateKeyExA(HKEY_CLASSES_ROOT, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                   nullptr, &key, nullptr) == ERROR_SUCCESS;
        ok = ok &&
             RegSetValueExA(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(name.c_str()),
                            static_cast<DWORD>(name.size() + 1)) == ERROR_SUCCESS;
        RegCloseKey(key);
      }
      _exit(ok ? 0 : 1);
    }
    children.push_back(child);
  }
  for (const pid_t child : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  HKEY shared = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, "Shared", 0, KEY_READ, &shared), ERROR_SUCCESS);
  EXPECT_EQ(SubKeys(shared).size(), size_t{kProcesses * kKeys});
  std::string data;
  DWORD type;
  HKEY last = nullptr;
  ASSERT_EQ(RegOpenKeyExA(shared, "P2K29", 0, KEY_READ, &last), ERROR_SUCCESS);
  EXPECT_EQ(Query(last, nullptr, data, type), ERROR_SUCCESS);
  EXPECT_EQ(data, std::string("Shared\\P2K29") + '\0');
  RegCloseKey(last);
  RegCloseKey(shared);
}

int gReadyPipe = -1;

// Stands for a crash between writing the new contents and putting them in place.
void StopBeforeReplace() {
  const char ready = 1;
  (void)!::write(gReadyPipe, &ready, 1);
  while (true) ::pause();
}

TEST_F(PosixRegistry, AWriterKilledBeforeTheRenameLeavesTheOldFile) {
  RegCloseKey(Create(HKEY_LOCAL_MACHINE, "Before"));
  const std::string before = ReadText(file_);

  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    gReadyPipe = ready[1];
    SetRegistryBeforeReplaceHookForTesting(StopBeforeReplace);
    HKEY key = nullptr;
    RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Lost", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                    nullptr);
    _exit(1);
  }
  char signal = 0;
  ASSERT_EQ(::read(ready[0], &signal, 1), 1);
  EXPECT_THAT(ReadText(file_.string() + ".tmp"), HasSubstr("[HKEY_LOCAL_MACHINE\\Lost]"));
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  ::close(ready[0]);
  ::close(ready[1]);

  EXPECT_EQ(ReadText(file_), before);
  // The dead writer's lock went with it.
  RegCloseKey(Create(HKEY_LOCAL_MACHINE, "After"));
  HKEY lost = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Lost", 0, KEY_READ, &lost), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Before", 0, KEY_READ, &lost), ERROR_SUCCESS);
  RegCloseKey(lost);
  EXPECT_FALSE(fs::exists(file_.string() + ".tmp"));
}

}  // namespace
}  // namespace brvst::platform
