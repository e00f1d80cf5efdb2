// Text conversion. Runs against our layer on Linux and against the system under Wine, so both
// must agree; code page 1252 is named explicitly where the system's ANSI code page may differ.
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <string>

namespace {

constexpr UINT kWindows1252 = 1252;

std::u16string ToWide(UINT codePage, const std::string& text, DWORD flags = 0) {
  const int size =
      MultiByteToWideChar(codePage, flags, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::u16string wide(static_cast<size_t>(size), u'\0');
  if (size > 0)
    MultiByteToWideChar(codePage, flags, text.data(), static_cast<int>(text.size()),
                        reinterpret_cast<LPWSTR>(wide.data()), size);
  return wide;
}

std::string ToNarrow(UINT codePage, const std::u16string& wide, DWORD flags = 0) {
  auto in = reinterpret_cast<LPCWSTR>(wide.data());
  const int count = static_cast<int>(wide.size());
  const int size = WideCharToMultiByte(codePage, flags, in, count, nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<size_t>(size), '\0');
  if (size > 0)
    WideCharToMultiByte(codePage, flags, in, count, text.data(), size, nullptr, nullptr);
  return text;
}

TEST(Windows1252, MapsEveryByteAndBackIncludingTheHighControlBlock) {
  std::string all;
  for (int i = 1; i < 256; ++i) all += static_cast<char>(i);
  const std::u16string wide = ToWide(kWindows1252, all);
  ASSERT_EQ(wide.size(), 255u);
  // The block Windows-1252 fills with typographic characters, and the five bytes it leaves
  // undefined, which Windows maps to the C1 controls of the same value.
  const char16_t expected[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                 0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
  for (int b = 0x80; b <= 0x9F; ++b)
    EXPECT_EQ(static_cast<int>(wide[static_cast<size_t>(b - 1)]),
              static_cast<int>(expected[b - 0x80]))
        << "byte " << b;
  EXPECT_EQ(wide[0x41 - 1], u'A');
  EXPECT_EQ(wide[0xE9 - 1], u'\u00E9');
  EXPECT_EQ(ToNarrow(kWindows1252, wide), all);
}

TEST(Windows1252, CharactersOutsideTheCodePageBecomeTheDefaultCharacter) {
  const std::u16string wide = u"a\u4E00b\U0001F600c";
  char out[16] = {};
  BOOL usedDefault = FALSE;
  int n = WideCharToMultiByte(kWindows1252, 0, reinterpret_cast<LPCWSTR>(wide.c_str()), -1, out,
                              sizeof out, nullptr, &usedDefault);
  EXPECT_EQ(std::string(out), "a?b??c");  // one for each half of a surrogate pair
  EXPECT_EQ(n, 7);
  EXPECT_TRUE(usedDefault);

  n = WideCharToMultiByte(kWindows1252, 0, reinterpret_cast<LPCWSTR>(u"x\u4E00"), -1, out,
                          sizeof out, "#", &usedDefault);
  EXPECT_EQ(std::string(out), "x#");

  n = WideCharToMultiByte(kWindows1252, 0, reinterpret_cast<LPCWSTR>(u"\u20AC"), -1, out,
                          sizeof out, nullptr, &usedDefault);
  EXPECT_EQ(std::string(out), "\x80");
  EXPECT_FALSE(usedDefault);
}

TEST(Utf8, RoundTripsAllPlanes) {
  const std::string utf8 = "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";  // A, e acute, euro, emoji
  const std::u16string wide = ToWide(CP_UTF8, utf8);
  EXPECT_EQ(wide, u"A\u00E9\u20AC\U0001F600");
  EXPECT_EQ(ToNarrow(CP_UTF8, wide), utf8);
}

TEST(Utf8, IllFormedInputIsReplacedOrRefused) {
  // A stray continuation byte, an impossible byte, an encoded surrogate.
  for (const std::string bad : {"a\x80z", "a\xFFz", "a\xED\xA0\x80z"}) {
    const std::u16string wide = ToWide(CP_UTF8, bad);
    ASSERT_FALSE(wide.empty()) << bad;
    EXPECT_EQ(wide.front(), u'a');
    EXPECT_EQ(wide.back(), u'z');
    EXPECT_NE(wide.find(u'\uFFFD'), std::u16string::npos);

    WCHAR ignored[8];
    SetLastError(0);
    EXPECT_EQ(MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bad.data(),
                                  static_cast<int>(bad.size()), ignored, 8),
              0);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
  }
  // A lone surrogate becomes U+FFFD, or a failure when asked to be strict.
  const std::u16string lone = u"a\xD800z";
  EXPECT_EQ(ToNarrow(CP_UTF8, lone), "a\xEF\xBF\xBDz");
  char out[8];
  SetLastError(0);
  EXPECT_EQ(
      WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, reinterpret_cast<LPCWSTR>(lone.data()), 3,
                          out, sizeof out, nullptr, nullptr),
      0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_UNICODE_TRANSLATION));
}

TEST(Conversion, LengthsSizeQueriesAndShortBuffers) {
  // -1 converts the terminator too and counts it.
  EXPECT_EQ(MultiByteToWideChar(kWindows1252, 0, "abc", -1, nullptr, 0), 4);
  EXPECT_EQ(MultiByteToWideChar(kWindows1252, 0, "abc", 3, nullptr, 0), 3);
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, reinterpret_cast<LPCWSTR>(u"\u20AC"), -1, nullptr, 0,
                                nullptr, nullptr),
            4);

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
  char narrow[4];
  SetLastError(0);
  EXPECT_EQ(WideCharToMultiByte(CP_UTF8, 0, reinterpret_cast<LPCWSTR>(u"\u00E9\u00E9"), 2, narrow,
                                3, nullptr, nullptr),
            0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));

  // A zero count is an error, not an empty string.
  SetLastError(0);
  EXPECT_EQ(MultiByteToWideChar(kWindows1252, 0, "abc", 0, wide, 8), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

TEST(Conversion, AnsiCodePageIsWindows1252) {
  if (GetACP() != kWindows1252) GTEST_SKIP() << "this system's ANSI code page is " << GetACP();
  WCHAR wide[2];
  ASSERT_EQ(MultiByteToWideChar(CP_ACP, 0, "\x80", 1, wide, 2), 1);
  EXPECT_EQ(wide[0], 0x20AC);
}

TEST(Strings, LengthAndCaseInsensitiveComparison) {
  EXPECT_EQ(lstrlenW(reinterpret_cast<LPCWSTR>(u"VID 84")), 6);
  EXPECT_EQ(lstrlenW(nullptr), 0);
  EXPECT_EQ(lstrcmpiA("Main", "MAIN"), 0);
  EXPECT_LT(lstrcmpiA("abc", "ABD"), 0);
  EXPECT_GT(lstrcmpiA("abcd", "ABC"), 0);
  EXPECT_EQ(lstrcmpiA("\xC9t\xE9", "\xE9T\xC9"), 0);  // accented capitals of the code page
}

}  // namespace
