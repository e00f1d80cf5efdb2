// Window classes, windows and messages. The same tests run against our headless desktop on
// Linux and against the system under Wine, so the two must behave alike.
#include "platform/platform.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace {

HINSTANCE Instance() {
  return GetModuleHandleA(nullptr);
}

struct Event {
  HWND window;
  UINT message;
  bool operator==(const Event&) const = default;
};

std::vector<Event> events;
LPVOID createParam = nullptr;

// Records the messages that matter to these tests and leaves the rest to the default.
LRESULT CALLBACK Recorder(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_NCCREATE:
    case WM_DESTROY:
    case WM_NCDESTROY:
    case WM_USER:
    case WM_USER + 1:
      events.push_back({window, message});
      break;
    case WM_CREATE:
      events.push_back({window, message});
      createParam = reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams;
      break;
    default:
      break;
  }
  if (message == WM_USER) return static_cast<LRESULT>(wParam + lParam);
  return DefWindowProcA(window, message, wParam, lParam);
}

LRESULT CALLBACK Other(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_USER) return -7;
  return DefWindowProcA(window, message, wParam, lParam);
}

LRESULT CALLBACK RefuseCreate(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_CREATE) return -1;
  return Recorder(window, message, wParam, lParam);
}

// A window class registered for one test.
struct WindowClass {
  WindowClass(const char* name, WNDPROC procedure) : name(name) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = procedure;
    wc.hInstance = Instance();
    wc.lpszClassName = name;
    atom = RegisterClassA(&wc);
  }
  ~WindowClass() { UnregisterClassA(name, Instance()); }
  const char* name;
  ATOM atom;
};

class Windows : public ::testing::Test {
 protected:
  void SetUp() override { events.clear(); }

  HWND Create(const char* className, DWORD style, HWND parent, int id = 0, LPVOID param = nullptr,
              const char* title = "") {
    return CreateWindowExA(0, className, title, style, 0, 0, 200, 100, parent,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), Instance(), param);
  }

  std::vector<Event> Only(UINT a, UINT b) const {
    std::vector<Event> out;
    for (const Event& e : events)
      if (e.message == a || e.message == b) out.push_back(e);
    return out;
  }
};

TEST_F(Windows, DuplicateRegistrationFailsAndLeavesTheFirstClass) {
  WindowClass first("BrvstTestDuplicate", Recorder);
  ASSERT_NE(first.atom, 0);
  WNDCLASSA wc{};
  wc.lpfnWndProc = Other;
  wc.hInstance = Instance();
  wc.lpszClassName = "brvsttestduplicate";  // class names ignore case
  SetLastError(0);
  EXPECT_EQ(RegisterClassA(&wc), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_ALREADY_EXISTS));

  WNDCLASSA info{};
  ASSERT_TRUE(GetClassInfoA(Instance(), "BrvstTestDuplicate", &info));
  EXPECT_EQ(info.lpfnWndProc, &Recorder);
  HWND window = Create("BrvstTestDuplicate", WS_POPUP, nullptr);
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(SendMessageA(window, WM_USER, 2, 3), 5);  // the first class's procedure

  // A class with windows cannot go; without them it can, and then be registered anew.
  SetLastError(0);
  EXPECT_FALSE(UnregisterClassA("BrvstTestDuplicate", Instance()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_HAS_WINDOWS));
  DestroyWindow(window);
  EXPECT_TRUE(UnregisterClassA("BrvstTestDuplicate", Instance()));
  SetLastError(0);
  EXPECT_FALSE(UnregisterClassA("BrvstTestDuplicate", Instance()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_DOES_NOT_EXIST));
  SetLastError(0);
  EXPECT_FALSE(GetClassInfoA(Instance(), "BrvstTestDuplicate", &info));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CLASS_DOES_NOT_EXIST));

  EXPECT_NE(RegisterClassA(&wc), 0);
  window = Create("BrvstTestDuplicate", WS_POPUP, nullptr);
  EXPECT_EQ(SendMessageA(window, WM_USER, 2, 3), -7);
  DestroyWindow(window);
}

TEST_F(Windows, CreationFailures) {
  SetLastError(0);
  EXPECT_EQ(Create("BrvstTestNoSuchClass", WS_POPUP, nullptr), nullptr);
  // Windows answers ERROR_CANNOT_FIND_WND_CLASS, Wine ERROR_CLASS_DOES_NOT_EXIST.
  EXPECT_TRUE(GetLastError() == static_cast<DWORD>(ERROR_CANNOT_FIND_WND_CLASS) ||
              GetLastError() == static_cast<DWORD>(ERROR_CLASS_DOES_NOT_EXIST))
      << GetLastError();

  WindowClass refusing("BrvstTestRefuse", RefuseCreate);
  EXPECT_EQ(Create("BrvstTestRefuse", WS_POPUP, nullptr), nullptr);
  // A window whose WM_CREATE answers -1 is freed again, without WM_DESTROY.
  const std::vector<Event> freed = Only(WM_DESTROY, WM_NCDESTROY);
  ASSERT_EQ(freed.size(), 1u);
  EXPECT_EQ(freed[0].message, static_cast<UINT>(WM_NCDESTROY));
  EXPECT_FALSE(IsWindow(freed[0].window));

  WindowClass recorder("BrvstTestOrphan", Recorder);
  SetLastError(0);
  EXPECT_EQ(Create("BrvstTestOrphan", WS_CHILD, nullptr), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_TLW_WITH_WSCHILD));
}

