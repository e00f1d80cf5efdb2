#include "dshow/wide_text.h"

#include <cstring>

size_t WideLength(const WCHAR* text) {
  size_t length = 0;
  if (text != nullptr)
    while (text[length] != 0) ++length;
  return length;
}

void WideCopy(WCHAR* buffer, size_t capacity, const WCHAR* text) {
  if (capacity == 0) return;
  size_t length = WideLength(text);
  if (length > capacity - 1) length = capacity - 1;
  if (length != 0) std::memcpy(buffer, text, length * sizeof(WCHAR));
  buffer[length] = 0;
}

bool WideEqual(const WCHAR* a, const WCHAR* b) {
  const size_t length = WideLength(a);
  return length == WideLength(b) && (length == 0 || std::memcmp(a, b, length * sizeof(WCHAR)) == 0);
}

HRESULT AMGetWideString(const WCHAR* text, LPWSTR* result) {
  if (result == nullptr) return E_POINTER;
  const size_t bytes = (WideLength(text) + 1) * sizeof(WCHAR);
  *result = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
  if (*result == nullptr) return E_OUTOFMEMORY;
  if (text != nullptr)
    std::memcpy(*result, text, bytes);
  else
    (*result)[0] = 0;
  return S_OK;
}
