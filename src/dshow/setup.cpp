#include "dshow/setup.h"

HRESULT AMovieSetupRegisterFilter(const AMOVIESETUP_FILTER* setup, IFilterMapper* mapper,
                                  BOOL bRegister) {
  if (setup == nullptr) return S_FALSE;
  if (mapper == nullptr || setup->clsID == nullptr) return E_POINTER;
  const CLSID filter = *setup->clsID;
  // Pins go with their filter, so one UnregisterFilter clears any earlier registration.
  HRESULT hr = mapper->UnregisterFilter(filter);
  if (bRegister) {
    hr = mapper->RegisterFilter(filter, setup->strName, setup->dwMerit);
    for (UINT p = 0; SUCCEEDED(hr) && p < setup->nPins; ++p) {
      const AMOVIESETUP_PIN& pin = setup->lpPin[p];
      const CLSID connectsTo =
          pin.clsConnectsToFilter != nullptr ? *pin.clsConnectsToFilter : CLSID_NULL;
      hr = mapper->RegisterPin(filter, pin.strName, pin.bRendered, pin.bOutput, pin.bZero,
                               pin.bMany, connectsTo, pin.strConnectsToPin);
      for (UINT t = 0; SUCCEEDED(hr) && t < pin.nMediaTypes; ++t) {
        const AMOVIESETUP_MEDIATYPE& type = pin.lpMediaType[t];
        hr = mapper->RegisterPinType(filter, pin.strName,
                                     type.clsMajorType != nullptr ? *type.clsMajorType : GUID_NULL,
                                     type.clsMinorType != nullptr ? *type.clsMinorType : GUID_NULL);
      }
    }
  }
  constexpr HRESULT kFileNotFound = static_cast<HRESULT>(0x80070002L);
  return hr == kFileNotFound ? S_OK : hr;
}
