#include "vsthost/editor_windows.h"

#include "com/adapter_resources.h"
#include "com/plugin_list.h"
#include "filter/adapter_filter.h"
#include "vsthost/host_callback.h"
#include "vsthost/parameter_panel.h"
#include "vsthost/vst_plug_instance.h"

#include <new>

namespace brvst {
namespace {

constexpr DWORD kChildStyle = WS_CHILD | WS_VISIBLE | WS_GROUP;
constexpr UINT_PTR kIdleTimer = 1;
constexpr UINT kIdlePeriod = 40;
constexpr UINT kEditorResized = WM_USER + 3;
constexpr int32_t kRedrawTicks = 3;
constexpr DWORD kRedrawPause = 100;
// Where the editor area sits in the page's parent until the page places it.
constexpr int kEditorTop = 19;

VstPlugInstance* InstanceOf(HWND window) {
  return reinterpret_cast<VstPlugInstance*>(GetWindowLongPtrA(window, GWLP_USERDATA));
}

}  // namespace

PlugWnd::PlugWnd(HINSTANCE instance, HWND parent, VstPlugInstance* owner)
    : instance(instance), parent(parent), owner(owner) {
  window = CreateWindowExA(WS_EX_CONTROLPARENT, kPlugWndClass, "VST PlugIn", kChildStyle, 0, 0, 5,
                           5, parent, nullptr, instance, nullptr);
}

PlugWnd::~PlugWnd() {
  if (window != nullptr) DestroyWindow(window);
}

HWND VstPlugInstance::EditorWindowHandle() const {
  return plugWindow != nullptr ? plugWindow->window : nullptr;
}

bool VstPlugInstance::ShowsOwnEditor() const {
  return platform::kPluginEditorsShown && effect != nullptr &&
         (effect->flags & vst2::effFlagsHasEditor) != 0;
}

void VstPlugInstance::OpenEditor(HWND parent) {
  if (effect == nullptr || editorOpen) return;
  try {
    auto area = std::make_unique<PlugWnd>(ModuleInstance(), parent, this);
    if (area->window == nullptr) return;
    SetWindowTextA(area->window, name);
    if (ShowsOwnEditor()) {
      const PluginRecord* record = owner->Record;
      const int width = record != nullptr ? record->EditorWidth : 0;
      const int height = record != nullptr ? record->EditorHeight : 0;
      HWND frame = CreateWindowExA(WS_EX_CONTROLPARENT, kWrapperWndClass, nullptr, kChildStyle, 0,
                                   0, 5, 5, area->window, nullptr, ModuleInstance(), nullptr);
      if (frame == nullptr) return;
      SetWindowLongPtrA(frame, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
      SetWindowPos(area->window, nullptr, 0, kEditorTop, width, height, SWP_NOZORDER);
      SetWindowPos(frame, nullptr, 0, 0, width, height, 0);
      plugWindow = area.release();
      wrapperWindow = frame;
      Dispatch(vst2::effEditOpen, 0, 0, frame);
      editorOpen = true;
      SetTimer(frame, kIdleTimer, kIdlePeriod, nullptr);
      redrawCountdown = kRedrawTicks;
      // Asked as hosts ask; the frame keeps the record's size whatever the answer.
      vst2::ERect* rect = nullptr;
      Dispatch(vst2::effEditGetRect, 0, 0, &rect);
      return;
    }
    auto shown = std::make_unique<PanelWnd>(area->window, effect, this);
    {
      std::lock_guard<std::mutex> lock(panelLock);
      panel = shown.release();
      // A value set while the panel read its first values reached no panel: read them again now
      // that every later setting reaches this one.
      for (int32_t i = 0; i < numParams; ++i) panel->ShowParameter(i, GetParameter(i));
    }
    plugWindow = area.release();
    editorOpen = true;
  } catch (const std::bad_alloc&) {
    // Without memory for its rows the editor stays closed; what was made is gone again.
  }
}

void VstPlugInstance::CloseEditor() {
  if (!editorOpen || effect == nullptr) return;
  if (wrapperWindow != nullptr) {
    KillTimer(wrapperWindow, kIdleTimer);
    Dispatch(vst2::effEditClose);
    DestroyWindow(wrapperWindow);
    wrapperWindow = nullptr;
  } else {
    // Taken out under the lock, so that no thread is inside the panel when it goes.
    ParameterView* closing;
    {
      std::lock_guard<std::mutex> lock(panelLock);
      closing = panel;
      panel = nullptr;
    }
    delete closing;
  }
  delete plugWindow;
  plugWindow = nullptr;
  editorOpen = false;
}

LRESULT CALLBACK PlugWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  // The page closes the editor area, never the user.
  if (message == WM_CLOSE) {
    SetWindowLongPtrA(window, GWLP_USERDATA, 0);
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

LRESULT CALLBACK WrapperWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_GETDLGCODE:
      return 0;
    case WM_SIZE:
      PostMessageA(window, kEditorResized, 0, 0);
      break;
    case kEditorResized:
      if (VstPlugInstance* instance = InstanceOf(window)) instance->OnEditorResized();
      break;
    case WM_TIMER:
      // Skipped, countdown and all, while another idle pass runs (a plug-in that pumps messages
      // inside effEditIdle, or one serving audioMasterIdle).
      if (!IdleGuard.exchange(true)) {
        if (VstPlugInstance* instance = InstanceOf(window)) {
          if (instance->redrawCountdown != 0 && --instance->redrawCountdown == 0) {
            // Some editors draw nothing until their frame is shown once more after opening.
            ShowWindow(window, SW_HIDE);
            Sleep(kRedrawPause);
            ShowWindow(window, SW_SHOW);
          }
          instance->Idle();
        }
        IdleGuard = false;
      }
      break;
    default:
      break;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace brvst
