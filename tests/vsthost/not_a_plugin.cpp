// A module that exports "main" but is no VST plug-in: its "main" returns the address of a block of
// its own data, which a host must leave alone. NotAPluginData hands a test the same block.
#include <cstring>

namespace {

struct Data {
  Data() { std::memset(bytes, kPattern, sizeof bytes); }
  static constexpr unsigned char kPattern = 0xA5;
  unsigned char bytes[512];
};

Data data;

}  // namespace

extern "C" {

PLUGIN_EXPORT void* notAPluginMain(void*) PLUGIN_MAIN_SYMBOL;
PLUGIN_EXPORT const unsigned char* NotAPluginData();

void* notAPluginMain(void*) {
  return data.bytes;
}

const unsigned char* NotAPluginData() {
  return data.bytes;
}

}  // extern "C"
