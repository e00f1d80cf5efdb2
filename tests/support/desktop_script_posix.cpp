// The desktop script on our headless desktop: the script is the desktop.
#include "desktop_script.h"

#include "platform/posix/desktop.h"

#include <stdexcept>

namespace brvst::test {
namespace {

void Apply(const Answer& answer, HWND dialog) {
  for (const auto& [id, text] : answer.typed()) SetDlgItemTextA(dialog, id, text.c_str());
  if (answer.action() == Answer::Action::Enter)
    platform::PressEnter(dialog);
  else
    platform::ClickButton(dialog, answer.button());
}

}  // namespace

struct DesktopScript::Hook final : platform::Desktop {
  explicit Hook(DesktopScript& script) : script(script) {}

  int ShowMessageBox(HWND, const char* text, const char* caption, UINT type) override {
    const Answer answer = script.Record({Shown::Kind::Box, caption, text, {}, {}, {}});
    return answer.action() == Answer::Action::Enter ? platform::MessageBoxDefaultButton(type)
                                                    : answer.button();
  }

  void RunDialog(HWND dialog) override { Apply(script.Record(ReadDialog(dialog)), dialog); }

  bool ChooseFile(const platform::FileDialogRequest& request,
                  platform::FileDialogAnswer& answer) override {
    Shown shown{Shown::Kind::FileDialog, request.title, {}, {}, request.initialFolder, {}};
    for (const auto& [description, pattern] : request.filters)
      shown.fileTypes.push_back(description);
    const Answer chosen = script.Record(std::move(shown));
    if (chosen.action() != Answer::Action::Click || chosen.button() != IDOK) return false;
    for (const auto& [id, text] : chosen.typed())
      if (id == kFileNameEdit) answer.path = text;
    answer.filterIndex = static_cast<DWORD>(chosen.fileType());
    return true;
  }

  DesktopScript& script;
};

DesktopScript::DesktopScript() : hook_(std::make_unique<Hook>(*this)) {
  platform::Desktop* previous = platform::SetDesktop(hook_.get());
  if (previous != nullptr) {
    platform::SetDesktop(previous);
    throw std::logic_error("a desktop script is installed already");
  }
}

DesktopScript::~DesktopScript() {
  platform::SetDesktop(nullptr);
}

bool RealWindows() {
  return false;
}

}  // namespace brvst::test
