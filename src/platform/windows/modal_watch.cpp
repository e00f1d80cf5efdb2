#include "platform/windows/modal_watch.h"

#include <stdexcept>
#include <utility>

namespace brvst::platform {
namespace {

constexpr char kSeenProperty[] = "BrvstModalWatchSeen";
constexpr UINT_PTR kReadTimer = 0x5C41;

}  // namespace

ModalWatch::ModalWatch(std::function<void(HWND)> seen) : seen_(std::move(seen)) {
  if (current_ != nullptr) throw std::logic_error("a modal watch is installed already");
  handle_ = SetWindowsHookExA(WH_CBT, Procedure, nullptr, GetCurrentThreadId());
  if (handle_ == nullptr) throw std::runtime_error("SetWindowsHookExA(WH_CBT) failed");
  current_ = this;
}

ModalWatch::~ModalWatch() {
  current_ = nullptr;
  UnhookWindowsHookEx(handle_);
}

LRESULT CALLBACK ModalWatch::Procedure(int code, WPARAM wParam, LPARAM lParam) {
  const auto window = reinterpret_cast<HWND>(wParam);
  if (code == HCBT_ACTIVATE && current_ != nullptr && window != nullptr) {
    char className[16] = {};
    GetClassNameA(window, className, sizeof className);
    // A dialog is activated again when a box it showed closes: each one is seen once.
    if (lstrcmpA(className, "#32770") == 0 && GetPropA(window, kSeenProperty) == nullptr) {
      SetPropA(window, kSeenProperty, reinterpret_cast<HANDLE>(1));
      SetTimer(window, kReadTimer, 0, ReadWhenShown);
    }
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

void CALLBACK ModalWatch::ReadWhenShown(HWND window, UINT, UINT_PTR id, DWORD) {
  KillTimer(window, id);
  if (current_ != nullptr) current_->seen_(window);
}

}  // namespace brvst::platform
