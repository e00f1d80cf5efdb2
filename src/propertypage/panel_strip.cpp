#include "propertypage/panel_strip.h"

#include "com/adapter_resources.h"
#include "propertypage/adapter_property_page.h"

namespace brvst {
namespace {

constexpr const char* kButtonTexts[kStripButtonCount] = {"Load preset...",    "Save preset...",
                                                         "Load bank...",      "Save bank...",
                                                         "Rename program...", "Help"};
constexpr LONG kMargin = 2;
constexpr LONG kGap = 4;
constexpr LONG kPadding = 6;  // each side of a button's text
constexpr COLORREF kStripColour = RGB(212, 208, 200);
constexpr COLORREF kButtonColour = RGB(236, 233, 226);
constexpr COLORREF kEdgeColour = RGB(128, 128, 128);
constexpr COLORREF kTextColour = RGB(0, 0, 0);

AdapterPropertyPage* PageOf(HWND window) {
  return reinterpret_cast<AdapterPropertyPage*>(GetWindowLongPtrA(window, GWLP_USERDATA));
}

// The button under a client position, or -1.
int ButtonAt(HWND strip, LONG x, LONG y) {
  const auto rects = StripButtonRects(strip);
  for (size_t i = 0; i < rects.size(); ++i)
    if (x >= rects[i].left && x < rects[i].right && y >= rects[i].top && y < rects[i].bottom)
      return static_cast<int>(i);
  return -1;
}

void FillColour(HDC dc, const RECT& rect, COLORREF colour) {
  HBRUSH brush = CreateSolidBrush(colour);
  FillRect(dc, &rect, brush);
  DeleteObject(brush);
}

void Paint(HWND strip) {
  HDC dc = GetDC(strip);
  if (dc == nullptr) return;
  RECT client{};
  GetClientRect(strip, &client);
  FillColour(dc, client, kStripColour);
  HGDIOBJ previousFont = SelectObject(dc, SharedResources().PanelFont);
  SetTextColor(dc, kTextColour);
  SetBkMode(dc, TRANSPARENT);
  const auto rects = StripButtonRects(strip);
  for (size_t i = 0; i < rects.size(); ++i) {
    RECT r = rects[i];
    FillColour(dc, r, kEdgeColour);
    const RECT face{r.left + 1, r.top + 1, r.right - 1, r.bottom - 1};
    FillColour(dc, face, kButtonColour);
    DrawTextA(dc, kButtonTexts[i], -1, &r, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
  }
  SelectObject(dc, previousFont);
  ReleaseDC(strip, dc);
}

void Run(HWND strip, AdapterPropertyPage& page, StripCommand command) {
  switch (command) {
    case StripCommand::LoadPreset:
      page.OnLoadPreset();
      break;
    case StripCommand::SavePreset:
      page.OnSavePreset();
      break;
    case StripCommand::LoadBank:
      page.OnLoadBank();
      break;
    case StripCommand::SaveBank:
      page.OnSaveBank();
      break;
    case StripCommand::RenameProgram: {
      HWND parent = GetParent(strip);
      page.OnProgramName(parent != nullptr ? parent : strip);
      break;
    }
    case StripCommand::Help:
      page.Help(nullptr);
      break;
  }
}

}  // namespace

std::array<RECT, kStripButtonCount> StripButtonRects(HWND strip) {
  std::array<RECT, kStripButtonCount> rects{};
  RECT client{};
  GetClientRect(strip, &client);
  HDC dc = GetDC(strip);
  HGDIOBJ previousFont = dc != nullptr ? SelectObject(dc, SharedResources().PanelFont) : nullptr;
  LONG left = kMargin;
  for (size_t i = 0; i < rects.size(); ++i) {
    RECT text{0, 0, 0, 0};
    if (dc != nullptr) DrawTextA(dc, kButtonTexts[i], -1, &text, DT_CALCRECT | DT_SINGLELINE);
    const LONG width = text.right - text.left + 2 * kPadding;
    rects[i] = RECT{left, kMargin, left + width, client.bottom - kMargin};
    left += width + kGap;
  }
  if (dc != nullptr) {
    SelectObject(dc, previousFont);
    ReleaseDC(strip, dc);
  }
  return rects;
}

LRESULT CALLBACK PanelWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_SETFOCUS:
      return 0;
    case WM_GETDLGCODE:
      return DLGC_WANTALLKEYS;
    case WM_PAINT: {
      const LRESULT result = DefWindowProcA(window, message, wParam, lParam);
      Paint(window);
      return result;
    }
    case WM_LBUTTONDOWN:
      SetCapture(window);
      return 0;
    case WM_LBUTTONUP: {
      // A click: pressed on the strip and released on a button.
      if (GetCapture() != window) return 0;
      ReleaseCapture();
      const int button = ButtonAt(window, GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
      AdapterPropertyPage* page = PageOf(window);
      if (button < 0 || page == nullptr) return 0;
      try {
        Run(window, *page, static_cast<StripCommand>(button));
      } catch (...) {
        // Nothing may unwind into the system's message dispatch; the command is abandoned.
      }
      return 0;
    }
    default:
      return DefWindowProcA(window, message, wParam, lParam);
  }
}

}  // namespace brvst
