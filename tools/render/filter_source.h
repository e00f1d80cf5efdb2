// How the renderer makes its filter as a host does: through the class object of the adapter code
// it carries, or through COM and the registry.
#pragma once

#include "dshow/com_ptr.h"
#include "platform/platform.h"

#include <string>

namespace brvst {
class AdapterFilter;
}

namespace brvst::render {

// The filter of `clsid` from the adapter's DllGetClassObject (the code linked into the
// renderer) and its factory's CreateInstance. Null, with the reason in `error`.
ComPtr<AdapterFilter> FilterFromClassObject(REFCLSID clsid, std::string& error);

// The filter of a class registered with COM, made by CoCreateInstance. Its object lives in the
// registered module, so the renderer reads it only when that module is `adapterModule`, the
// adapter of its own build, byte for byte. COM stays initialised on the calling thread for the
// filter's life.
ComPtr<AdapterFilter> FilterFromRegistry(REFCLSID clsid, const std::string& adapterModule,
                                         std::string& error);

// The filter of `clsid` through CoCreateInstance when the class is registered (its module must
// then be `OwnAdapterModule()`, as for FilterFromRegistry), else through FilterFromClassObject.
ComPtr<AdapterFilter> FilterFromComOrClassObject(REFCLSID clsid, std::string& error);

// The adapter module of the renderer's build: the one beside the renderer.
std::string OwnAdapterModule();

// Whether two files have the same contents (both readable, same size, same bytes).
bool SameContents(const std::string& a, const std::string& b);

}  // namespace brvst::render
