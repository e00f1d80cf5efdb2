// Window classes, windows and messages. The same tests run against our headless desktop on
// Linux and against the system under Wine, so the two must behave alike.
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

const HINSTANCE kInstance = GetModuleHandleA(nullptr);

struct Event {
  HWND window;
  UINT message;
  bool operator==(const Event&) const = default;
};

std::vector<Event> events;
LPVOID createParam = nullptr;

// Records every message; WM_USER answers the sum of its parameters.
LRESULT CALLBACK Recorder(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  events.push_back({window, message});
  if (message == WM_CREATE) createParam = reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams;
  if (message == WM_USER) return static_cast<LRESULT>(wParam + lParam);
  return DefWindowProcA(window, message, wParam, lParam);
}

LRESULT CALLBACK Other(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return message == WM_USER ? -7 : DefWindowProcA(window, message, wParam, lParam);
}

LRESULT CALLBACK RefuseCreate(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return message == WM_CREATE ? -1 : Recorder(window, message, wParam, lParam);
}

// Each test registers classes of its own names, which outlive it.
ATOM Register(const char* name, WNDPROC procedure = Recorder) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = procedure;
  wc.hInstance = kInstance;
  wc.lpszClassName = name;
  return RegisterClassA(&wc);
}

HWND Create(const char* className, DWORD style, HWND parent = nullptr, int id = 0,
            const char* title = "", LPVOID param = nullptr) {
  return CreateWindowExA(0, className, title, style, 0, 0, 200, 100, parent,
                         reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), kInstance, param);
}

// The recorded events of the messages `a` and `b`, and forgets all.
std::vector<Event> Take(UINT a, UINT b) {
  std::vector<Event> out;
  for (const Event& e : events)
    if (e.message == a || e.message == b) out.push_back(e);
  events.clear();
  return out;
}

TEST(Windows, DuplicateRegistrationFailsAndLeavesTheFirstClass) {
  ASSERT_NE(Register("BrvstTestDuplicate"), 0);
  SetLastError(0);
  EXPECT_EQ(Register("brvsttestduplicate", Other), 0);  // class names ignore case
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_ALREADY_EXISTS));
  HWND window = Create("BrvstTestDuplicate", WS_POPUP);
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(SendMessageA(window, WM_USER, 2, 3), 5);  // the first class's procedure

  // A class with windows cannot go; without them it can, once, and then be registered anew.
  SetLastError(0);
  EXPECT_FALSE(UnregisterClassA("BrvstTestDuplicate", kInstance));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_HAS_WINDOWS));
  DestroyWindow(window);
  EXPECT_TRUE(UnregisterClassA("BrvstTestDuplicate", kInstance));
  SetLastError(0);
  EXPECT_FALSE(UnregisterClassA("BrvstTestDuplicate", kInstance));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_DOES_NOT_EXIST));
  EXPECT_NE(Register("brvsttestduplicate", Other), 0);
  window = Create("BrvstTestDuplicate", WS_POPUP);
  EXPECT_EQ(SendMessageA(window, WM_USER, 2, 3), -7);
  DestroyWindow(window);
}

TEST(Windows, CreationFailures) {
  SetLastError(0);
  EXPECT_EQ(Create("BrvstTestNoSuchClass", WS_POPUP), nullptr);
  // Windows answers ERROR_CANNOT_FIND_WND_CLASS, Wine ERROR_CLASS_DOES_NOT_EXIST.
  EXPECT_TRUE(GetLastError() == static_cast<DWORD>(ERROR_CANNOT_FIND_WND_CLASS) ||
              GetLastError() == static_cast<DWORD>(ERROR_CLASS_DOES_NOT_EXIST))
      << GetLastError();

  Register("BrvstTestRefuse", RefuseCreate);
  events.clear();
  EXPECT_EQ(Create("BrvstTestRefuse", WS_POPUP), nullptr);
  // A window whose WM_CREATE answers -1 is freed again, without WM_DESTROY.
  const std::vector<Event> freed = Take(WM_DESTROY, WM_NCDESTROY);
  ASSERT_EQ(freed.size(), 1u);
  EXPECT_EQ(freed[0].message, static_cast<UINT>(WM_NCDESTROY));
  EXPECT_FALSE(IsWindow(freed[0].window));

  SetLastError(0);
  EXPECT_EQ(Create("BrvstTestRefuse", WS_CHILD), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_TLW_WITH_WSCHILD));
}

