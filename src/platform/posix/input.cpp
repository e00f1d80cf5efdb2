// Timers, the message loop's own messages, visibility, capture and the cursor of the headless
// desktop.
#include "platform/posix/desktop_testing.h"
#include "platform/posix/window_system.h"

#include <algorithm>
#include <atomic>

namespace brvst::platform {
namespace {

using Lock = std::lock_guard<std::recursive_mutex>;

// Windows raises shorter periods to this (USER_TIMER_MINIMUM).
constexpr UINT kShortestPeriod = 10;

struct Timer {
  HWND window;
  UINT_PTR id;
  UINT period;
  DWORD due;
  DWORD thread;
  TIMERPROC procedure;
};

// Guarded by the window system's lock.
std::vector<Timer>& Timers() {
  static auto* timers = new std::vector<Timer>;
  return *timers;
}

std::atomic<DWORD> clockOffset{0};
std::atomic<HWND> captureWindow{nullptr};
std::atomic<LONG> cursorX{0};
std::atomic<LONG> cursorY{0};

bool IsDue(DWORD due, DWORD now) {
  return static_cast<int32_t>(now - due) >= 0;
}

bool InFilter(UINT message, UINT filterMin, UINT filterMax) {
  return (filterMin == 0 && filterMax == 0) || (message >= filterMin && message <= filterMax);
}

bool Matches(WindowSystem& system, HWND candidate, HWND window) {
  if (window == reinterpret_cast<HWND>(-1)) return candidate == nullptr;
  return window == nullptr || IsWindowOrDescendant(system, candidate, window);
}

// A window of this thread that needs painting, parents before their children, top first;
// hidden windows and what they contain are skipped.
HWND FindWindowToPaint(WindowSystem& system, const std::vector<HWND>& windows, HWND filter) {
  for (HWND handle : windows) {
    auto w = system.windows.find(handle);
    if (w == system.windows.end() || (w->second->style & WS_VISIBLE) == 0) continue;
    const Window& window = *w->second;
    if (window.updatePending && window.thread == GetCurrentThreadId() &&
        Matches(system, handle, filter))
      return handle;
    if (HWND child = FindWindowToPaint(system, window.children, filter)) return child;
  }
  return nullptr;
}

void PaintNow(HWND handle) {
  WindowSystem& system = WindowSystem::Get();
  std::vector<HWND> children;
  bool pending = false;
  {
    Lock lock(system.mutex);
    auto window = system.windows.find(handle);
    if (window == system.windows.end()) return;
    pending = window->second->updatePending;
    children = window->second->children;
  }
  if (pending) SendMessageA(handle, WM_PAINT, 0, 0);
  for (HWND child : children) PaintNow(child);
}

}  // namespace

DWORD DesktopTime() {
  return GetTickCount() + clockOffset.load();
}

void AdvanceDesktopClock(DWORD milliseconds) {
  clockOffset += milliseconds;
}

bool SynthesizedMessage(WindowSystem& system, MSG& msg, HWND window, UINT filterMin, UINT filterMax,
                        bool remove) {
  if (InFilter(WM_PAINT, filterMin, filterMax)) {
    if (HWND paint = FindWindowToPaint(system, system.topLevel, window)) {
      // WM_PAINT stays until the window is validated, as on Windows.
      msg = MSG{paint, WM_PAINT, 0, 0, DesktopTime(), {}};
      return true;
    }
  }
  if (!InFilter(WM_TIMER, filterMin, filterMax)) return false;
  // A window's timers go with it.
  std::erase_if(Timers(), [&](const Timer& t) {
    return t.window != nullptr && system.windows.count(t.window) == 0;
  });
  const DWORD now = DesktopTime();
  for (Timer& timer : Timers()) {
    if (timer.thread != GetCurrentThreadId() || !IsDue(timer.due, now) ||
        !Matches(system, timer.window, window))
      continue;
    msg = MSG{timer.window, WM_TIMER, timer.id, reinterpret_cast<LPARAM>(timer.procedure), now, {}};
    // Periods missed while nobody asked make one message, not many.
    if (remove) timer.due = now + timer.period;
    return true;
  }
  return false;
}

}  // namespace brvst::platform

using namespace brvst::platform;

