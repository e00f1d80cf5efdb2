// Filter registration records (the published AMOVIESETUP_* layout) and their use with the
// filter mapper.
#pragma once

#include "platform/directshow.h"

typedef REGPINTYPES AMOVIESETUP_MEDIATYPE;
typedef REGPINTYPES* PAMOVIESETUP_MEDIATYPE;
typedef REGPINTYPES* LPAMOVIESETUP_MEDIATYPE;

typedef REGFILTERPINS AMOVIESETUP_PIN;
typedef REGFILTERPINS* PAMOVIESETUP_PIN;
typedef REGFILTERPINS* LPAMOVIESETUP_PIN;

struct AMOVIESETUP_FILTER {
  const CLSID* clsID;
  const WCHAR* strName;
  DWORD dwMerit;
  UINT nPins;
  const AMOVIESETUP_PIN* lpPin;
};
typedef AMOVIESETUP_FILTER* PAMOVIESETUP_FILTER;
typedef AMOVIESETUP_FILTER* LPAMOVIESETUP_FILTER;

// Through `mapper`: UnregisterFilter, and when registering RegisterFilter, then per pin
// RegisterPin and per media type RegisterPinType, stopping at the first failure. "File not
// found" (0x80070002, nothing to unregister) counts as success. S_FALSE without setup data.
HRESULT AMovieSetupRegisterFilter(const AMOVIESETUP_FILTER* setup, IFilterMapper* mapper,
                                  BOOL bRegister);
