// The message catcher on Windows: a watch on the installing thread's modal windows reads each
// box or dialog once its texts are set and posts Enter's answer for its modal loop to deliver.
#include "tools/render/message_catcher.h"

#include "platform/windows/modal_watch.h"

namespace brvst::render {
namespace {

// Enter, as the user presses it: the modal loop's IsDialogMessage clicks the button with the
// focus or the default one (a box's MB_DEFBUTTONn sets the focus, not DM_GETDEFID).
void PressEnter(HWND window) {
  PostMessageA(window, WM_KEYDOWN, VK_RETURN, 0);
}

}  // namespace

struct MessageCatcher::Hook {
  explicit Hook(MessageCatcher& catcher)
      : watch([&catcher](HWND window) {
          // A message box is a dialog too: its one static text beside its icon makes
          // "caption: text".
          catcher.Record(DialogLine(window));
          PressEnter(window);
        }) {}
  platform::ModalWatch watch;
};

MessageCatcher::MessageCatcher() : hook_(std::make_unique<Hook>(*this)) {}

MessageCatcher::~MessageCatcher() = default;

}  // namespace brvst::render