TEST_F(Windows, CreationAndDestructionMessagesInOrder) {
  WindowClass c("BrvstTestTree", Recorder);
  int param = 0;
  HWND top = Create("BrvstTestTree", WS_POPUP, nullptr, 0, &param);
  ASSERT_NE(top, nullptr);
  EXPECT_EQ(Only(WM_NCCREATE, WM_CREATE),
            (std::vector<Event>{{top, WM_NCCREATE}, {top, WM_CREATE}}));
  EXPECT_EQ(createParam, &param);

  HWND child = Create("BrvstTestTree", WS_CHILD, top, 7);
  HWND grandchild = Create("BrvstTestTree", WS_CHILD, child, 8);
  HWND owned = Create("BrvstTestTree", WS_POPUP, child);  // owned by child's top-level window
  ASSERT_TRUE(child && grandchild && owned);
  EXPECT_EQ(GetParent(child), top);
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
  EXPECT_EQ(Only(WM_DESTROY, WM_NCDESTROY), expected);
  for (HWND w : {top, child, grandchild, owned}) EXPECT_FALSE(IsWindow(w));
}

TEST_F(Windows, TextsAndUserData) {
  WindowClass c("BrvstTestText", Recorder);
  HWND window = Create("BrvstTestText", WS_POPUP, nullptr, 0, nullptr, "Hello");
  ASSERT_NE(window, nullptr);
  char text[16];
  EXPECT_EQ(GetWindowTextA(window, text, sizeof text), 5);
  EXPECT_STREQ(text, "Hello");
  // A short buffer gets what fits, terminated.
  EXPECT_EQ(GetWindowTextA(window, text, 4), 3);
  EXPECT_STREQ(text, "Hel");
  EXPECT_TRUE(SetWindowTextA(window, "Brimley"));
  EXPECT_EQ(SendMessageA(window, WM_GETTEXTLENGTH, 0, 0), 7);

  EXPECT_EQ(SetWindowLongPtrA(window, GWLP_USERDATA, 1234), 0);
  EXPECT_EQ(SetWindowLongPtrA(window, GWLP_USERDATA, 99), 1234);
  EXPECT_EQ(GetWindowLongPtrA(window, GWLP_USERDATA), 99);
  // Replacing the procedure takes effect at the next message.
  EXPECT_EQ(SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Other)),
            reinterpret_cast<LONG_PTR>(&Recorder));
  EXPECT_EQ(SendMessageA(window, WM_USER, 1, 1), -7);
  DestroyWindow(window);
}

TEST_F(Windows, PostedMessagesArriveInOrderAndDieWithTheirWindow) {
  WindowClass c("BrvstTestPost", Recorder);
  HWND a = Create("BrvstTestPost", WS_POPUP, nullptr);
  HWND b = Create("BrvstTestPost", WS_POPUP, nullptr);
  ASSERT_TRUE(a && b);
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
  }
  EXPECT_TRUE(PostMessageA(a, WM_USER + 1, 0, 0));
  EXPECT_TRUE(PostMessageA(b, WM_USER + 1, 0, 0));
  EXPECT_TRUE(PostMessageA(a, WM_USER, 0, 0));
  DestroyWindow(b);
  events.clear();
  while (PeekMessageA(&msg, nullptr, WM_USER, WM_USER + 1, PM_REMOVE)) DispatchMessageA(&msg);
  EXPECT_EQ(events, (std::vector<Event>{{a, WM_USER + 1}, {a, WM_USER}}));
  DestroyWindow(a);

  SetLastError(0);
  EXPECT_FALSE(PostMessageA(b, WM_USER, 0, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
  SetLastError(0);
  EXPECT_EQ(SendMessageA(b, WM_USER, 1, 1), 0);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
  EXPECT_FALSE(DestroyWindow(b));
}

TEST_F(Windows, ClientAreaAndInvalidation) {
  WindowClass c("BrvstTestPaint", Recorder);
  HWND top = Create("BrvstTestPaint", WS_POPUP | WS_VISIBLE, nullptr);
  HWND child = Create("BrvstTestPaint", WS_CHILD | WS_VISIBLE, top, 1);
  ASSERT_TRUE(top && child);
  RECT r{};
  EXPECT_TRUE(GetClientRect(child, &r));
  EXPECT_EQ(r.right - r.left, 200);
  EXPECT_EQ(r.bottom - r.top, 100);

  ValidateRect(child, nullptr);
  EXPECT_FALSE(GetUpdateRect(child, &r, FALSE));
  const RECT first{10, 10, 20, 20}, second{50, 5, 60, 15};
  EXPECT_TRUE(InvalidateRect(child, &first, FALSE));
  EXPECT_TRUE(InvalidateRect(child, &second, FALSE));
  ASSERT_TRUE(GetUpdateRect(child, &r, FALSE));
  EXPECT_EQ(r.left, 10);
  EXPECT_EQ(r.top, 5);
  EXPECT_EQ(r.right, 60);
  EXPECT_EQ(r.bottom, 20);
  // What lies outside the client area is no part of it.
  ValidateRect(child, nullptr);
  const RECT outside{150, 50, 400, 400};
  InvalidateRect(child, &outside, FALSE);
  ASSERT_TRUE(GetUpdateRect(child, &r, FALSE));
  EXPECT_EQ(r.right, 200);
  EXPECT_EQ(r.bottom, 100);
  // The whole window, and drawing it (the default WM_PAINT) validates it.
  EXPECT_TRUE(InvalidateRect(child, nullptr, TRUE));
  SendMessageA(child, WM_PAINT, 0, 0);
  EXPECT_FALSE(GetUpdateRect(child, &r, FALSE));
  DestroyWindow(top);
}

}  // namespace
