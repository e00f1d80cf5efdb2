// Builds without a PNG library.
#include "tools/render/panel_picture.h"

namespace brvst::render {

bool CanWritePng() {
  return false;
}

bool WritePng(const std::string& path, const uint32_t*, int, int, std::string& error) {
  error = path + ": this build writes no PNG files (it has no PNG library); use the Linux build";
  return false;
}

}  // namespace brvst::render
