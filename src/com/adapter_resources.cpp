#include "com/adapter_resources.h"

#include "com/plugin_list.h"
#include "propertypage/panel_strip.h"
#include "resources/resource_ids.h"
#include "vsthost/editor_windows.h"

#include <iterator>
#include <mutex>

namespace brvst {
namespace {

struct WindowClass {
  const char* name;
  UINT style;
  WNDPROC procedure;
  HINSTANCE registeredFor;  // the instance we registered it for; null while not ours
};

// In the order they are registered; released in the reverse order.
WindowClass windowClasses[] = {{kPanelWndClass, CS_DBLCLKS, PanelWndProc, nullptr},
                               {kPlugWndClass, 0, PlugWndProc, nullptr},
                               {kWrapperWndClass, 0, WrapperWndProc, nullptr}};

AdapterResources resources{};

// The first object may be made on one thread while the last one goes on another.
std::mutex resourcesLock;

void RegisterWindowClass(WindowClass& windowClass) {
  if (windowClass.registeredFor != nullptr) return;
  WNDCLASSA wc{};
  wc.style = windowClass.style;
  wc.lpfnWndProc = windowClass.procedure;
  wc.hInstance = ModuleInstance();
  wc.lpszClassName = windowClass.name;
  // A class that exists already stays in use, and stays its owner's to unregister.
  if (RegisterClassA(&wc) != 0) windowClass.registeredFor = wc.hInstance;
}

template <class Handle>
void LoadOnce(Handle& handle, Handle (*make)()) {
  if (handle == nullptr) handle = make();
}

// Deletes a handle we made and forgets it: a handle value outlives its object and may soon
// name someone else's.
template <class Handle>
bool DeleteAndForget(Handle& handle, bool& released) {
  if (handle == nullptr) return true;
  const bool deleted = DeleteObject(handle) != FALSE;
  handle = nullptr;
  released = true;
  return deleted;
}

}  // namespace

const AdapterResources& SharedResources() {
  return resources;
}

}  // namespace brvst

using namespace brvst;

BRVST_EXPORT void STDAPICALLTYPE InitAdapterResources() {
  std::lock_guard<std::mutex> lock(resourcesLock);
  for (WindowClass& windowClass : windowClasses) RegisterWindowClass(windowClass);
  LoadOnce<HBITMAP>(resources.BarBitmap,
                    [] { return LoadBitmapA(ModuleInstance(), MAKEINTRESOURCEA(IDB_PANEL_BAR)); });
  LoadOnce<HBITMAP>(resources.SliderBitmap, [] {
    return LoadBitmapA(ModuleInstance(), MAKEINTRESOURCEA(IDB_PANEL_SLIDER));
  });
  LoadOnce<HBITMAP>(resources.SliderActiveBitmap, [] {
    return LoadBitmapA(ModuleInstance(), MAKEINTRESOURCEA(IDB_PANEL_SLIDER_ACTIVE));
  });
  LoadOnce<HFONT>(resources.PanelFont, [] {
    return CreateFontA(12, 5, 0, 0, 1, FALSE, FALSE, FALSE, 0, 0, 0, 0, 0, "Arial");
  });
}

BRVST_EXPORT HRESULT STDAPICALLTYPE ReleaseAdapterResources() {
  // Only what InitAdapterResources made: a filter counts itself live without asking for the
  // resources, so the last object may go while none were made.
  std::lock_guard<std::mutex> lock(resourcesLock);
  bool released = false;
  bool failed = false;
  failed |= !DeleteAndForget(resources.BarBitmap, released);
  failed |= !DeleteAndForget(resources.SliderBitmap, released);
  failed |= !DeleteAndForget(resources.SliderActiveBitmap, released);
  failed |= !DeleteAndForget(resources.PanelFont, released);
  for (size_t i = std::size(windowClasses); i-- > 0;) {
    WindowClass& windowClass = windowClasses[i];
    if (windowClass.registeredFor == nullptr) continue;
    failed |= !UnregisterClassA(windowClass.name, windowClass.registeredFor);
    windowClass.registeredFor = nullptr;
    released = true;
  }
  // S_FALSE: nothing was left to release, or something would not go.
  return released && !failed ? S_OK : S_FALSE;
}
