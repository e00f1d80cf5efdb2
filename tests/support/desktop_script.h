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
  enum class Kind { Box, Dialog, FileDialog };  // a message box, a modal dialog, open or save
  Kind kind;
  std::string caption;                 // a message box's caption or a dialog's title
  std::string text;                    // a message box's text
  std::vector<ShownControl> controls;  // a dialog's controls
  // File dialogs: the folder shown first ("" when the caller named none; on Windows the folder
  // the system chose then) and the descriptions of the file types offered.
  std::string folder;
  std::vector<std::string> fileTypes;

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
  // Chooses `path` in a file dialog (types it as its file name and presses OK).
  static Answer File(const std::string& path);

  // Types `text` into control `id` first.
  Answer Typing(int id, std::string text) &&;
  // Chooses the file type `index` (1-based) of a file dialog first.
  Answer WithFileType(int index) &&;

  enum class Action { Click, Enter };
  Action action() const { return action_; }
  int button() const { return button_; }
  const std::vector<std::pair<int, std::string>>& typed() const { return typed_; }
  int fileType() const { return fileType_; }

 private:
  Answer(Action action, int button) : action_(action), button_(button) {}
  Action action_;
  int button_;
  std::vector<std::pair<int, std::string>> typed_;
  int fileType_ = 0;
};

// Controls of the common file dialogs, as their templates number them.
inline constexpr int kFileNameEdit = 0x480;   // edt1
inline constexpr int kFileNameCombo = 0x47C;  // cmb13, the name box of newer templates
inline constexpr int kFileTypeCombo = 0x470;  // cmb1

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
