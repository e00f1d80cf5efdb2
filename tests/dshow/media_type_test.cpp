// CMediaType and the task-memory media-type helpers.
#include "com_conformance.h"
#include "test_pins.h"

#include <gtest/gtest.h>

#include <cstring>

namespace brvst::test {
namespace {

// A counted object to watch what media types do with pUnk.
class Counted final : public IUnknown {
 public:
  STDMETHODIMP QueryInterface(REFIID, void** ppv) override {
    *ppv = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++refs); }
  STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(--refs); }
  LONG refs = 1;
};

TEST(MediaType, NewTypeIsEmptyAndFixedSize) {
  const CMediaType type;
  EXPECT_FALSE(type.IsValid());
  EXPECT_TRUE(type.IsPartiallySpecified());
  EXPECT_TRUE(type.IsFixedSize());
  EXPECT_EQ(type.GetSampleSize(), 1u);
  EXPECT_EQ(type.FormatLength(), 0u);
  EXPECT_EQ(type.Format(), nullptr);
}

TEST(MediaType, CopiesOwnTheirFormatBlockAndPunk) {
  Counted counted;
  CMediaType original = AudioType(44100);
  original.pUnk = &counted;
  counted.AddRef();
  {
    const CMediaType copy(original);
    EXPECT_EQ(counted.refs, 3);
    EXPECT_TRUE(copy == original);
    EXPECT_NE(copy.Format(), original.Format());
    AM_MEDIA_TYPE* task = CreateMediaType(&copy);
    ASSERT_NE(task, nullptr);
    EXPECT_EQ(counted.refs, 4);
    EXPECT_EQ(std::memcmp(task->pbFormat, original.pbFormat, original.cbFormat), 0);
    DeleteMediaType(task);
    EXPECT_EQ(counted.refs, 3);
  }
  EXPECT_EQ(counted.refs, 2);
  // Assignment frees what the target held before copying.
  CMediaType target = AudioType(8000);
  target = original;
  EXPECT_TRUE(target == original);
  EXPECT_EQ(counted.refs, 3);
  target.InitMediaType();
  EXPECT_EQ(counted.refs, 2);
  EXPECT_FALSE(target.IsValid());
  FreeMediaType(original);
  EXPECT_EQ(counted.refs, 1);
  DeleteMediaType(nullptr);
}

TEST(MediaType, EqualityLooksAtTypesAndFormatBlock) {
  EXPECT_TRUE(AudioType(44100) == AudioType(44100));
  EXPECT_TRUE(AudioType(44100) != AudioType(48000));
  EXPECT_TRUE(AudioType(44100) != AudioType(44100, MEDIASUBTYPE_IEEE_FLOAT));
  CMediaType shorter = AudioType(44100);
  shorter.ReallocFormatBuffer(16);
  EXPECT_TRUE(shorter != AudioType(44100));
  // Reallocation keeps the leading bytes.
  EXPECT_EQ(std::memcmp(shorter.Format(), AudioType(44100).Format(), 16), 0);
}

TEST(MediaType, PartialTemplates) {
  const CMediaType type = AudioType(44100);
  CMediaType partial;
  EXPECT_TRUE(type.MatchesPartial(&partial));
  partial.SetType(&MEDIATYPE_Audio);
  EXPECT_TRUE(type.MatchesPartial(&partial));
  partial.SetSubtype(&MEDIASUBTYPE_IEEE_FLOAT);
  EXPECT_FALSE(type.MatchesPartial(&partial));
  partial.SetSubtype(&GUID_NULL);
  // A format type in the template binds the format block.
  partial.SetFormatType(&FORMAT_WaveFormatEx);
  EXPECT_FALSE(type.MatchesPartial(&partial));
  EXPECT_TRUE(type.MatchesPartial(&type));
  EXPECT_FALSE(AudioType(48000).MatchesPartial(&type));
  EXPECT_FALSE(type.IsPartiallySpecified());
}

TEST(MediaType, FormatBufferAndSampleSize) {
  CMediaType type;
  const BYTE bytes[4] = {1, 2, 3, 4};
  ASSERT_TRUE(type.SetFormat(bytes, 4));
  BYTE* first = type.Format();
  EXPECT_EQ(type.AllocFormatBuffer(4), first);  // same length: kept
  ASSERT_NE(type.AllocFormatBuffer(8), nullptr);
  EXPECT_EQ(type.FormatLength(), 8u);
  type.ResetFormatBuffer();
  EXPECT_EQ(type.FormatLength(), 0u);
  EXPECT_FALSE(type.SetFormat(nullptr, 4));
  type.SetSampleSize(0);
  EXPECT_FALSE(type.IsFixedSize());
  EXPECT_EQ(type.GetSampleSize(), 0u);
  type.SetSampleSize(4);
  EXPECT_TRUE(type.IsFixedSize());
  EXPECT_EQ(type.GetSampleSize(), 4u);
}

}  // namespace
}  // namespace brvst::test