extern "C" {

UINT_PTR WINAPI SetTimer(HWND window, UINT_PTR id, UINT elapse, TIMERPROC procedure) {
  WindowSystem& system = WindowSystem::Get();
  Lock lock(system.mutex);
  DWORD thread = GetCurrentThreadId();
  if (window != nullptr) {
    auto w = system.Find(window);
    if (w == nullptr) return 0;
    thread = w->thread;
  } else {
    // A timer of the thread gets an id of its own.
    static UINT_PTR nextThreadTimer = 0x7FFF;
    id = ++nextThreadTimer;
  }
  const UINT period = std::max(elapse, kShortestPeriod);
  std::vector<Timer>& timers = Timers();
  std::erase_if(timers, [&](const Timer& t) { return t.window == window && t.id == id; });
  timers.push_back(Timer{window, id, period, DesktopTime() + period, thread, procedure});
  return window != nullptr && id == 0 ? 1 : id;
}

BOOL WINAPI KillTimer(HWND window, UINT_PTR id) {
  WindowSystem& system = WindowSystem::Get();
  Lock lock(system.mutex);
  const size_t removed =
      std::erase_if(Timers(), [&](const Timer& t) { return t.window == window && t.id == id; });
  if (removed == 0) SetLastError(ERROR_INVALID_PARAMETER);
  return removed != 0 ? TRUE : FALSE;
}

BOOL WINAPI GetMessageA(LPMSG msg, HWND window, UINT filterMin, UINT filterMax) {
  if (msg == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return -1;
  }
  // Nothing wakes a headless thread but another thread's post or a timer: look again shortly.
  while (!PeekMessageA(msg, window, filterMin, filterMax, PM_REMOVE)) Sleep(1);
  return msg->message == WM_QUIT ? FALSE : TRUE;
}

BOOL WINAPI TranslateMessage(const MSG*) {
  return FALSE;  // no keyboard
}

VOID WINAPI PostQuitMessage(int exitCode) {
  PostMessageA(nullptr, WM_QUIT, static_cast<WPARAM>(exitCode), 0);
}

LRESULT WINAPI CallWindowProcA(WNDPROC procedure, HWND window, UINT message, WPARAM wParam,
                               LPARAM lParam) {
  return procedure != nullptr ? procedure(window, message, wParam, lParam) : 0;
}

HWND WINAPI SetCapture(HWND window) {
  return captureWindow.exchange(IsWindow(window) ? window : nullptr);
}

BOOL WINAPI ReleaseCapture() {
  captureWindow = nullptr;
  return TRUE;
}

HWND WINAPI GetCapture() {
  HWND window = captureWindow.load();
  return window != nullptr && IsWindow(window) ? window : nullptr;
}

BOOL WINAPI GetCursorPos(POINT* point) {
  if (point == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *point = POINT{cursorX.load(), cursorY.load()};
  return TRUE;
}

BOOL WINAPI SetCursorPos(int x, int y) {
  cursorX = x;
  cursorY = y;
  return TRUE;
}

BOOL WINAPI ClientToScreen(HWND window, POINT* point) {
  if (point == nullptr || !IsWindow(window)) return FALSE;
  MapWindowPoints(window, nullptr, point, 1);
  return TRUE;
}

BOOL WINAPI ScreenToClient(HWND window, POINT* point) {
  if (point == nullptr || !IsWindow(window)) return FALSE;
  MapWindowPoints(nullptr, window, point, 1);
  return TRUE;
}

BOOL WINAPI ShowWindow(HWND window, int command) {
  bool wasVisible;
  {
    WindowSystem& system = WindowSystem::Get();
    Lock lock(system.mutex);
    auto w = system.Find(window);
    if (w == nullptr) return FALSE;
    wasVisible = (w->style & WS_VISIBLE) != 0;
    if (command == SW_HIDE)
      w->style &= ~static_cast<DWORD>(WS_VISIBLE);
    else
      w->style |= WS_VISIBLE;
  }
  // A window that comes into view is drawn afresh.
  if (!wasVisible && command != SW_HIDE) InvalidateRect(window, nullptr, TRUE);
  return wasVisible ? TRUE : FALSE;
}

BOOL WINAPI IsWindowVisible(HWND window) {
  WindowSystem& system = WindowSystem::Get();
  Lock lock(system.mutex);
  for (HWND h = window; h != nullptr;) {
    auto w = system.windows.find(h);
    if (w == system.windows.end() || (w->second->style & WS_VISIBLE) == 0) return FALSE;
    h = w->second->parent;
  }
  return window != nullptr ? TRUE : FALSE;
}

BOOL WINAPI UpdateWindow(HWND window) {
  if (!IsWindow(window)) return FALSE;
  PaintNow(window);
  return TRUE;
}

}  // extern "C"
