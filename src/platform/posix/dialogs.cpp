// The dialog manager: modal dialogs built from a module's dialog tables, their default
// processing, and the controls they hold.
#include "platform/posix/desktop.h"
#include "platform/posix/resources.h"
#include "platform/posix/window_system.h"

#include <algorithm>
#include <cstdio>

namespace brvst::platform {
namespace {

using Lock = std::lock_guard<std::recursive_mutex>;

constexpr LONG kScreenWidth = 1024;
constexpr LONG kScreenHeight = 768;

// Dialog base units of 8-point "MS Sans Serif" at 96 dots per inch.
constexpr int kBaseUnitX = 6;
constexpr int kBaseUnitY = 13;

struct BaseUnits {
  int x;
  int y;
};

BaseUnits UnitsFor(uint16_t pointSize) {
  const int size = pointSize != 0 ? pointSize : 8;
  return {std::max(1, (kBaseUnitX * size + 4) / 8), std::max(1, (kBaseUnitY * size + 4) / 8)};
}

RECT ToPixels(const BaseUnits& units, int x, int y, int cx, int cy) {
  const LONG left = x * units.x / 4, top = y * units.y / 8;
  return RECT{left, top, left + cx * units.x / 4, top + cy * units.y / 8};
}

std::shared_ptr<Window> DialogWindow(HWND dialog) {
  auto window = WindowSystem::Get().Find(dialog);
  if (window == nullptr || window->dialog == nullptr) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  return window;
}

// The first push button with the default style, as Windows looks for one.
HWND DefaultButton(HWND dialog) {
  for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    char name[16];
    GetClassNameA(child, name, sizeof name);
    const auto style = static_cast<DWORD>(GetWindowLongPtrA(child, GWL_STYLE));
    if (lstrcmpiA(name, "Button") == 0 && (style & BS_TYPEMASK) == BS_DEFPUSHBUTTON) return child;
  }
  return nullptr;
}

// The first control with a tab stop: the one a dialog gives the focus first.
HWND FirstTabStop(HWND dialog) {
  for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    const auto style = static_cast<DWORD>(GetWindowLongPtrA(child, GWL_STYLE));
    if ((style & WS_TABSTOP) && (style & WS_VISIBLE) && !(style & WS_DISABLED)) return child;
  }
  return nullptr;
}

// Creates the dialog of `tmpl` and its controls and sends WM_INITDIALOG.
HWND CreateDialogFromTemplate(HINSTANCE instance, const DialogTemplate& tmpl, HWND owner,
                              DLGPROC procedure, LPARAM param) {
  const BaseUnits units = UnitsFor(tmpl.pointSize);
  const DWORD style = tmpl.style;
  DWORD exStyle = tmpl.exStyle;
  if (style & DS_MODALFRAME) exStyle |= WS_EX_DLGMODALFRAME;
  const RECT client = ToPixels(units, tmpl.x, tmpl.y, tmpl.cx, tmpl.cy);
  const RECT insets = NonClientInsets(style, exStyle);
  const LONG width = client.right - client.left + insets.left + insets.right;
  const LONG height = client.bottom - client.top + insets.top + insets.bottom;
  LONG x = client.left, y = client.top;
  if (style & DS_CENTER) {
    x = (kScreenWidth - width) / 2;
    y = (kScreenHeight - height) / 2;
  }
  HWND dialog = CreateWindowExA(exStyle, WC_DIALOG, tmpl.title, style, x, y, width, height, owner,
                                nullptr, instance, nullptr);
  if (dialog == nullptr) return nullptr;
  if (auto window = DialogWindow(dialog)) {
    Lock lock(WindowSystem::Get().mutex);
    window->dialog->procedure = procedure;
    window->dialog->modal = true;
  }
  for (size_t i = 0; i < tmpl.itemCount; ++i) {
    const DialogItemTemplate& item = tmpl.items[i];
    const RECT r = ToPixels(units, item.x, item.y, item.cx, item.cy);
    HWND control = CreateWindowExA(item.exStyle, item.className, item.text, item.style | WS_CHILD,
                                   r.left, r.top, r.right - r.left, r.bottom - r.top, dialog,
                                   reinterpret_cast<HMENU>(static_cast<uintptr_t>(item.id)),
                                   instance, nullptr);
    if (control == nullptr) {
      std::fprintf(stderr, "dialog %u: control %u of class %s could not be created\n", tmpl.id,
                   item.id, item.className);
      DestroyWindow(dialog);
      return nullptr;
    }
  }
  SendMessageA(dialog, WM_INITDIALOG, reinterpret_cast<WPARAM>(FirstTabStop(dialog)), param);
  return dialog;
}

void DeliverPostedMessages() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
}

}  // namespace

