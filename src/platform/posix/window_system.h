// Inside the platform: the state of the headless window system.
//
// A window is an object in a handle table; its HWND is a number that is never reused, so a stale
// handle is simply not found. One recursive lock guards classes, windows and message queues; it
// is never held while a window procedure runs, and procedures hold a shared pointer to their
// window, so a window destroyed inside its own procedure stays valid memory until that returns.
#pragma once

#include "platform/platform.h"

#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace brvst::platform {

struct WindowClass {
  ATOM atom = 0;
  std::string name;
  HINSTANCE instance = nullptr;
  bool system = false;  // a class of the window system itself, found from every module
  WNDCLASSA info{};     // info.lpszClassName points into `name`
  std::string menuName;
};

// What the dialog manager keeps for a window of the dialog class.
struct DialogState {
  DLGPROC procedure = nullptr;
  bool modal = false;
  bool ended = false;
  INT_PTR result = 0;
  LRESULT messageResult = 0;  // DWLP_MSGRESULT
  LONG_PTR user = 0;          // DWLP_USER
};

struct Window {
  HWND handle = nullptr;
  std::shared_ptr<const WindowClass> windowClass;
  WNDPROC procedure = nullptr;
  HWND parent = nullptr;       // set for child windows only
  HWND owner = nullptr;        // set for owned top-level windows only
  std::vector<HWND> children;  // z order, top first: dialog controls in template order
  DWORD style = 0;
  DWORD exStyle = 0;
  HINSTANCE instance = nullptr;
  LONG_PTR id = 0;
  LONG_PTR userData = 0;
  std::string text;
  RECT rect{};  // window rectangle, in the parent's client coordinates (screen for top level)
  bool updatePending = false;
  bool updateErase = false;
  RECT update{};  // bounding box of the invalid part of the client area
  DWORD thread = 0;
  bool destroying = false;
  std::unique_ptr<DialogState> dialog;  // windows of the dialog class
  // Top-level windows: what device contexts drew on the client area, 0x00RRGGBB, rows top-down.
  std::vector<uint32_t> surface;
  SIZE surfaceSize{};
};

class WindowSystem {
 public:
  static WindowSystem& Get();

  std::recursive_mutex mutex;
  std::unordered_map<HWND, std::shared_ptr<Window>> windows;
  std::vector<HWND> topLevel;  // z order, top first
  std::vector<std::shared_ptr<WindowClass>> classes;
  std::unordered_map<DWORD, std::deque<MSG>> queues;  // posted messages per thread
  ATOM nextAtom = 0xC000;
  uintptr_t nextHandle = 0x10020;

  // The window behind a handle, or nullptr with ERROR_INVALID_WINDOW_HANDLE set.
  std::shared_ptr<Window> Find(HWND window);

 private:
  WindowSystem();
};

// Window rectangle insets of the non-client area for a style: frame and caption.
RECT NonClientInsets(DWORD style, DWORD exStyle);

// Procedures of the system classes (dialog manager and controls).
LRESULT CALLBACK DialogWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK ButtonWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK StaticWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK EditWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

inline constexpr ATOM kDialogClassAtom = 0x8002;

// The message PeekMessageA makes when nothing was posted: WM_PAINT for a window of this thread
// that needs painting, else WM_TIMER for a timer that is due (input.cpp). Called under the lock.
bool SynthesizedMessage(WindowSystem& system, MSG& msg, HWND window, UINT filterMin, UINT filterMax,
                        bool remove);
// Whether `window` is `ancestor` or one of its descendants (under the lock).
bool IsWindowOrDescendant(WindowSystem& system, HWND window, HWND ancestor);
// The client area of a window, with its origin at (0, 0).
RECT ClientRectOf(const Window& window);

class Desktop;
// The desktop installed now, or the default one.
Desktop* CurrentDesktop();

}  // namespace brvst::platform
