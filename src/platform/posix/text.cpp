// Text conversion between UTF-16 and the two code pages the adapter meets: the ANSI code page,
// Windows-1252 as on a Western European Windows, and UTF-8.
#include "platform/platform.h"

#include <optional>
#include <string>

namespace {

constexpr UINT kWindows1252 = 1252;
constexpr char16_t kReplacement = 0xFFFD;

// 0x80-0x9F of Windows-1252. The five bytes the code page leaves undefined (0x81, 0x8D, 0x8F,
// 0x90, 0x9D) map to the C1 controls of the same value, as Windows maps them, so every byte
// survives a round trip.
constexpr char16_t kHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80-87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88-8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90-97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98-9F
};

char16_t FromWindows1252(unsigned char byte) {
  return byte >= 0x80 && byte <= 0x9F ? kHighControls[byte - 0x80] : char16_t{byte};
}

std::optional<unsigned char> ToWindows1252(char16_t unit) {
  if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF)) return static_cast<unsigned char>(unit);
  for (int i = 0; i < 32; ++i)
    if (kHighControls[i] == unit) return static_cast<unsigned char>(0x80 + i);
  return std::nullopt;
}

bool IsWindows1252(UINT codePage) {
  return codePage == CP_ACP || codePage == kWindows1252;
}

// Decodes UTF-8. An ill-formed sequence becomes one U+FFFD for each maximal subpart that could
// have begun a well-formed sequence, as Windows and the Unicode standard recommend. False when
// `strict` and the input is ill-formed.
bool DecodeUtf8(const unsigned char* in, size_t length, std::u16string& out, bool strict) {
  size_t i = 0;
  while (i < length) {
    const unsigned char lead = in[i];
    if (lead < 0x80) {
      out += static_cast<char16_t>(lead);
      ++i;
      continue;
    }
    int trail = 0;
    char32_t code = 0;
    unsigned char low = 0x80, high = 0xBF;  // allowed range of the first trail byte
    if (lead >= 0xC2 && lead <= 0xDF) {
      trail = 1;
      code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      trail = 2;
      code = lead & 0x0F;
      if (lead == 0xE0) low = 0xA0;   // no overlong forms
      if (lead == 0xED) high = 0x9F;  // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      trail = 3;
      code = lead & 0x07;
      if (lead == 0xF0) low = 0x90;
      if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
    } else {
      if (strict) return false;
      out += kReplacement;
      ++i;
      continue;
    }
    size_t j = i + 1;
    bool complete = true;
    for (int k = 0; k < trail; ++k, ++j) {
      const unsigned char lo = k == 0 ? low : 0x80, hi = k == 0 ? high : 0xBF;
      if (j >= length || in[j] < lo || in[j] > hi) {
        complete = false;
        break;
      }
      code = (code << 6) | (in[j] & 0x3F);
    }
    if (!complete) {
      if (strict) return false;
      out += kReplacement;
      i = j;
      continue;
    }
    if (code >= 0x10000) {
      code -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (code >> 10));
      out += static_cast<char16_t>(0xDC00 + (code & 0x3FF));
    } else {
      out += static_cast<char16_t>(code);
    }
    i = j;
  }
  return true;
}

// Encodes UTF-16 as UTF-8. A lone surrogate becomes U+FFFD; false when `strict` meets one.
bool EncodeUtf8(const char16_t* in, size_t length, std::string& out, bool strict) {
  for (size_t i = 0; i < length; ++i) {
    char32_t code = in[i];
    if (code >= 0xD800 && code <= 0xDFFF) {
      const bool pair =
          code <= 0xDBFF && i + 1 < length && in[i + 1] >= 0xDC00 && in[i + 1] <= 0xDFFF;
      if (pair) {
        code = 0x10000 + ((code - 0xD800) << 10) + (in[i + 1] - 0xDC00);
        ++i;
      } else {
        if (strict) return false;
        code = kReplacement;
      }
    }
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | (code >> 6));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      out += static_cast<char>(0xE0 | (code >> 12));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (code >> 18));
      out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }
  return true;
}

