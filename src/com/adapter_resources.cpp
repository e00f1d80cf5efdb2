#include "com/adapter_resources.h"

#include "com/plugin_list.h"
#include "propertypage/panel_strip.h"
#include "resources/resource_ids.h"
#include "vsthost/editor_windows.h"

namespace brvst {
namespace {

AdapterResources resources{};

void RegisterWindowClass(const char* name, UINT style, WNDPROC procedure) {
  WNDCLASSA wc{};
  wc.style = style;
  wc.lpfnWndProc = procedure;
  wc.hInstance = ModuleInstance();
  wc.lpszClassName = name;
  // A class that exists already stays in use; the failure is of no consequence.
  RegisterClassA(&wc);
}

}  // namespace

const AdapterResources& SharedResources() {
  return resources;
}

}  // namespace brvst

using namespace brvst;

BRVST_EXPORT void STDAPICALLTYPE InitAdapterResources() {
  RegisterWindowClass(kPanelWndClass, CS_DBLCLKS, PanelWndProc);
  RegisterWindowClass(kPlugWndClass, 0, PlugWndProc);
  RegisterWindowClass(kWrapperWndClass, 0, WrapperWndProc);
  const HINSTANCE instance = ModuleInstance();
  resources.BarBitmap = LoadBitmapA(instance, MAKEINTRESOURCEA(IDB_PANEL_BAR));
  resources.SliderBitmap = LoadBitmapA(instance, MAKEINTRESOURCEA(IDB_PANEL_SLIDER));
  resources.SliderActiveBitmap = LoadBitmapA(instance, MAKEINTRESOURCEA(IDB_PANEL_SLIDER_ACTIVE));
  resources.PanelFont = CreateFontA(12, 5, 0, 0, 1, FALSE, FALSE, FALSE, 0, 0, 0, 0, 0, "Arial");
}

BRVST_EXPORT HRESULT STDAPICALLTYPE ReleaseAdapterResources() {
  const HINSTANCE instance = ModuleInstance();
  bool released = true;
  for (HGDIOBJ object :
       {static_cast<HGDIOBJ>(resources.BarBitmap), static_cast<HGDIOBJ>(resources.SliderBitmap),
        static_cast<HGDIOBJ>(resources.SliderActiveBitmap),
        static_cast<HGDIOBJ>(resources.PanelFont)}) {
    if (object != nullptr && !DeleteObject(object)) released = false;
  }
  for (const char* name : {kWrapperWndClass, kPlugWndClass, kPanelWndClass})
    if (!UnregisterClassA(name, instance)) released = false;
  return released ? S_OK : S_FALSE;
}
