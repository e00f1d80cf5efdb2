// Device contexts, drawing and input state. The same tests run against our headless desktop on
// Linux and against the system under Wine, so the two must behave alike.
#include "host/window_pixels.h"
#include "platform/platform.h"

#include <gtest/gtest.h>

namespace {

using brvst::host::Pixels;
using brvst::host::ReadWindowPixels;

const HINSTANCE kInstance = GetModuleHandleA(nullptr);
constexpr uint32_t kRed = 0xFF0000;
constexpr uint32_t kBlue = 0x0000FF;

LRESULT CALLBACK Plain(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcA(window, message, wParam, lParam);
}

LRESULT CALLBACK Answers42(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return message == WM_USER ? 42 : DefWindowProcA(window, message, wParam, lParam);
}

WNDPROC subclassed = nullptr;
LRESULT CALLBACK AddsOne(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  const LRESULT inner = CallWindowProcA(subclassed, window, message, wParam, lParam);
  return message == WM_USER ? inner + 1 : inner;
}

const char* PlainClass() {
  static const bool registered = [] {
    WNDCLASSA wc{};
    wc.lpfnWndProc = Plain;
    wc.hInstance = kInstance;
    wc.lpszClassName = "BrvstPaintingTest";
    return RegisterClassA(&wc) != 0;
  }();
  EXPECT_TRUE(registered);
  return "BrvstPaintingTest";
}

void Fill(HDC dc, RECT rect, COLORREF colour) {
  HBRUSH brush = CreateSolidBrush(colour);
  FillRect(dc, &rect, brush);
  DeleteObject(brush);
}

struct Windows {
  Windows() {
    top = CreateWindowExA(0, PlainClass(), "", WS_POPUP | WS_VISIBLE, 0, 0, 100, 60, nullptr,
                          nullptr, kInstance, nullptr);
    child = CreateWindowExA(0, PlainClass(), "", WS_CHILD | WS_VISIBLE, 10, 20, 30, 10, top,
                            nullptr, kInstance, nullptr);
    HDC dc = GetDC(top);
    Fill(dc, RECT{0, 0, 100, 60}, RGB(0, 0, 255));
    ReleaseDC(top, dc);
  }
  ~Windows() { DestroyWindow(top); }
  HWND top;
  HWND child;
};

TEST(Painting, ChildDrawsAtItsPlaceClippedToItsClientArea) {
  Windows w;
  HDC dc = GetDC(w.child);
  Fill(dc, RECT{-50, -50, 200, 200}, RGB(255, 0, 0));
  ReleaseDC(w.child, dc);
  const Pixels pixels = ReadWindowPixels(w.top);
  ASSERT_EQ(pixels.width, 100);
  EXPECT_EQ(pixels.At(10, 20), kRed);
  EXPECT_EQ(pixels.At(39, 29), kRed);
  EXPECT_EQ(pixels.At(9, 20), kBlue);
  EXPECT_EQ(pixels.At(40, 29), kBlue);
  EXPECT_EQ(pixels.At(10, 30), kBlue);
  EXPECT_EQ(pixels.At(10, 19), kBlue);
}

TEST(Painting, MemoryBitmapCopiesOnlyThePartAsked) {
  Windows w;
  HDC dc = GetDC(w.top);
  HDC memory = CreateCompatibleDC(dc);
  HBITMAP bitmap = CreateCompatibleBitmap(dc, 8, 4);
  HGDIOBJ previous = SelectObject(memory, bitmap);
  Fill(memory, RECT{0, 0, 8, 4}, RGB(255, 0, 0));
  BitBlt(dc, 50, 5, 3, 2, memory, 0, 0, SRCCOPY);
  SelectObject(memory, previous);
  DeleteDC(memory);
  DeleteObject(bitmap);
  ReleaseDC(w.top, dc);
  const Pixels pixels = ReadWindowPixels(w.top);
  ASSERT_EQ(pixels.width, 100);
  EXPECT_EQ(pixels.At(50, 5), kRed);
  EXPECT_EQ(pixels.At(52, 6), kRed);
  EXPECT_EQ(pixels.At(53, 5), kBlue);
  EXPECT_EQ(pixels.At(50, 7), kBlue);
}

TEST(Painting, TextInksOnlyInsideItsRectangleAndLeavesTheBackgroundWhenTransparent) {
  Windows w;
  HDC dc = GetDC(w.top);
  SetTextColor(dc, RGB(0, 255, 0));
  SetBkMode(dc, TRANSPARENT);
  RECT rect{10, 10, 30, 22};
  DrawTextA(dc, "WWWWWWWWWWWWWWWW", -1, &rect, DT_LEFT);
  ReleaseDC(w.top, dc);
  const Pixels pixels = ReadWindowPixels(w.top);
  ASSERT_EQ(pixels.width, 100);
  int inkInside = 0;
  for (LONG y = 0; y < pixels.height; ++y) {
    for (LONG x = 0; x < pixels.width; ++x) {
      const uint32_t p = pixels.At(x, y);
      const bool inside = x >= 10 && x < 30 && y >= 10 && y < 22;
      if (!inside) {
        ASSERT_EQ(p, kBlue) << x << "," << y;
      }
      if (inside && p != kBlue) {
        // Anti-aliased edges blend the ink with the background; no other colour appears.
        EXPECT_EQ(p & 0xFF0000, 0u);
        ++inkInside;
      }
    }
  }
  EXPECT_GT(inkInside, 20);
}

TEST(Painting, CalculatedTextRectangleGrowsWithTheText) {
  Windows w;
  HDC dc = GetDC(w.top);
  RECT one{0, 0, 0, 0};
  RECT four{0, 0, 0, 0};
  const int height = DrawTextA(dc, "M", -1, &one, DT_CALCRECT | DT_SINGLELINE);
  DrawTextA(dc, "MMMM", -1, &four, DT_CALCRECT | DT_SINGLELINE);
  ReleaseDC(w.top, dc);
  EXPECT_GT(one.right, 0);
  EXPECT_EQ(four.right, 4 * one.right);
  EXPECT_EQ(one.bottom, height);
}

TEST(Input, SubclassingReturnsTheOldProcedureToForwardTo) {
  Windows w;
  SetWindowLongPtrA(w.child, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(Answers42));
  subclassed = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrA(w.child, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(AddsOne)));
  EXPECT_EQ(subclassed, Answers42);
  EXPECT_EQ(SendMessageA(w.child, WM_USER, 0, 0), 43);
}

TEST(Input, CaptureAndCursor) {
  Windows w;
  EXPECT_EQ(SetCapture(w.child), nullptr);
  EXPECT_EQ(GetCapture(), w.child);
  EXPECT_TRUE(ReleaseCapture());
  EXPECT_EQ(GetCapture(), nullptr);
  ASSERT_TRUE(SetCursorPos(12, 34));
  POINT cursor{};
  ASSERT_TRUE(GetCursorPos(&cursor));
  EXPECT_EQ(cursor.x, 12);
  EXPECT_EQ(cursor.y, 34);
}

}  // namespace
