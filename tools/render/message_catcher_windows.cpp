// The message catcher on Windows: a CBT hook on the installing thread sees each box or dialog
// when it is activated and reads it from a timer its own modal loop dispatches, once its texts
// are set; the answer is posted for that loop to deliver.
#include "tools/render/message_catcher.h"

#include <stdexcept>

namespace brvst::render {
namespace {

constexpr char kSeenProperty[] = "BrvstMessageCatcherSeen";
constexpr UINT_PTR kReadTimer = 0x5C42;

// Enter presses the default button, or OK where there is none.
void PressEnter(HWND window) {
  const LRESULT defaultId = SendMessageA(window, DM_GETDEFID, 0, 0);
  const int id = HIWORD(defaultId) == DC_HASDEFID ? LOWORD(defaultId) : IDOK;
  PostMessageA(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(window, id)));
}

}  // namespace

struct MessageCatcher::Hook {
  explicit Hook(MessageCatcher& catcher) : catcher(catcher) {}

  static LRESULT CALLBACK Procedure(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE && current != nullptr) Activated(reinterpret_cast<HWND>(wParam));
    return CallNextHookEx(nullptr, code, wParam, lParam);
  }

  static void Activated(HWND window) {
    char className[16] = {};
    if (window == nullptr) return;
    GetClassNameA(window, className, sizeof className);
    // A dialog is activated again when a box it showed closes: catch each one once.
    if (lstrcmpA(className, "#32770") != 0 || GetPropA(window, kSeenProperty) != nullptr) return;
    SetPropA(window, kSeenProperty, reinterpret_cast<HANDLE>(1));
    SetTimer(window, kReadTimer, 0, ReadWhenShown);
  }

  static void CALLBACK ReadWhenShown(HWND window, UINT, UINT_PTR id, DWORD) {
    KillTimer(window, id);
    if (current == nullptr) return;
    // A message box is a dialog too: its one static text beside its icon makes "caption: text".
    current->catcher.Record(DialogLine(window));
    PressEnter(window);
  }

  static inline Hook* current = nullptr;
  MessageCatcher& catcher;
  HHOOK handle = nullptr;
};

MessageCatcher::MessageCatcher() : hook_(std::make_unique<Hook>(*this)) {
  if (Hook::current != nullptr) throw std::logic_error("a message catcher is installed already");
  hook_->handle = SetWindowsHookExA(WH_CBT, Hook::Procedure, nullptr, GetCurrentThreadId());
  if (hook_->handle == nullptr) throw std::runtime_error("SetWindowsHookExA(WH_CBT) failed");
  Hook::current = hook_.get();
}

MessageCatcher::~MessageCatcher() {
  Hook::current = nullptr;
  UnhookWindowsHookEx(hook_->handle);
}

}  // namespace brvst::render
