// CPersistStream: the version prefix, the dirty flag and GetSizeMax.
#include "dshow/persist_stream.h"
#include "host/memory_stream.h"

#include <gtest/gtest.h>

namespace brvst::test {

using host::MemoryStream;
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
  HRESULT WriteToStream(IStream* stream) override { return stream->Write(&body, 4, nullptr); }
  HRESULT ReadFromStream(IStream* stream) override { return stream->Read(&body, 4, nullptr); }

  DWORD version = 0;
  uint32_t body = 0x04030201;
};

// The text as UTF-16 bytes, followed by `tail`.
std::vector<uint8_t> Wide(const std::string& text, std::vector<uint8_t> tail = {}) {
  std::vector<uint8_t> bytes;
  for (char c : text) bytes.insert(bytes.end(), {static_cast<uint8_t>(c), 0});
  bytes.insert(bytes.end(), tail.begin(), tail.end());
  return bytes;
}

TEST(PersistStream, SaveWritesTheVersionPrefixThenTheBodyAndLoadReadsThem) {
  Persisted object;
  MemoryStream stream;
  EXPECT_EQ(object.IsDirty(), S_FALSE);
  ASSERT_EQ(object.Save(&stream, FALSE), S_OK);
  EXPECT_EQ(stream.Bytes(), Wide("00000000000 ", {1, 2, 3, 4}));
  EXPECT_EQ(object.IsDirty(), S_OK) << "Save without clearing leaves the object dirty";
  object.version = 42;
  object.body = 0xCAFEF00D;
  MemoryStream versioned;
  ASSERT_EQ(object.Save(&versioned, TRUE), S_OK);
  EXPECT_EQ(object.IsDirty(), S_FALSE);
  EXPECT_EQ(versioned.Bytes(), Wide("00000000042 ", {0x0D, 0xF0, 0xFE, 0xCA}));

  versioned.Rewind();
  Persisted loaded;
  ASSERT_EQ(loaded.Load(&versioned), S_OK);
  EXPECT_EQ(loaded.FileVersion(), 42u);
  EXPECT_EQ(loaded.body, 0xCAFEF00Du);

  ULARGE_INTEGER size{};
  ASSERT_EQ(object.GetSizeMax(&size), S_OK);
  EXPECT_EQ(size.QuadPart, 28u) << "the body's most and the prefix";
}

TEST(PersistStream, LoadParsesThePrefixAndFailuresPassThrough) {
  struct Case {
    std::string prefix;
    HRESULT result;
    DWORD version;
  };
  const Case cases[] = {
      {"-0000000042 ", S_OK, static_cast<DWORD>(-42)},
      {"00000000007\t", S_OK, 7},
      {std::string("5\0", 2), S_OK, 5},
      {"0000000000x ", VFW_E_INVALID_FILE_FORMAT, 0},
      {"-x", VFW_E_INVALID_FILE_FORMAT, 0},
  };
  for (const Case& test : cases) {
    Persisted object;
    MemoryStream stream(Wide(test.prefix, {9, 9, 9, 9}));
    EXPECT_EQ(object.Load(&stream), test.result) << test.prefix;
    EXPECT_EQ(object.FileVersion(), test.version) << test.prefix;
    EXPECT_EQ(object.body, test.result == S_OK ? 0x09090909u : 0x04030201u)
        << test.prefix << ": the body is read after a good prefix only";
  }
  // A stream that ends inside the prefix fails, also when it answers the short read with S_OK.
  for (HRESULT shortRead : {S_FALSE, S_OK}) {
    Persisted truncated;
    MemoryStream stream(Wide("0000"));
    stream.ShortReadsAnswer(shortRead);
    EXPECT_EQ(truncated.Load(&stream), E_FAIL);
    EXPECT_EQ(truncated.body, 0x04030201u);
  }
  // A failed read or write is the stream's error; a failed save leaves the object dirty.
  Persisted object;
  MemoryStream failing(Wide("00000000000 "));
  failing.FailFrom(4, STG_E_READFAULT);
  EXPECT_EQ(object.Load(&failing), STG_E_READFAULT);
  object.SetDirty(TRUE);
  failing.FailFrom(10, STG_E_WRITEFAULT);
  EXPECT_EQ(object.Save(&failing, TRUE), STG_E_WRITEFAULT);
  EXPECT_EQ(failing.Bytes(), Wide("00000000000 ")) << "no body after a failed prefix";
  EXPECT_EQ(object.IsDirty(), S_OK);
}

}  // namespace
}  // namespace brvst::test
