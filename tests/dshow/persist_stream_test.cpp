// CPersistStream: the version prefix, the dirty flag and GetSizeMax.
#include "dshow/persist_stream.h"
#include "memory_stream.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace brvst::test {
namespace {

// A persistent object with a 4-byte body.
class Persisted final : public CPersistStream {
 public:
  Persisted() : CPersistStream(nullptr, nullptr) {}
  STDMETHODIMP QueryInterface(REFIID, void**) override { return E_NOTIMPL; }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP GetClassID(CLSID* clsid) override {
    *clsid = GUID_NULL;
    return S_OK;
  }
  DWORD GetSoftwareVersion() override { return version; }
  int SizeMax() override { return 4; }
  HRESULT WriteToStream(IStream* stream) override {
    ++writes;
    return stream->Write(&body, sizeof body, nullptr);
  }
  HRESULT ReadFromStream(IStream* stream) override {
    ++reads;
    return stream->Read(&body, sizeof body, nullptr);
  }
  BOOL Dirty() const { return mPS_fDirty; }

  DWORD version = 0;
  uint32_t body = 0x04030201;
  int writes = 0;
  int reads = 0;
};

// The prefix as the bytes of UTF-16 text.
std::vector<uint8_t> Prefix(const std::string& text) {
  std::vector<uint8_t> bytes;
  for (char c : text) {
    bytes.push_back(static_cast<uint8_t>(c));
    bytes.push_back(0);
  }
  return bytes;
}

std::vector<uint8_t> Concat(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(PersistStream, SaveWritesTheVersionPrefixThenTheBody) {
  Persisted object;
  MemoryStream stream;
  EXPECT_EQ(object.IsDirty(), S_FALSE);
  ASSERT_EQ(object.Save(&stream, FALSE), S_OK);
  EXPECT_EQ(stream.Bytes(), Concat(Prefix("00000000000 "), {1, 2, 3, 4}));
  EXPECT_EQ(object.IsDirty(), S_OK) << "Save without clearing leaves the object dirty";
  MemoryStream again;
  ASSERT_EQ(object.Save(&again, TRUE), S_OK);
  EXPECT_EQ(object.IsDirty(), S_FALSE);
  object.SetDirty(TRUE);
  EXPECT_EQ(object.IsDirty(), S_OK);

  object.version = 42;
  MemoryStream versioned;
  ASSERT_EQ(object.Save(&versioned, TRUE), S_OK);
  EXPECT_EQ(std::vector<uint8_t>(versioned.Bytes().begin(), versioned.Bytes().begin() + 24),
            Prefix("00000000042 "));

  ULARGE_INTEGER size{};
  ASSERT_EQ(object.GetSizeMax(&size), S_OK);
  EXPECT_EQ(size.QuadPart, 28u);
  EXPECT_EQ(object.GetSizeMax(nullptr), E_POINTER);
  EXPECT_EQ(object.Save(nullptr, TRUE), E_POINTER);
}

TEST(PersistStream, AFailedWriteLeavesTheDirtyFlag) {
  Persisted object;
  object.SetDirty(TRUE);
  MemoryStream stream;
  stream.FailFrom(10, STG_E_WRITEFAULT);
  EXPECT_EQ(object.Save(&stream, TRUE), STG_E_WRITEFAULT);
  EXPECT_EQ(object.writes, 0) << "no body after a failed prefix";
  EXPECT_EQ(object.IsDirty(), S_OK);
  MemoryStream shortBody;
  shortBody.FailFrom(26, STG_E_WRITEFAULT);
  EXPECT_EQ(object.Save(&shortBody, TRUE), STG_E_WRITEFAULT);
  EXPECT_EQ(object.IsDirty(), S_OK);
}

TEST(PersistStream, LoadParsesThePrefix) {
  struct Case {
    std::string prefix;
    HRESULT result;
    DWORD version;
  };
  const Case cases[] = {
      {"00000000000 ", S_OK, 0},
      {"-0000000042 ", S_OK, static_cast<DWORD>(-42)},
      {"00000000007\t", S_OK, 7},
      {"7\n", S_OK, 7},
      {"12\r", S_OK, 12},
      {"0000000000x ", VFW_E_INVALID_FILE_FORMAT, 0},
      {"-x", VFW_E_INVALID_FILE_FORMAT, 0},
  };
  for (const Case& test : cases) {
    Persisted object;
    MemoryStream stream(Concat(Prefix(test.prefix), {9, 9, 9, 9}));
    EXPECT_EQ(object.Load(&stream), test.result) << test.prefix;
    EXPECT_EQ(object.reads, test.result == S_OK ? 1 : 0) << test.prefix;
    if (test.result == S_OK) {
      EXPECT_EQ(object.FileVersion(), test.version) << test.prefix;
      EXPECT_EQ(object.body, 0x09090909u) << test.prefix;
    }
  }
  // A NUL character ends the number as well.
  Persisted object;
  MemoryStream terminated(Concat(Prefix("5"), {0, 0, 1, 1, 1, 1}));
  EXPECT_EQ(object.Load(&terminated), S_OK);
  EXPECT_EQ(object.FileVersion(), 5u);

  MemoryStream failing(Prefix("00000000000 "));
  failing.FailFrom(4, STG_E_READFAULT);
  EXPECT_EQ(object.Load(&failing), STG_E_READFAULT);
  EXPECT_EQ(object.Load(nullptr), E_POINTER);
}

TEST(PersistStream, RoundTrip) {
  Persisted saved;
  saved.version = 3;
  saved.body = 0xCAFEF00D;
  MemoryStream stream;
  ASSERT_EQ(saved.Save(&stream, TRUE), S_OK);
  stream.Rewind();
  Persisted loaded;
  ASSERT_EQ(loaded.Load(&stream), S_OK);
  EXPECT_EQ(loaded.FileVersion(), 3u);
  EXPECT_EQ(loaded.body, 0xCAFEF00Du);
  EXPECT_EQ(stream.Position(), stream.Bytes().size());
}

}  // namespace
}  // namespace brvst::test
