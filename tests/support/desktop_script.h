// A scripted user for tests: records every message box and modal dialog the code under test
// shows, and answers each one as the test queued (OK when nothing is queued).
//
// Linux: installed as the headless desktop of the platform layer, for the whole process.
// Windows: a CBT hook on the installing thread sees each box or dialog when it is activated
// (after WM_INITDIALOG), reads its controls and posts the answer, which the dialog's own modal
// loop then delivers. Code that shows dialogs on another thread is not seen there.
#pragma once

#include "platform/platform.h"

#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace brvst::test {

// One control of a dialog as the user saw it, in the dialog's z order (template order).
struct ShownControl {
  int id;                 // GetDlgCtrlID: 65535 for a template's static texts
  std::string className;  // "Button", "Static", "Edit"
  std::string text;       // edit texts as WM_INITDIALOG left them
};

struct Shown {
  enum class Kind { Box, Dialog };  // a message box, a modal dialog
  Kind kind;
  std::string caption;                 // a message box's caption or a dialog's title
  std::string text;                    // a message box's text
  std::vector<ShownControl> controls;  // a dialog's controls

  // The control with `id`, or nullptr.
  const ShownControl* Control(int id) const;
  // The texts of all controls of a class, in order.
  std::vector<std::string> Texts(const char* className) const;
};

// How the user answers one box or dialog.
class Answer {
 public:
  // Clicks the button `id` (for a message box, that is its result).
  static Answer Click(int id);
  // Presses Enter: the default button.
  static Answer Enter();
  static Answer Ok() { return Click(IDOK); }
  static Answer Cancel() { return Click(IDCANCEL); }

  // Types `text` into control `id` first.
  Answer Typing(int id, std::string text) &&;

  enum class Action { Click, Enter };
  Action action() const { return action_; }
  int button() const { return button_; }
  const std::vector<std::pair<int, std::string>>& typed() const { return typed_; }

 private:
  Answer(Action action, int button) : action_(action), button_(button) {}
  Action action_;
  int button_;
  std::vector<std::pair<int, std::string>> typed_;
};

class DesktopScript {
 public:
  // Installs the script; one at a time. The destructor uninstalls it.
  DesktopScript();
  ~DesktopScript();
  DesktopScript(const DesktopScript&) = delete;
  DesktopScript& operator=(const DesktopScript&) = delete;

  // Answers the next box or dialog that has no answer yet; queued answers are used in order.
  void Queue(Answer answer);

  // Everything shown so far, in order.
  std::vector<Shown> shown() const;

  // Answers not used yet.
  size_t pendingAnswers() const;

  // Used by the platform part: records `what` and hands back the answer it gets.
  Answer Record(Shown what);

 private:
  struct Hook;
  mutable std::mutex mutex_;
  std::vector<Shown> shown_;
  std::deque<Answer> answers_;
  std::unique_ptr<Hook> hook_;
};

// Reads a live dialog's title and controls, with the window functions both platforms have.
Shown ReadDialog(HWND dialog);

// True in the Windows build (the system's own windows), false on our headless desktop.
bool RealWindows();

}  // namespace brvst::test
