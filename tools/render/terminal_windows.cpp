// Whether stderr is a terminal, on Windows.
#include "tools/render/progress.h"

#include <windows.h>

namespace brvst::render {

// Only a console has a console mode. _isatty would also say yes for the NUL device, a
// character device, where a bar would be wasted.
bool StderrIsTerminal() {
  DWORD mode = 0;
  const HANDLE handle = GetStdHandle(STD_ERROR_HANDLE);
  return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != 0;
}

}  // namespace brvst::render
