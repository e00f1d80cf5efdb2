#include "propertypage/help.h"

namespace brvst {

void ShowAdapterHelp() {}

HWND CallHtmlHelp(HWND, const char*, UINT, DWORD_PTR) {
  return nullptr;
}

}  // namespace brvst
