// Small helpers for the UTF-16 strings that cross DirectShow interfaces.
#pragma once

#include "platform/platform.h"

#include <string>

using WideString = std::basic_string<WCHAR>;

// Length of a NUL-terminated wide string; 0 for null.
size_t WideLength(const WCHAR* text);
// Copies text into a buffer of `capacity` characters, truncating and always terminating.
void WideCopy(WCHAR* buffer, size_t capacity, const WCHAR* text);
// Exact, case-sensitive comparison of two NUL-terminated wide strings (null equals "").
bool WideEqual(const WCHAR* a, const WCHAR* b);
// A copy of text in task memory for the caller to free with CoTaskMemFree.
HRESULT AMGetWideString(const WCHAR* text, LPWSTR* result);
