// Watches the message boxes and modal dialogs the calling thread shows, for code that stands in
// for the user (the tests' scripted desktop, the renderer's message catcher). A CBT hook on the
// thread sees each one activated; a system-modal box is activated while it is still being
// initialised, so the watcher reads it from a zero-delay timer its own modal loop dispatches,
// once its texts are set. Answers are posted for that loop to deliver.
#pragma once

#include "platform/platform.h"

#include <functional>

namespace brvst::platform {

class ModalWatch {
 public:
  // `seen` gets each box or dialog once, on the installing thread. One watch at a time: a second
  // throws std::logic_error; a hook the system refuses, std::runtime_error.
  explicit ModalWatch(std::function<void(HWND)> seen);
  ~ModalWatch();
  ModalWatch(const ModalWatch&) = delete;
  ModalWatch& operator=(const ModalWatch&) = delete;

 private:
  static LRESULT CALLBACK Procedure(int code, WPARAM wParam, LPARAM lParam);
  static void CALLBACK ReadWhenShown(HWND window, UINT, UINT_PTR id, DWORD);

  static inline ModalWatch* current_ = nullptr;
  std::function<void(HWND)> seen_;
  HHOOK handle_ = nullptr;
};

}  // namespace brvst::platform
