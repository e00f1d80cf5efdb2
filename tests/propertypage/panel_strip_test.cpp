// The strip above the editor: its buttons, what they show and the commands a click runs.
#include "propertypage/panel_strip.h"
#include "com/adapter_resources.h"
#include "host/window_pixels.h"
#include "propertypage/adapter_property_page.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace brvst {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr CLSID kPageClsid = {0x1234, 0x5678, 0x9abc, {1, 2, 3, 4, 5, 6, 7, 8}};

// Records the commands instead of running them.
class RecordingPage : public AdapterPropertyPage {
 public:
  RecordingPage() : AdapterPropertyPage("Strip Test", nullptr, nullptr, &kPageClsid, 875, 171) {}
  void OnProgramName(HWND owner) override {
    calls.push_back("rename");
    renameOwner = owner;
  }
  void OnLoadPreset() override { calls.push_back("load preset"); }
  void OnSavePreset() override { calls.push_back("save preset"); }
  void OnLoadBank() override { calls.push_back("load bank"); }
  void OnSaveBank() override { calls.push_back("save bank"); }
  STDMETHODIMP Help(LPCOLESTR) override {
    calls.push_back("help");
    return S_OK;
  }
  std::vector<std::string> calls;
  HWND renameOwner = nullptr;
};

LRESULT CALLBACK HostProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcA(window, message, wParam, lParam);
}

void Pump() {
  MSG msg;
  for (int guard = 0; guard < 1000 && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE); ++guard)
    DispatchMessageA(&msg);
}

void Post(HWND window, UINT message, LONG x, LONG y) {
  PostMessageA(window, message, message == WM_LBUTTONDOWN ? MK_LBUTTON : 0, MAKELPARAM(x, y));
  Pump();
}

void Click(HWND window, const RECT& rect) {
  const LONG x = (rect.left + rect.right) / 2;
  const LONG y = (rect.top + rect.bottom) / 2;
  Post(window, WM_LBUTTONDOWN, x, y);
  Post(window, WM_LBUTTONUP, x, y);
}

class PanelStrip : public ::testing::Test {
 protected:
  void SetUp() override {
    InitAdapterResources();  // after the page: the last object to go releases them
    WNDCLASSA wc{};
    wc.lpfnWndProc = HostProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "BrvstStripTestHost";
    RegisterClassA(&wc);
    host = CreateWindowExA(0, "BrvstStripTestHost", "", WS_POPUP | WS_VISIBLE, 0, 0, 875, 190,
                           nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    const RECT place{0, 0, 875, 190};
    ASSERT_EQ(page.Activate(host, &place, FALSE), S_OK);
    strip = page.PanelWindow;
    ASSERT_NE(strip, nullptr);
    Pump();
  }
  void TearDown() override {
    page.Deactivate();
    DestroyWindow(host);
  }
  RecordingPage page;
  HWND host = nullptr;
  HWND strip = nullptr;
};

TEST_F(PanelStrip, EachButtonRunsItsCommandOnAClick) {
  const auto buttons = StripButtonRects(strip);
  for (const RECT& button : buttons) Click(strip, button);
  EXPECT_THAT(page.calls, ElementsAre("load preset", "save preset", "load bank", "save bank",
                                      "rename", "help"));
  EXPECT_EQ(page.renameOwner, host);
  EXPECT_EQ(GetCapture(), nullptr);
}

TEST_F(PanelStrip, ClicksBesideTheButtonsOrReleasesWithoutAPressRunNothing) {
  const auto buttons = StripButtonRects(strip);
  Post(strip, WM_LBUTTONDOWN, buttons[0].right + 1, 9);  // in the gap
  Post(strip, WM_LBUTTONUP, buttons[0].right + 1, 9);
  Post(strip, WM_LBUTTONDOWN, buttons[5].right + 20, 9);  // right of the last
  Post(strip, WM_LBUTTONUP, buttons[5].right + 20, 9);
  Post(strip, WM_LBUTTONUP, buttons[1].left + 3, 9);  // the press was elsewhere
  EXPECT_THAT(page.calls, IsEmpty());
  EXPECT_EQ(SendMessageA(strip, WM_GETDLGCODE, 0, 0), DLGC_WANTALLKEYS);
  EXPECT_EQ(SendMessageA(strip, WM_SETFOCUS, 0, 0), 0);
}

TEST_F(PanelStrip, ButtonsSitSideBySideInTheStripAndShowTheirTexts) {
  const auto buttons = StripButtonRects(strip);
  RECT client{};
  GetClientRect(strip, &client);
  for (size_t i = 0; i < buttons.size(); ++i) {
    EXPECT_GT(buttons[i].right - buttons[i].left, 10);
    EXPECT_LE(buttons[i].bottom, client.bottom);
    if (i > 0) {
      EXPECT_GT(buttons[i].left, buttons[i - 1].right);
    }
  }
  EXPECT_LT(buttons.back().right, client.right);
  const host::Pixels shown = host::ReadWindowPixels(host);
  ASSERT_GT(shown.width, 0);
  for (const RECT& button : buttons) {
    int ink = 0;
    for (LONG y = button.top + 1; y < button.bottom - 1; ++y)
      for (LONG x = button.left + 1; x < button.right - 1; ++x) ink += shown.At(x, y) == 0 ? 1 : 0;
    EXPECT_GT(ink, 10);
  }
}

}  // namespace
}  // namespace brvst
