// Whether stderr is a terminal, on POSIX systems.
#include "tools/render/progress.h"

#include <unistd.h>

namespace brvst::render {

bool StderrIsTerminal() {
  return isatty(STDERR_FILENO) == 1;
}

}  // namespace brvst::render
