#include "vsthost/editor_windows.h"

#include "com/adapter_resources.h"
#include "vsthost/vst_plug_instance.h"

namespace brvst {

PlugWnd::PlugWnd(HINSTANCE instance, HWND parent, VstPlugInstance* owner)
    : instance(instance), parent(parent), owner(owner) {
  window = CreateWindowExA(WS_EX_CONTROLPARENT, kPlugWndClass, "VST PlugIn",
                           WS_CHILD | WS_VISIBLE | WS_GROUP, 0, 0, 5, 5, parent, nullptr, instance,
                           nullptr);
}

PlugWnd::~PlugWnd() {
  if (window != nullptr) DestroyWindow(window);
}

HWND VstPlugInstance::EditorWindowHandle() const {
  return plugWindow != nullptr ? plugWindow->window : nullptr;
}

LRESULT CALLBACK PlugWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcA(window, message, wParam, lParam);
}

LRESULT CALLBACK WrapperWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace brvst
