// The system's words for a Win32 error code, for one-line reports.
#pragma once

#include "platform/platform.h"

#include <string>

namespace brvst::platform {

// FormatMessage's text without its line end, or "error N" when the system has none.
inline std::string SystemErrorText(DWORD error) {
  char text[512] = {};
  DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                error, 0, text, sizeof text, nullptr);
  while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r')) --length;
  return length > 0 ? std::string(text, length) : "error " + std::to_string(error);
}

}  // namespace brvst::platform
