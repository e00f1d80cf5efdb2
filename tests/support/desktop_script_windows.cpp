// The desktop script on Windows: a CBT hook on the installing thread sees each dialog and
// message box when it is activated, after WM_INITDIALOG, and posts the answer for the dialog's
// own modal loop to deliver.
#include "desktop_script.h"

#include <stdexcept>

namespace brvst::test {
namespace {

constexpr char kSeenProperty[] = "BrvstDesktopScriptSeen";

// Dialogs of the code under test belong to its module; a message box belongs to user32, or
// under Wine to no module at all.
bool IsMessageBox(HWND window) {
  const auto instance = reinterpret_cast<HMODULE>(GetWindowLongPtrA(window, GWLP_HINSTANCE));
  return instance == nullptr || instance == GetModuleHandleA("user32.dll");
}

Shown ReadMessageBox(HWND box) {
  const Shown dialog = ReadDialog(box);
  Shown shown{Shown::Kind::Box, dialog.caption, {}, {}};
  // The text is the static control that is no icon.
  for (HWND child = GetWindow(box, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    char className[64];
    GetClassNameA(child, className, sizeof className);
    const auto style = static_cast<DWORD>(GetWindowLongPtrA(child, GWL_STYLE));
    if (lstrcmpiA(className, "Static") != 0 || (style & SS_TYPEMASK) == SS_ICON) continue;
    char text[4096];
    GetWindowTextA(child, text, sizeof text);
    shown.text += text;
  }
  return shown;
}

void Apply(const Answer& answer, HWND dialog) {
  for (const auto& [id, text] : answer.typed()) SetDlgItemTextA(dialog, id, text.c_str());
  if (answer.action() == Answer::Action::Enter) {
    // The modal loop's IsDialogMessage turns Enter into the default button's command.
    PostMessageA(dialog, WM_KEYDOWN, VK_RETURN, 0);
  } else {
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(answer.button(), BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, answer.button())));
  }
}

}  // namespace

struct DesktopScript::Hook {
  explicit Hook(DesktopScript& script) : script(script) {}

  static LRESULT CALLBACK Procedure(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE && current != nullptr)
      current->Activated(reinterpret_cast<HWND>(wParam));
    return CallNextHookEx(nullptr, code, wParam, lParam);
  }

  void Activated(HWND window) {
    char className[16] = {};
    if (window == nullptr) return;
    GetClassNameA(window, className, sizeof className);
    // A dialog is activated again when a box it showed closes: answer each one once.
    if (lstrcmpA(className, "#32770") != 0 || GetPropA(window, kSeenProperty) != nullptr) return;
    SetPropA(window, kSeenProperty, reinterpret_cast<HANDLE>(1));
    // A system-modal box is activated while it is still being initialised (before its text is
    // set): read it once its modal loop runs, from a timer that loop dispatches.
    SetTimer(window, kReadTimer, 0, ReadWhenShown);
  }

  static void CALLBACK ReadWhenShown(HWND window, UINT, UINT_PTR id, DWORD) {
    KillTimer(window, id);
    if (current == nullptr) return;
    Apply(
        current->script.Record(IsMessageBox(window) ? ReadMessageBox(window) : ReadDialog(window)),
        window);
  }

  static constexpr UINT_PTR kReadTimer = 0x5C41;

  static inline Hook* current = nullptr;
  DesktopScript& script;
  HHOOK handle = nullptr;
};

DesktopScript::DesktopScript() : hook_(std::make_unique<Hook>(*this)) {
  if (Hook::current != nullptr) throw std::logic_error("a desktop script is installed already");
  hook_->handle = SetWindowsHookExA(WH_CBT, Hook::Procedure, nullptr, GetCurrentThreadId());
  if (hook_->handle == nullptr) throw std::runtime_error("SetWindowsHookExA(WH_CBT) failed");
  Hook::current = hook_.get();
}

DesktopScript::~DesktopScript() {
  Hook::current = nullptr;
  UnhookWindowsHookEx(hook_->handle);
}

bool RealWindows() {
  return true;
}

}  // namespace brvst::test
