// The headless desktop's own messages: timers on its clock and WM_PAINT, as the message loop
// makes them.
#include "platform/platform.h"
#include "platform/posix/desktop_testing.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using brvst::platform::AdvanceDesktopClock;

const HINSTANCE kInstance = GetModuleHandleA(nullptr);
std::vector<std::pair<HWND, UINT>> delivered;

LRESULT CALLBACK Recorder(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  delivered.emplace_back(window,
                         message == WM_TIMER ? 0x10000 + static_cast<UINT>(wParam) : message);
  return DefWindowProcA(window, message, wParam, lParam);  // validates on WM_PAINT
}

HWND Create(DWORD style, HWND parent = nullptr) {
  static const bool registered = [] {
    WNDCLASSA wc{};
    wc.lpfnWndProc = Recorder;
    wc.hInstance = kInstance;
    wc.lpszClassName = "BrvstLoopTest";
    return RegisterClassA(&wc) != 0;
  }();
  EXPECT_TRUE(registered);
  return CreateWindowExA(0, "BrvstLoopTest", "", style, 0, 0, 50, 50, parent, nullptr, kInstance,
                         nullptr);
}

// Everything the loop has now, dispatched.
std::vector<std::pair<HWND, UINT>> Pump() {
  delivered.clear();
  MSG msg;
  for (int guard = 0; guard < 100 && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE); ++guard)
    DispatchMessageA(&msg);
  return delivered;
}

TEST(MessageLoop, TimerFallsDueOnTheDesktopClockOncePerRetrieval) {
  HWND window = Create(WS_POPUP);
  Pump();
  ASSERT_EQ(SetTimer(window, 7, 40, nullptr), 7u);
  EXPECT_TRUE(Pump().empty());
  AdvanceDesktopClock(40);
  using Events = std::vector<std::pair<HWND, UINT>>;
  EXPECT_EQ(Pump(), (Events{{window, 0x10007}}));
  // Many periods missed make one tick, and the next is a whole period later.
  AdvanceDesktopClock(400);
  EXPECT_EQ(Pump(), (Events{{window, 0x10007}}));
  EXPECT_TRUE(Pump().empty());
  AdvanceDesktopClock(40);
  EXPECT_EQ(Pump(), (Events{{window, 0x10007}}));
  EXPECT_TRUE(KillTimer(window, 7));
  AdvanceDesktopClock(40);
  EXPECT_TRUE(Pump().empty());
  // A window's timers die with it.
  SetTimer(window, 8, 40, nullptr);
  DestroyWindow(window);
  AdvanceDesktopClock(40);
  EXPECT_TRUE(Pump().empty());
  EXPECT_FALSE(KillTimer(window, 8));
}

TEST(MessageLoop, InvalidWindowsArePaintedParentFirstOnceAndHiddenOnesNot) {
  HWND top = Create(WS_POPUP | WS_VISIBLE);
  HWND child = Create(WS_CHILD | WS_VISIBLE, top);
  Pump();
  InvalidateRect(child, nullptr, FALSE);
  InvalidateRect(top, nullptr, FALSE);
  using Events = std::vector<std::pair<HWND, UINT>>;
  EXPECT_EQ(Pump(), (Events{{top, WM_PAINT}, {child, WM_PAINT}}));
  ShowWindow(top, SW_HIDE);
  InvalidateRect(child, nullptr, FALSE);
  EXPECT_TRUE(Pump().empty());
  EXPECT_FALSE(IsWindowVisible(child));
  ShowWindow(top, SW_SHOW);  // shown again: drawn afresh
  EXPECT_EQ(Pump(), (Events{{top, WM_PAINT}, {child, WM_PAINT}}));
  InvalidateRect(child, nullptr, FALSE);
  delivered.clear();
  UpdateWindow(top);
  EXPECT_EQ(delivered, (Events{{child, WM_PAINT}}));
  DestroyWindow(top);
}

TEST(MessageLoop, GetMessageWaitsForATimerAndEndsOnQuit) {
  HWND window = Create(WS_POPUP);
  Pump();
  SetTimer(window, 1, 10, nullptr);
  MSG msg;
  ASSERT_TRUE(GetMessageA(&msg, nullptr, 0, 0));
  EXPECT_EQ(msg.message, static_cast<UINT>(WM_TIMER));
  KillTimer(window, 1);
  PostQuitMessage(3);
  EXPECT_FALSE(GetMessageA(&msg, nullptr, 0, 0));
  EXPECT_EQ(msg.wParam, 3u);
  DestroyWindow(window);
}

}  // namespace
