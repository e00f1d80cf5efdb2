// The message catcher on our headless desktop: the catcher is the desktop, so nothing reaches
// the default desktop's stderr while it is installed.
#include "tools/render/message_catcher.h"

#include "platform/posix/desktop.h"

#include <stdexcept>

namespace brvst::render {

struct MessageCatcher::Hook final : platform::Desktop {
  explicit Hook(MessageCatcher& catcher) : catcher(catcher) {}

  int ShowMessageBox(HWND, const char* text, const char* caption, UINT type) override {
    catcher.Record(OneLine(caption) + ": " + OneLine(text));
    return platform::MessageBoxDefaultButton(type);
  }

  void RunDialog(HWND dialog) override {
    catcher.Record(DialogLine(dialog));
    platform::PressEnter(dialog);
  }

  static inline Hook* current = nullptr;
  MessageCatcher& catcher;
  platform::Desktop* previous = nullptr;
};

MessageCatcher::MessageCatcher() : hook_(std::make_unique<Hook>(*this)) {
  if (Hook::current != nullptr) throw std::logic_error("a message catcher is installed already");
  Hook::current = hook_.get();
  hook_->previous = platform::SetDesktop(hook_.get());
}

MessageCatcher::~MessageCatcher() {
  platform::SetDesktop(hook_->previous);
  Hook::current = nullptr;
}

}  // namespace brvst::render
