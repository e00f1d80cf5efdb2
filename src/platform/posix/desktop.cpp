// The desktop that stands in for the user: installing one, the default one, message boxes.
#include "platform/posix/desktop.h"

#include "platform/posix/window_system.h"

#include <atomic>
#include <cstdio>

namespace brvst::platform {
namespace {

// Writes what it is shown to stderr, so unattended runs leave a trace, and takes the default.
class DefaultDesktop final : public Desktop {
 public:
  int ShowMessageBox(HWND, const char* text, const char* caption, UINT type) override {
    std::fprintf(stderr, "%s: %s\n", caption, text);
    return MessageBoxDefaultButton(type);
  }

  void RunDialog(HWND dialog) override {
    char text[1024];
    GetWindowTextA(dialog, text, sizeof text);
    std::fprintf(stderr, "%s\n", text);
    for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
      if (GetWindowTextA(child, text, sizeof text) > 0) std::fprintf(stderr, "  %s\n", text);
    }
    ClickButton(dialog, IDOK);
  }
};

DefaultDesktop& TheDefaultDesktop() {
  static DefaultDesktop* desktop = new DefaultDesktop;
  return *desktop;
}

std::atomic<Desktop*> installed{nullptr};

}  // namespace

Desktop::~Desktop() = default;

Desktop* SetDesktop(Desktop* desktop) {
  return installed.exchange(desktop);
}

Desktop* CurrentDesktop() {
  Desktop* desktop = installed.load();
  return desktop != nullptr ? desktop : &TheDefaultDesktop();
}

int MessageBoxDefaultButton(UINT type) {
  static const int kButtons[][3] = {
      {IDOK, 0, 0},                        // MB_OK
      {IDOK, IDCANCEL, 0},                 // MB_OKCANCEL
      {IDABORT, IDRETRY, IDIGNORE},        // MB_ABORTRETRYIGNORE
      {IDYES, IDNO, IDCANCEL},             // MB_YESNOCANCEL
      {IDYES, IDNO, 0},                    // MB_YESNO
      {IDRETRY, IDCANCEL, 0},              // MB_RETRYCANCEL
      {IDCANCEL, IDTRYAGAIN, IDCONTINUE},  // MB_CANCELTRYCONTINUE
  };
  const UINT kind = type & MB_TYPEMASK;
  if (kind >= sizeof kButtons / sizeof kButtons[0]) return IDOK;
  const UINT index = (type & MB_DEFMASK) >> 8;
  return index < 3 && kButtons[kind][index] != 0 ? kButtons[kind][index] : kButtons[kind][0];
}

}  // namespace brvst::platform

using namespace brvst::platform;

extern "C" int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  return CurrentDesktop()->ShowMessageBox(owner, text != nullptr ? text : "",
                                          caption != nullptr ? caption : "Error", type);
}