// The common end of both conversions: a size query, a copy, or ERROR_INSUFFICIENT_BUFFER.
template <class Unit, class Text>
int Deliver(const Text& converted, Unit* out, int outCount) {
  const size_t needed = converted.size();
  if (outCount == 0) return static_cast<int>(needed);
  if (needed > static_cast<size_t>(outCount)) {
    // Windows fills the buffer as far as it goes before it gives up.
    for (int i = 0; i < outCount; ++i) out[i] = static_cast<Unit>(converted[i]);
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  for (size_t i = 0; i < needed; ++i) out[i] = static_cast<Unit>(converted[i]);
  return static_cast<int>(needed);
}

unsigned char FoldCase(unsigned char c) {
  // Upper-case letters of Windows-1252 to lower case: A-Z, the Latin-1 capitals (not the
  // multiplication sign) and the capitals of 0x80-0x9F; Y with diaeresis folds to its 0xFF.
  if ((c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) return c + 0x20;
  if (c == 0x8A || c == 0x8C || c == 0x8E) return c + 0x10;
  if (c == 0x9F) return 0xFF;
  return c;
}

}  // namespace

extern "C" {

UINT WINAPI GetACP() {
  return kWindows1252;
}

int WINAPI MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR multiByte, int multiByteCount,
                               LPWSTR wide, int wideCount) {
  if (multiByte == nullptr || multiByteCount == 0 || multiByteCount < -1 || wideCount < 0 ||
      (wide == nullptr && wideCount != 0) ||
      (wide != nullptr && static_cast<const void*>(wide) == static_cast<const void*>(multiByte))) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const size_t length =
      multiByteCount == -1 ? std::strlen(multiByte) + 1 : static_cast<size_t>(multiByteCount);
  const auto* in = reinterpret_cast<const unsigned char*>(multiByte);
  std::u16string converted;
  converted.reserve(length);
  if (codePage == CP_UTF8) {
    // UTF-8 takes no flag but the strict one.
    if ((flags & ~static_cast<DWORD>(MB_ERR_INVALID_CHARS)) != 0) {
      SetLastError(ERROR_INVALID_FLAGS);
      return 0;
    }
    if (!DecodeUtf8(in, length, converted, (flags & MB_ERR_INVALID_CHARS) != 0)) {
      SetLastError(ERROR_NO_UNICODE_TRANSLATION);
      return 0;
    }
  } else if (IsWindows1252(codePage)) {
    for (size_t i = 0; i < length; ++i) converted += FromWindows1252(in[i]);
  } else {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  return Deliver(converted, wide, wideCount);
}

int WINAPI WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide, int wideCount,
                               LPSTR multiByte, int multiByteCount, LPCSTR defaultChar,
                               BOOL* usedDefaultChar) {
  if (wide == nullptr || wideCount == 0 || wideCount < -1 || multiByteCount < 0 ||
      (multiByte == nullptr && multiByteCount != 0) ||
      (multiByte != nullptr &&
       static_cast<const void*>(wide) == static_cast<const void*>(multiByte))) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const size_t length =
      wideCount == -1 ? static_cast<size_t>(lstrlenW(wide)) + 1 : static_cast<size_t>(wideCount);
  std::string converted;
  converted.reserve(length);
  if (codePage == CP_UTF8) {
    // UTF-8 has no default character: every code point has its bytes.
    if (defaultChar != nullptr || usedDefaultChar != nullptr) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return 0;
    }
    if ((flags & ~static_cast<DWORD>(WC_ERR_INVALID_CHARS)) != 0) {
      SetLastError(ERROR_INVALID_FLAGS);
      return 0;
    }
    if (!EncodeUtf8(wide, length, converted, (flags & WC_ERR_INVALID_CHARS) != 0)) {
      SetLastError(ERROR_NO_UNICODE_TRANSLATION);
      return 0;
    }
  } else if (IsWindows1252(codePage)) {
    // No best-fit table: what the code page lacks becomes the default character, as with
    // WC_NO_BEST_FIT_CHARS; each half of a surrogate pair gets one, as Windows gives them.
    const char fallback = defaultChar != nullptr ? defaultChar[0] : '?';
    bool usedDefault = false;
    for (size_t i = 0; i < length; ++i) {
      const std::optional<unsigned char> byte = ToWindows1252(wide[i]);
      if (byte) {
        converted += static_cast<char>(*byte);
      } else {
        converted += fallback;
        usedDefault = true;
      }
    }
    if (usedDefaultChar != nullptr) *usedDefaultChar = usedDefault ? TRUE : FALSE;
  } else {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  return Deliver(converted, multiByte, multiByteCount);
}

int WINAPI lstrlenW(LPCWSTR text) {
  if (text == nullptr) return 0;
  int length = 0;
  while (text[length] != 0) ++length;
  return length;
}

int WINAPI lstrcmpiA(LPCSTR a, LPCSTR b) {
  // Case-insensitive, in the order of the code page's characters; Windows orders words by its
  // locale instead, which no caller here relies on.
  if (a == nullptr || b == nullptr) return a == b ? 0 : (a == nullptr ? -1 : 1);
  for (;; ++a, ++b) {
    const unsigned char x = FoldCase(static_cast<unsigned char>(*a));
    const unsigned char y = FoldCase(static_cast<unsigned char>(*b));
    if (x != y) return x < y ? -1 : 1;
    if (x == 0) return 0;
  }
}

}  // extern "C"