LRESULT CALLBACK DialogWindowProc(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
  auto window = WindowSystem::Get().Find(handle);
  if (window == nullptr) return 0;
  DLGPROC procedure;
  {
    Lock lock(WindowSystem::Get().mutex);
    procedure = window->dialog->procedure;
  }
  if (procedure != nullptr) {
    const INT_PTR handled = procedure(handle, message, wParam, lParam);
    if (handled) {
      // These messages answer with the procedure's own result; the rest with DWLP_MSGRESULT.
      if (message == WM_INITDIALOG) return handled;
      Lock lock(WindowSystem::Get().mutex);
      return window->dialog->messageResult;
    }
    if (!IsWindow(handle)) return 0;
  }
  switch (message) {
    case WM_CLOSE:
      // Closing a dialog is its Cancel command.
      PostMessageA(handle, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                   reinterpret_cast<LPARAM>(GetDlgItem(handle, IDCANCEL)));
      return 0;
    case DM_GETDEFID: {
      HWND button = DefaultButton(handle);
      return button != nullptr ? MAKELONG(GetDlgCtrlID(button), DC_HASDEFID) : 0;
    }
    default:
      return DefWindowProcA(handle, message, wParam, lParam);
  }
}

LRESULT CALLBACK ButtonWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == BM_CLICK) {
    SendMessageA(GetParent(window), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(window), BN_CLICKED),
                 reinterpret_cast<LPARAM>(window));
    return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

LRESULT CALLBACK StaticWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcA(window, message, wParam, lParam);
}

LRESULT CALLBACK EditWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcA(window, message, wParam, lParam);
}

void ClickButton(HWND dialog, int id) {
  SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

void PressEnter(HWND dialog) {
  const LRESULT defId = SendMessageA(dialog, DM_GETDEFID, 0, 0);
  ClickButton(dialog, HIWORD(defId) == DC_HASDEFID ? LOWORD(defId) : IDOK);
}

void PressEscape(HWND dialog) {
  ClickButton(dialog, IDCANCEL);
}

bool IsDialogEnded(HWND dialog) {
  auto window = WindowSystem::Get().Find(dialog);
  if (window == nullptr) return true;
  Lock lock(WindowSystem::Get().mutex);
  return window->dialog == nullptr || window->dialog->ended;
}

}  // namespace brvst::platform

using namespace brvst::platform;

extern "C" {

INT_PTR WINAPI DialogBoxParamA(HINSTANCE instance, LPCSTR templateName, HWND owner,
                               DLGPROC dialogProc, LPARAM param) {
  DWORD error = 0;
  const DialogTemplate* tmpl = FindDialogTemplate(instance, templateName, error);
  if (tmpl == nullptr) {
    SetLastError(error);
    return -1;
  }
  HWND dialog = CreateDialogFromTemplate(instance, *tmpl, owner, dialogProc, param);
  if (dialog == nullptr) return -1;
  if (!IsDialogEnded(dialog)) {
    CurrentDesktop()->RunDialog(dialog);
    DeliverPostedMessages();
  }
  INT_PTR result = -1;
  bool ended = false;
  if (auto window = WindowSystem::Get().Find(dialog)) {
    Lock lock(WindowSystem::Get().mutex);
    ended = window->dialog->ended;
    result = window->dialog->result;
  }
  if (!ended && IsWindow(dialog)) {
    std::fprintf(stderr, "dialog %u was left open by the desktop; closed with -1\n", tmpl->id);
    result = -1;
  }
  if (IsWindow(dialog)) DestroyWindow(dialog);
  return result;
}

BOOL WINAPI EndDialog(HWND dialog, INT_PTR result) {
  auto window = DialogWindow(dialog);
  if (window == nullptr) return FALSE;
  Lock lock(WindowSystem::Get().mutex);
  window->dialog->ended = true;
  window->dialog->result = result;
  return TRUE;
}

HWND WINAPI GetDlgItem(HWND dialog, int id) {
  WindowSystem& system = WindowSystem::Get();
  Lock lock(system.mutex);
  auto window = system.Find(dialog);
  if (window == nullptr) return nullptr;
  for (HWND child : window->children) {
    auto c = system.windows.find(child);
    if (c != system.windows.end() && c->second->id == id) return child;
  }
  SetLastError(ERROR_CONTROL_ID_NOT_FOUND);
  return nullptr;
}

BOOL WINAPI SetDlgItemTextA(HWND dialog, int id, LPCSTR text) {
  HWND control = GetDlgItem(dialog, id);
  if (control == nullptr) return FALSE;
  return static_cast<BOOL>(SendMessageA(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text)));
}

UINT WINAPI GetDlgItemTextA(HWND dialog, int id, LPSTR text, int size) {
  if (text == nullptr || size <= 0) return 0;
  HWND control = GetDlgItem(dialog, id);
  if (control == nullptr) {
    text[0] = '\0';
    return 0;
  }
  return static_cast<UINT>(
      SendMessageA(control, WM_GETTEXT, static_cast<WPARAM>(size), reinterpret_cast<LPARAM>(text)));
}

}  // extern "C"
