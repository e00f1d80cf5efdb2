// The message catcher on Windows: a watch on the installing thread's modal windows reads each
// box or dialog once its texts are set and posts Enter's answer for its modal loop to deliver.
#include "tools/render/message_catcher.h"

#include "platform/windows/modal_watch.h"

namespace brvst::render {
namespace {

// Enter presses the default button, or OK where there is none.
void PressEnter(HWND window) {
  const LRESULT defaultId = SendMessageA(window, DM_GETDEFID, 0, 0);
  const int id = HIWORD(defaultId) == DC_HASDEFID ? LOWORD(defaultId) : IDOK;
  PostMessageA(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
               reinterpret_cast<LPARAM>(GetDlgItem(window, id)));
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
