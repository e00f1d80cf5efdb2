// Catches what the adapter shows its user while the renderer runs. The renderer has no user to
// click: each message box is answered with its default button and each modal dialog (the
// serious-error report) is closed as Enter closes it, and both are kept as lines of text for the
// renderer to print where it prints everything else.
//
// POSIX: installed as the process's headless desktop (the one it replaces comes back after).
// Windows: a CBT hook on the installing thread sees each box or dialog once its modal loop runs;
// boxes and dialogs shown on other threads are not caught there.
#pragma once

#include "platform/platform.h"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace brvst::render {

class MessageCatcher {
 public:
  // One at a time in a process: a second one throws std::logic_error. On POSIX the desktop it
  // replaces (a test's, say) is installed again when it goes.
  MessageCatcher();
  ~MessageCatcher();
  MessageCatcher(const MessageCatcher&) = delete;
  MessageCatcher& operator=(const MessageCatcher&) = delete;

  // What was shown since the last call, oldest first, and forgets it: a message box as
  // "caption: text", a dialog as "title: " and its texts, each in one line.
  std::vector<std::string> Take();

 private:
  struct Hook;
  void Record(std::string line);

  std::mutex mutex_;
  std::vector<std::string> seen_;
  std::unique_ptr<Hook> hook_;
};

// A dialog's title and the texts of its static and edit controls (icons and empty ones aside) in
// one line: "title: text text". For a message box on Windows that is "caption: text".
std::string DialogLine(HWND dialog);

// Each line break in `text` becomes a space, and blanks at either end go; other spacing stays.
std::string OneLine(const std::string& text);

}  // namespace brvst::render
