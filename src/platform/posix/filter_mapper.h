// Inside the platform: the classes COM builds in, which need no registry entry.
#pragma once

#include "platform/platform.h"

namespace brvst::platform {

// The filter mapper (CLSID_FilterMapper): IFilterMapper over the registry, storing what the
// Windows one stores (HKCR\Filter\{X}, CLSID\{X}\Merit, CLSID\{X}\Pins\...).
HRESULT CreateFilterMapper(IUnknown* outer, REFIID riid, void** object);

}  // namespace brvst::platform
