// CMediaType and the task-memory media-type helpers.
#include "test_pins.h"

#include <cstring>

namespace brvst::test {
namespace {

TEST(MediaType, CopiesOwnTheirFormatBlockAndPunk) {
  FakeOuter counted;  // a plain counted object, to watch what media types do with pUnk
  CMediaType original = AudioType(44100);
  original.pUnk = &counted;
  counted.AddRef();
  {
    const CMediaType copy(original);
    EXPECT_EQ(counted.Refs(), 3);
    EXPECT_TRUE(copy == original);
    EXPECT_NE(copy.Format(), original.Format());
    AM_MEDIA_TYPE* task = CreateMediaType(&copy);
    ASSERT_NE(task, nullptr);
    EXPECT_EQ(counted.Refs(), 4);
    EXPECT_EQ(std::memcmp(task->pbFormat, original.pbFormat, original.cbFormat), 0);
    DeleteMediaType(task);
    EXPECT_EQ(counted.Refs(), 3);
  }
  EXPECT_EQ(counted.Refs(), 2);
  // Assignment frees what the target held before copying.
  CMediaType target = AudioType(8000);
  target = original;
  EXPECT_TRUE(target == original);
  EXPECT_EQ(counted.Refs(), 3);
  target.InitMediaType();
  EXPECT_EQ(counted.Refs(), 2);
  EXPECT_EQ(target.FormatLength(), 0u);
  EXPECT_EQ(target.GetSampleSize(), 1u) << "as a new type";
  FreeMediaType(original);
  EXPECT_EQ(counted.Refs(), 1);
  DeleteMediaType(nullptr);
}

TEST(MediaType, EqualityAndPartialTemplates) {
  const CMediaType type = AudioType(44100);
  EXPECT_TRUE(type != AudioType(48000));
  EXPECT_TRUE(type != AudioType(44100, true));
  CMediaType shorter = AudioType(44100);
  ASSERT_NE(shorter.ReallocFormatBuffer(16), nullptr);
  EXPECT_TRUE(shorter != type);
  EXPECT_EQ(std::memcmp(shorter.Format(), type.Format(), 16), 0) << "leading bytes kept";
  EXPECT_FALSE(shorter.SetFormat(nullptr, 4));

  CMediaType partial;
  EXPECT_TRUE(type.MatchesPartial(&partial));
  partial.SetType(&MEDIATYPE_Audio);
  EXPECT_TRUE(type.MatchesPartial(&partial));
  partial.SetSubtype(&MEDIASUBTYPE_IEEE_FLOAT);
  EXPECT_FALSE(type.MatchesPartial(&partial));
  partial.SetSubtype(&GUID_NULL);
  EXPECT_TRUE(partial.IsPartiallySpecified());
  // A format type in the template binds the format block.
  partial.SetFormatType(&FORMAT_WaveFormatEx);
  EXPECT_FALSE(partial.IsPartiallySpecified());
  EXPECT_FALSE(type.MatchesPartial(&partial));
  EXPECT_TRUE(type.MatchesPartial(&type));
  EXPECT_FALSE(AudioType(48000).MatchesPartial(&type));
}

}  // namespace
}  // namespace brvst::test
