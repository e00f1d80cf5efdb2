// The desktop script on Windows: a watch on the installing thread's modal windows reads each
// dialog and message box once its texts are set, and posts the answer for the dialog's own modal
// loop to deliver.
#include "desktop_script.h"

#include "platform/windows/modal_watch.h"

namespace brvst::test {
namespace {

// Dialogs of the code under test belong to its module; a message box belongs to user32, or
// under Wine to no module at all.
bool IsMessageBox(HWND window) {
  const auto instance = reinterpret_cast<HMODULE>(GetWindowLongPtrA(window, GWLP_HINSTANCE));
  return instance == nullptr || instance == GetModuleHandleA("user32.dll");
}

Shown ReadMessageBox(HWND box) {
  const Shown dialog = ReadDialog(box);
  Shown shown{Shown::Kind::Box, dialog.caption, {}, {}, {}, {}};
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

// The common file dialogs have a file-type box and a file-name box.
bool IsFileDialog(HWND window) {
  return GetDlgItem(window, kFileTypeCombo) != nullptr &&
         (GetDlgItem(window, kFileNameEdit) != nullptr ||
          GetDlgItem(window, kFileNameCombo) != nullptr);
}

Shown ReadFileDialog(HWND dialog) {
  Shown shown = ReadDialog(dialog);
  shown.kind = Shown::Kind::FileDialog;
  char text[MAX_PATH] = {};
  if (SendMessageA(dialog, CDM_GETFOLDERPATH, sizeof text, reinterpret_cast<LPARAM>(text)) > 0)
    shown.folder = text;
  HWND types = GetDlgItem(dialog, kFileTypeCombo);
  const auto count = SendMessageA(types, CB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    if (SendMessageA(types, CB_GETLBTEXTLEN, i, 0) >= static_cast<LRESULT>(sizeof text)) continue;
    SendMessageA(types, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
    shown.fileTypes.push_back(text);
  }
  return shown;
}

Shown Read(HWND window) {
  if (IsMessageBox(window)) return ReadMessageBox(window);
  return IsFileDialog(window) ? ReadFileDialog(window) : ReadDialog(window);
}

void Apply(const Answer& answer, HWND dialog) {
  if (answer.fileType() > 0) {
    HWND types = GetDlgItem(dialog, kFileTypeCombo);
    SendMessageA(types, CB_SETCURSEL, answer.fileType() - 1, 0);
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(kFileTypeCombo, CBN_SELENDOK),
                 reinterpret_cast<LPARAM>(types));
  }
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
  explicit Hook(DesktopScript& script)
      : watch([&script](HWND window) { Apply(script.Record(Read(window)), window); }) {}
  platform::ModalWatch watch;
};

DesktopScript::DesktopScript() : hook_(std::make_unique<Hook>(*this)) {}

DesktopScript::~DesktopScript() = default;

bool RealWindows() {
  return true;
}

}  // namespace brvst::test