TEST(Windows, CreationTextsAndDestructionInOrder) {
  Register("BrvstTestTree");
  int param = 0;
  events.clear();
  HWND top = Create("BrvstTestTree", WS_POPUP, nullptr, 0, "Hello", &param);
  ASSERT_NE(top, nullptr);
  EXPECT_EQ(Take(WM_NCCREATE, WM_CREATE),
            (std::vector<Event>{{top, WM_NCCREATE}, {top, WM_CREATE}}));
  EXPECT_EQ(createParam, &param);
  char text[16];
  EXPECT_EQ(GetWindowTextA(top, text, sizeof text), 5);
  EXPECT_STREQ(text, "Hello");
  EXPECT_EQ(GetWindowTextA(top, text, 4), 3);  // what fits, terminated
  EXPECT_STREQ(text, "Hel");
  EXPECT_TRUE(SetWindowTextA(top, "Brimley"));
  EXPECT_EQ(SendMessageA(top, WM_GETTEXTLENGTH, 0, 0), 7);

  HWND child = Create("BrvstTestTree", WS_CHILD, top, 7);
  HWND grandchild = Create("BrvstTestTree", WS_CHILD, child, 8);
  HWND owned = Create("BrvstTestTree", WS_POPUP, child);  // owned by child's top-level window
  ASSERT_TRUE(child && grandchild && owned);
  EXPECT_EQ(GetParent(grandchild), child);
  EXPECT_EQ(GetParent(owned), top);
  EXPECT_EQ(GetParent(top), nullptr);
  EXPECT_EQ(GetDlgCtrlID(grandchild), 8);
  EXPECT_EQ(GetWindow(top, GW_CHILD), child);

  events.clear();
  EXPECT_TRUE(DestroyWindow(top));
  // The owned window goes first; then WM_DESTROY from the top down, WM_NCDESTROY bottom up.
  const std::vector<Event> expected = {{owned, WM_DESTROY},      {owned, WM_NCDESTROY},
                                       {top, WM_DESTROY},        {child, WM_DESTROY},
                                       {grandchild, WM_DESTROY}, {grandchild, WM_NCDESTROY},
                                       {child, WM_NCDESTROY},    {top, WM_NCDESTROY}};
  EXPECT_EQ(Take(WM_DESTROY, WM_NCDESTROY), expected);
  for (HWND w : {top, child, grandchild, owned}) EXPECT_FALSE(IsWindow(w));
}

TEST(Windows, InvalidAreasJoinWithinTheClientAreaUntilPainted) {
  Register("BrvstTestPaint");
  HWND top = Create("BrvstTestPaint", WS_POPUP | WS_VISIBLE);
  HWND child = Create("BrvstTestPaint", WS_CHILD | WS_VISIBLE, top, 1);
  ASSERT_TRUE(top && child);
  auto update = [&] {
    RECT r{};
    const BOOL pending = GetUpdateRect(child, &r, FALSE);
    return std::vector<LONG>{pending, r.left, r.top, r.right, r.bottom};
  };
  ValidateRect(child, nullptr);
  EXPECT_EQ(update(), (std::vector<LONG>{FALSE, 0, 0, 0, 0}));
  const RECT first{10, 10, 20, 20}, second{50, 5, 60, 15}, outside{150, 50, 400, 400};
  EXPECT_TRUE(InvalidateRect(child, &first, FALSE));
  EXPECT_TRUE(InvalidateRect(child, &second, FALSE));
  EXPECT_EQ(update(), (std::vector<LONG>{TRUE, 10, 5, 60, 20}));
  // What lies outside the client area (200 x 100) is no part of it.
  ValidateRect(child, nullptr);
  InvalidateRect(child, &outside, FALSE);
  EXPECT_EQ(update(), (std::vector<LONG>{TRUE, 150, 50, 200, 100}));
  // The whole window, and drawing it (the default WM_PAINT) validates it.
  EXPECT_TRUE(InvalidateRect(child, nullptr, TRUE));
  EXPECT_EQ(update(), (std::vector<LONG>{TRUE, 0, 0, 200, 100}));
  SendMessageA(child, WM_PAINT, 0, 0);
  EXPECT_FALSE(update()[0]);
  DestroyWindow(top);
}

}  // namespace
