// Text conversion, string functions and GUID text forms. Runs against our layer on Linux and
// against the system under Wine, so both must agree; code page 1252 is named explicitly where the
// system's ANSI code page may differ.
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <string>

namespace {

constexpr UINT kWindows1252 = 1252;

// Conversions into ample buffers; empty when they fail.
std::u16string ToWide(UINT codePage, const std::string& in, DWORD flags = 0) {
  WCHAR out[512];
  const int n =
      MultiByteToWideChar(codePage, flags, in.data(), static_cast<int>(in.size()), out, 512);
  return std::u16string(out, out + n);
}

std::string ToNarrow(UINT codePage, const std::u16string& in, DWORD flags = 0) {
  char out[1024];
  const int n = WideCharToMultiByte(codePage, flags, reinterpret_cast<LPCWSTR>(in.data()),
                                    static_cast<int>(in.size()), out, sizeof out, nullptr, nullptr);
  return std::string(out, static_cast<size_t>(n));
}

TEST(Windows1252, MapsEveryByteAndBackIncludingTheHighControlBlock) {
  std::string all;
  for (int i = 1; i < 256; ++i) all += static_cast<char>(i);
  const std::u16string wide = ToWide(kWindows1252, all);
  ASSERT_EQ(wide.size(), 255u);
  // The block Windows-1252 fills with typographic characters, and the five bytes it leaves
  // undefined, which Windows maps to the C1 controls of the same value; every other byte is its
  // own code point.
  const char16_t high[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                             0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                             0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                             0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
  for (int b = 1; b < 256; ++b)
    EXPECT_EQ(static_cast<int>(wide[static_cast<size_t>(b - 1)]),
              b >= 0x80 && b <= 0x9F ? static_cast<int>(high[b - 0x80]) : b)
        << "byte " << b;
  EXPECT_EQ(ToNarrow(kWindows1252, wide), all);
  if (GetACP() == kWindows1252) {
    EXPECT_EQ(ToWide(CP_ACP, "\x80"), u"\u20AC");
  }
}

TEST(Utf8, RoundTripsAllPlanesAndReplacesOrRefusesIllFormedText) {
  const std::string utf8 = "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";  // A, e acute, euro, emoji
  EXPECT_EQ(ToWide(CP_UTF8, utf8), u"A\u00E9\u20AC\U0001F600");
  EXPECT_EQ(ToNarrow(CP_UTF8, u"A\u00E9\u20AC\U0001F600"), utf8);

  // A stray continuation byte, an impossible byte, an encoded surrogate.
  for (const std::string bad : {"a\x80z", "a\xFFz", "a\xED\xA0\x80z"}) {
    const std::u16string wide = ToWide(CP_UTF8, bad);
    ASSERT_FALSE(wide.empty()) << bad;
    EXPECT_EQ(wide.front(), u'a');
    EXPECT_EQ(wide.back(), u'z');
    EXPECT_NE(wide.find(u'\uFFFD'), std::u16string::npos);
    SetLastError(0);
    EXPECT_EQ(ToWide(CP_UTF8, bad, MB_ERR_INVALID_CHARS), u"");
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
  }
  // A lone surrogate becomes U+FFFD, or a failure when asked to be strict.
  EXPECT_EQ(ToNarrow(CP_UTF8, u"a\xD800z"), "a\xEF\xBF\xBDz");
  SetLastError(0);
  EXPECT_EQ(ToNarrow(CP_UTF8, u"a\xD800z", WC_ERR_INVALID_CHARS), "");
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
}

TEST(Conversion, LengthsSizeQueriesAndShortBuffers) {
  // -1 converts the terminator too and counts it.
  EXPECT_EQ(MultiByteToWideChar(kWindows1252, 0, "abc", -1, nullptr, 0), 4);

  // An explicit count converts embedded terminators as characters, as the adapter's 32-byte
  // buffers need.
  WCHAR wide[8];
  EXPECT_EQ(MultiByteToWideChar(kWindows1252, MB_PRECOMPOSED, "ab\0\0", 4, wide, 8), 4);
  EXPECT_EQ(wide[1], 'b');
  EXPECT_EQ(wide[3], 0);

  // One unit short fails with ERROR_INSUFFICIENT_BUFFER; exactly enough succeeds.
  SetLastError(0);
  EXPECT_EQ(MultiByteToWideChar(kWindows1252, 0, "abc", -1, wide, 3), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(MultiByteToWideChar(kWindows1252, 0, "abc", -1, wide, 4), 4);

  // A zero count is an error, not an empty string.
  SetLastError(0);
  EXPECT_EQ(MultiByteToWideChar(kWindows1252, 0, "abc", 0, wide, 8), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(Strings, LengthAndCaseInsensitiveComparison) {
  EXPECT_EQ(lstrlenW(reinterpret_cast<LPCWSTR>(u"VID 84")), 6);
  EXPECT_EQ(lstrlenW(nullptr), 0);
  EXPECT_EQ(lstrcmpiA("Main", "MAIN"), 0);
  EXPECT_LT(lstrcmpiA("abc", "ABD"), 0);
  EXPECT_GT(lstrcmpiA("abcd", "ABC"), 0);
  EXPECT_EQ(lstrcmpiA("\xC9t\xE9", "\xE9T\xC9"), 0);  // accented capitals of the code page
}

TEST(Guids, TextRoundTripsAndOnlyTheExactFormParses) {
  // {DE3C7405-C195-11D6-9691-C8E297C92840}
  constexpr GUID kGuid = {
      0xDE3C7405, 0xC195, 0x11D6, {0x96, 0x91, 0xC8, 0xE2, 0x97, 0xC9, 0x28, 0x40}};
  WCHAR text[39];
  EXPECT_EQ(StringFromGUID2(kGuid, text, 38), 0);
  ASSERT_EQ(StringFromGUID2(kGuid, text, 39), 39);
  EXPECT_EQ(std::u16string(text, text + 38), u"{DE3C7405-C195-11D6-9691-C8E297C92840}");

  CLSID parsed{};
  ASSERT_EQ(CLSIDFromString(reinterpret_cast<LPCOLESTR>(u"{de3c7405-c195-11d6-9691-c8e297c92840}"),
                            &parsed),
            S_OK);
  EXPECT_TRUE(IsEqualGUID(parsed, kGuid));
  // One digit short, one too many, "0x", a space, no braces: sscanf alone would take some.
  for (const char16_t* bad :
       {u"{DE3C7405-C195-11D6-9691-C8E297C9284}", u"{DE3C7405-C195-11D6-9691-C8E297C928400}",
        u"{0x3C7405-C195-11D6-9691-C8E297C92840}", u"{ E3C7405-C195-11D6-9691-C8E297C92840}",
        u"DE3C7405-C195-11D6-9691-C8E297C92840"}) {
    EXPECT_EQ(CLSIDFromString(reinterpret_cast<LPCOLESTR>(bad), &parsed), CO_E_CLASSSTRING);
  }
}

}  // namespace
