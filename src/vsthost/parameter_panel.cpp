#include "vsthost/parameter_panel.h"

#include "com/adapter_resources.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace brvst {
namespace {

// A display text as the plug-in gives it; one that writes nothing shows eight blanks.
void AskDisplay(VstPlugInstance& owner, int32_t index, PanelWnd::Text& out) {
  PanelWnd::Text text{};
  owner.GetParamDisplay(index, text);
  if (text[0] == '\0') std::memcpy(text, "        ", 9);
  std::memcpy(out, text, sizeof text);
}

PanelWnd* PanelOf(HWND window) {
  return reinterpret_cast<PanelWnd*>(GetWindowLongPtrA(window, GWLP_USERDATA));
}

}  // namespace

PanelWnd::PanelWnd(HWND panelWindow, vst2::AEffect* plugEffect, VstPlugInstance* plugOwner)
    : effect(plugEffect),
      owner(plugOwner),
      window(panelWindow),
      count(plugEffect != nullptr
                ? std::clamp(plugEffect->numParams, 0, VstPlugInstance::kMaxParams)
                : 0),
      values(std::make_unique<float[]>(count)),
      names(std::make_unique<Text[]>(count)),
      labels(std::make_unique<Text[]>(count)),
      displays(std::make_unique<Text[]>(count)) {
  // No message reaches the panel before it is complete: the user data is set last.
  SetWindowLongPtrA(window, GWLP_USERDATA, 0);
  SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(PanelWindowProc));
  for (int32_t i = 0; i < count; ++i) {
    values[i] = owner->GetParameter(i);
    // Through the instance: plug-ins write past the 32 bytes the interface implies.
    owner->GetParamLabel(i, labels[i]);
    owner->GetParamDisplay(i, displays[i]);
    owner->GetParamName(i, names[i]);
  }
  SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

PanelWnd::~PanelWnd() {
  // The window is destroyed right after; nothing may reach this panel through it meanwhile.
  if (IsWindow(window)) SetWindowLongPtrA(window, GWLP_USERDATA, 0);
}

void PanelWnd::ApplyValue(int32_t index, float value) {
  owner->SetParameter(index, value);
  owner->ParameterAutomated(index, value);
}

void PanelWnd::ShowValue(int32_t index, float value) {
  if (index < 0 || index >= count) return;
  Text display;
  if (effect != nullptr)
    AskDisplay(*owner, index, display);
  else
    std::memcpy(display, "        ", 9);
  {
    std::lock_guard<std::mutex> lock(rowsLock);
    std::memcpy(displays[index], display, sizeof display);
    values[index] = value;
  }
  Invalidate();
}

void PanelWnd::Invalidate() const {
  InvalidateRect(window, nullptr, FALSE);
}

float PanelWnd::ValueOf(int32_t row) {
  std::lock_guard<std::mutex> lock(rowsLock);
  return row >= 0 && row < count ? values[row] : 0.0f;
}

void PanelWnd::Paint() {
  const AdapterResources& resources = SharedResources();
  HDC dc = GetDC(window);
  if (dc == nullptr) return;
  HDC memory = CreateCompatibleDC(dc);
  for (int32_t i = 0; i < count; ++i) {
    const int32_t top = RowTop(i);
    HGDIOBJ previous =
        SelectObject(memory, i == selected ? resources.SliderActiveBitmap : resources.SliderBitmap);
    BitBlt(dc, 0, top, kRowWidth, kRowHeight, memory, 0, 0, SRCCOPY);
    SelectObject(memory, resources.BarBitmap);
    const auto width = static_cast<int32_t>(ValueOf(i) * static_cast<float>(kBarWidth));
    BitBlt(dc, kBarLeft, top + kBarTop, width, kBarHeight, memory, 0, 0, SRCCOPY);
    SelectObject(memory, previous);
  }
  DeleteDC(memory);
  HGDIOBJ previousFont = SelectObject(dc, resources.PanelFont);
  SetTextColor(dc, kTextColour);
  SetBkMode(dc, TRANSPARENT);
  for (int32_t i = 0; i < count; ++i) {
    const int32_t top = RowTop(i);
    Text display;
    {
      // A copy: the streaming thread may write the row while it is drawn.
      std::lock_guard<std::mutex> lock(rowsLock);
      std::memcpy(display, displays[i], sizeof display);
    }
    RECT nameRect{16, top + 2, 100, top + 12};
    RECT displayRect{110, top + 2, 180, top + 12};
    RECT labelRect{185, top + 2, 230, top + 12};
    DrawTextA(dc, names[i], -1, &nameRect, DT_CENTER);
    DrawTextA(dc, display, -1, &displayRect, DT_CENTER);
    DrawTextA(dc, labels[i], -1, &labelRect, DT_CENTER);
  }
  SelectObject(dc, previousFont);
  ReleaseDC(window, dc);
}

void PanelWnd::Press(int32_t y) {
  SetCapture(window);
  POINT cursor{};
  GetCursorPos(&cursor);
  lastCursorX = cursor.x;
  lastCursorY = cursor.y;
  const int32_t row = y / kRowHeight;
  if (y >= 0 && row < count) {
    selected = row;
    Invalidate();
  } else {
    selected = -1;
  }
}

void PanelWnd::Drag() {
  if (selected < 0) return;
  POINT cursor{};
  GetCursorPos(&cursor);
  const int32_t dx = cursor.x - lastCursorX;
  float value = ValueOf(selected);
  if (std::abs(dx) < kLargestStep) value += static_cast<float>(dx) * kValuePerPixel;
  value = std::clamp(value, 0.0f, 1.0f);
  // Sent also when nothing changed: the host sees the drag go on.
  ApplyValue(selected, value);
  lastCursorX = cursor.x;
  lastCursorY = cursor.y;
  Invalidate();
}

void PanelWnd::Release() {
  if (GetCapture() == window) ReleaseCapture();
  if (selected >= 0) Invalidate();
  selected = -1;
}

LRESULT CALLBACK PanelWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  // The editor area stays until the page closes the editor.
  if (message == WM_CLOSE) return 1;
  const LRESULT result = DefWindowProcA(window, message, wParam, lParam);
  PanelWnd* panel = PanelOf(window);
  if (panel == nullptr) return result;
  try {
    switch (message) {
      case WM_PAINT:
        panel->Paint();
        break;
      case WM_LBUTTONDOWN:
        panel->Press(GET_Y_LPARAM(lParam));
        break;
      case WM_MOUSEMOVE:
        panel->Drag();
        break;
      case WM_LBUTTONUP:
        panel->Release();
        break;
      default:
        break;
    }
  } catch (...) {
    // Nothing may unwind into the system's message dispatch; a failed step leaves the panel
    // as it was.
  }
  return result;
}

}  // namespace brvst
