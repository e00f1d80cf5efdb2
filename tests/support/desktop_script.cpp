// The part of the desktop script both platforms share: answers, records, reading a dialog.
#include "desktop_script.h"

namespace brvst::test {

const ShownControl* Shown::Control(int id) const {
  for (const ShownControl& c : controls)
    if (c.id == id) return &c;
  return nullptr;
}

std::vector<std::string> Shown::Texts(const char* className) const {
  std::vector<std::string> texts;
  for (const ShownControl& c : controls)
    if (lstrcmpiA(c.className.c_str(), className) == 0) texts.push_back(c.text);
  return texts;
}

Answer Answer::Click(int id) {
  return Answer(Action::Click, id);
}

Answer Answer::Enter() {
  return Answer(Action::Enter, 0);
}

Answer Answer::File(const std::string& path) {
  return Ok().Typing(kFileNameEdit, path).Typing(kFileNameCombo, path);
}

Answer Answer::WithFileType(int index) && {
  fileType_ = index;
  return std::move(*this);
}

Answer Answer::Typing(int id, std::string text) && {
  typed_.emplace_back(id, std::move(text));
  return std::move(*this);
}

void DesktopScript::Queue(Answer answer) {
  std::lock_guard<std::mutex> lock(mutex_);
  answers_.push_back(std::move(answer));
}

std::vector<Shown> DesktopScript::shown() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return shown_;
}

size_t DesktopScript::pendingAnswers() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return answers_.size();
}

Answer DesktopScript::Record(Shown what) {
  std::lock_guard<std::mutex> lock(mutex_);
  shown_.push_back(std::move(what));
  if (answers_.empty()) return Answer::Ok();
  Answer answer = std::move(answers_.front());
  answers_.pop_front();
  return answer;
}

Shown ReadDialog(HWND dialog) {
  Shown shown{Shown::Kind::Dialog, {}, {}, {}, {}, {}};
  char text[4096];
  GetWindowTextA(dialog, text, sizeof text);
  shown.caption = text;
  for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    char className[64];
    GetClassNameA(child, className, sizeof className);
    GetWindowTextA(child, text, sizeof text);
    shown.controls.push_back({GetDlgCtrlID(child), className, text});
  }
  return shown;
}

}  // namespace brvst::test
