// COM basics: GUID text forms and the task allocator, on both platforms.
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// {DE3C7405-C195-11D6-9691-C8E297C92840}
constexpr GUID kGuid = {
    0xDE3C7405, 0xC195, 0x11D6, {0x96, 0x91, 0xC8, 0xE2, 0x97, 0xC9, 0x28, 0x40}};

std::u16string Text(const GUID& guid) {
  WCHAR buffer[39];
  const int length = StringFromGUID2(guid, buffer, 39);
  return length == 39 ? std::u16string(buffer, buffer + 38) : std::u16string();
}

TEST(Guids, TextRoundTripsAndOnlyTheExactFormParses) {
  EXPECT_EQ(Text(kGuid), u"{DE3C7405-C195-11D6-9691-C8E297C92840}");
  WCHAR small[38];
  EXPECT_EQ(StringFromGUID2(kGuid, small, 38), 0);

  CLSID parsed{};
  ASSERT_EQ(CLSIDFromString(reinterpret_cast<LPCOLESTR>(u"{de3c7405-c195-11d6-9691-c8e297c92840}"),
                            &parsed),
            S_OK);
  EXPECT_TRUE(IsEqualGUID(parsed, kGuid));
  for (const char16_t* bad :
       {u"{DE3C7405-C195-11D6-9691-C8E297C9284}", u"{DE3C7405-C195-11D6-9691-C8E297C928400}",
        u"{0x3C7405-C195-11D6-9691-C8E297C92840}", u"{ E3C7405-C195-11D6-9691-C8E297C92840}",
        u"DE3C7405-C195-11D6-9691-C8E297C92840"}) {
    EXPECT_EQ(CLSIDFromString(reinterpret_cast<LPCOLESTR>(bad), &parsed), CO_E_CLASSSTRING);
  }
}

TEST(TaskAllocator, ReallocatingToZeroFreesTheBlock) {
  void* block = CoTaskMemAlloc(16);
  ASSERT_NE(block, nullptr);
  block = CoTaskMemRealloc(block, 64);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(CoTaskMemRealloc(block, 0), nullptr);
}

}  // namespace
