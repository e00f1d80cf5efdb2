// The headless desktop: who answers message boxes and drives modal dialogs on POSIX systems.
//
// There is no screen and no user. MessageBoxA and DialogBoxParamA hand their box or dialog to the
// process's current Desktop, which stands in for the user: it reads what is shown and answers,
// for example by pressing a button. Tests install a scripted desktop; without one, the default
// desktop writes each message box to stderr as "caption: text" and answers with the box's
// default button (IDOK for MB_OK and MB_OKCANCEL), writes each dialog to stderr as its title
// and the texts of its controls and then presses its OK button, and answers file dialogs from
// the environment (Desktop::ChooseFile).
//
// Resources: a module keeps its dialogs and bitmaps in a table it exports under the C name
// "BrvstResourceTable" (resource_table.h has the format and the rules); DialogBoxParamA and
// LoadBitmapA find it through the module handle, as Windows finds a module's resources.
//
// A modal dialog runs like this: DialogBoxParamA finds the dialog in the module's table, creates
// it and its controls (dialog units are converted with the base units of 8-point "MS Sans
// Serif", 6 x 13 pixels, scaled by the point size), sends WM_INITDIALOG to the dialog
// procedure, and then, unless the procedure already called
// EndDialog, calls Desktop::RunDialog. When that returns, the messages posted to the thread are
// delivered. A dialog that is still not ended then is destroyed, with a note on stderr, and
// DialogBoxParamA returns -1: a headless desktop cannot wait for a user.
#pragma once

#include "platform/platform.h"

#include <string>
#include <utility>
#include <vector>

namespace brvst::platform {

// What GetOpenFileNameA or GetSaveFileNameA shows the user.
struct FileDialogRequest {
  bool save = false;
  std::string title;                                         // the caller's, or "Open" / "Save As"
  std::vector<std::pair<std::string, std::string>> filters;  // description, pattern
  DWORD filterIndex = 1;                                     // 1-based, into `filters`
  std::string initialFolder;                                 // empty when the caller gave none
  std::string fileName;                                      // what the caller put in its buffer
};

// The user's choice in a file dialog.
struct FileDialogAnswer {
  // Absolute, or relative to the request's initial folder (else the working folder).
  std::string path;
  DWORD filterIndex = 0;  // 0: the filter the dialog started with
};

class BRVST_PLATFORM_API Desktop {
 public:
  virtual ~Desktop();

  // A message box; returns the id of the button the user pressed (IDOK, IDCANCEL, IDYES...).
  // `caption` is "Error" when the caller gave none.
  virtual int ShowMessageBox(HWND owner, const char* text, const char* caption, UINT type) = 0;

  // A modal dialog, created and initialised. Act on it with the functions below or any window
  // function (GetWindow, GetDlgItem, GetWindowTextA, SetDlgItemTextA, SendMessageA...). The
  // dialog is over once its procedure has called EndDialog.
  virtual void RunDialog(HWND dialog) = 0;

  // An open or save dialog: fills `answer` and returns true, or returns false for Cancel. By
  // default the answer is the path in the environment variable BRVST_FILE_DIALOG_ANSWER (for
  // every dialog); without it the dialog is cancelled, with a note on stderr.
  virtual bool ChooseFile(const FileDialogRequest& request, FileDialogAnswer& answer);
};

// Installs `desktop` for the whole process (nullptr: the default desktop) and returns the one it
// replaces (nullptr when that was the default). The caller keeps ownership.
BRVST_PLATFORM_API Desktop* SetDesktop(Desktop* desktop);

// What a user does to a dialog.
// Clicks the button `id`: WM_COMMAND with BN_CLICKED and the button's window, or none.
BRVST_PLATFORM_API void ClickButton(HWND dialog, int id);
// Presses Enter: clicks the default push button (DM_GETDEFID), or IDOK when there is none.
BRVST_PLATFORM_API void PressEnter(HWND dialog);
// Presses Escape: WM_COMMAND IDCANCEL.
BRVST_PLATFORM_API void PressEscape(HWND dialog);
// True once EndDialog was called for the dialog (or it is gone).
BRVST_PLATFORM_API bool IsDialogEnded(HWND dialog);

// The button Enter presses in a message box of `type`: its MB_DEFBUTTONn among the buttons of
// its MB_TYPEMASK kind (the first when n is past the last).
BRVST_PLATFORM_API int MessageBoxDefaultButton(UINT type);

}  // namespace brvst::platform
