// No libsndfile in this build: no foreign files.
#include "foreign_writer.h"

namespace brvst::test {

const bool kHaveLibsndfile = false;

bool WriteForeign(const std::string&, ForeignFormat, int, int, const std::vector<std::int32_t>&) {
  return false;
}

}  // namespace brvst::test
