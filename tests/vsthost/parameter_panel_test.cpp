// The generic parameter panel: what it draws, how a drag changes a parameter, and rows kept
// consistent while other threads set parameters.
#include "editor_test_support.h"
#include "host/window_pixels.h"

#include "com/adapter_resources.h"
#include "propertypage/adapter_property_page.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

namespace brvst::test {
namespace {

using host::Pixels;
using host::ReadBitmapPixels;
using host::ReadWindowPixels;
using ::testing::Each;
using ::testing::ElementsAre;
using ::testing::FloatEq;
using ::testing::FloatNear;
using ::testing::IsEmpty;

constexpr LONG kPanelTop = AdapterPropertyPage::kStripHeight;

// The width of the value bar drawn in a row: how far the bar bitmap's pixels run from its left.
int BarWidth(const Pixels& shown, int32_t row) {
  const Pixels bar = ReadBitmapPixels(SharedResources().BarBitmap);
  const LONG y = kPanelTop + row * PanelWnd::kRowHeight + PanelWnd::kBarTop + 2;
  int width = 0;
  while (width < bar.width && shown.At(PanelWnd::kBarLeft + width, y) == bar.At(width, 2)) ++width;
  return width;
}

// A mouse message as a user makes one: the cursor moves, then the message is posted. Windows
// makes a move message of its own for the cursor's move; it is dropped, so that each step is
// one message on every platform.
void Mouse(HWND window, UINT message, LONG x, LONG y) {
  POINT screen{x, y};
  ClientToScreen(window, &screen);
  SetCursorPos(screen.x, screen.y);
  MSG own;
  while (PeekMessageA(&own, nullptr, WM_MOUSEMOVE, WM_MOUSEMOVE, PM_REMOVE)) {
  }
  PostMessageA(window, message, message == WM_LBUTTONUP ? 0 : MK_LBUTTON, MAKELPARAM(x, y));
  PumpMessages();
}

TEST(ParameterPanel, DrawsEachRowsBarAsWideAsItsValue) {
  OpenEditorHost open("probe_effect.dll");
  open.plugin().SetParameter(0, 0.5f);
  open.plugin().SetParameter(1, 1.0f);
  open.plugin().SetParameter(2, 0.0f);
  PumpMessages();
  const Pixels shown = ReadWindowPixels(open.host);
  ASSERT_GT(shown.width, 0);
  // The background is the row bitmap's where the bar ends.
  const Pixels row = ReadBitmapPixels(SharedResources().SliderBitmap);
  ASSERT_NE(row.At(PanelWnd::kBarLeft + 100, 14),
            ReadBitmapPixels(SharedResources().BarBitmap).At(100, 2));
  EXPECT_EQ(BarWidth(shown, 0), 100);
  EXPECT_EQ(shown.At(PanelWnd::kBarLeft + 100, kPanelTop + 14),
            row.At(PanelWnd::kBarLeft + 100, 14));
  EXPECT_EQ(BarWidth(shown, 1), 200);
  EXPECT_EQ(BarWidth(shown, 2), 0);
  EXPECT_EQ(BarWidth(shown, 3), 80);  // 0.4, the probe's own
  // Text is drawn in the panel's colour within the name's rectangle.
  int ink = 0;
  for (LONG y = kPanelTop + 2; y < kPanelTop + 12; ++y)
    for (LONG x = 16; x < 100; ++x) ink += shown.At(x, y) == 0x333366 ? 1 : 0;
  EXPECT_GT(ink, 5);
}

TEST(ParameterPanel, DragMovesTheValueByHalfAPercentPerPixelAndClampsAtTheEnds) {
  OpenEditorHost open("probe_effect.dll");
  const HWND area = open.editor();
  PanelWnd& panel = *open.panel();
  Mouse(area, WM_LBUTTONDOWN, 50, 25);  // row 1, at 0.2
  EXPECT_EQ(panel.selected, 1);
  EXPECT_EQ(GetCapture(), area);
  Mouse(area, WM_MOUSEMOVE, 80, 31);  // vertical movement is ignored
  Mouse(area, WM_MOUSEMOVE, 100, 90);
  EXPECT_THAT(open.SetParameterValues(),
              ElementsAre(FloatNear(0.35f, 1e-6f), FloatNear(0.45f, 1e-6f)));
  EXPECT_NEAR(open.plugin().GetParameter(1), 0.45f, 1e-6f);
  EXPECT_EQ(panel.selected, 1);

  // A jump of 100 pixels changes nothing but is still sent.
  open.probe.hold.Reset();
  Mouse(area, WM_MOUSEMOVE, 200, 25);
  EXPECT_THAT(open.SetParameterValues(), ElementsAre(FloatNear(0.45f, 1e-6f)));

  // Past the end the value stays at 1 and is sent each time.
  open.probe.hold.Reset();
  for (LONG x = 290; x <= 560; x += 90) Mouse(area, WM_MOUSEMOVE, x, 25);
  EXPECT_THAT(open.SetParameterValues(),
              ElementsAre(FloatNear(0.9f, 1e-6f), FloatEq(1.0f), FloatEq(1.0f), FloatEq(1.0f)));
  Mouse(area, WM_LBUTTONUP, 560, 25);
  EXPECT_EQ(panel.selected, -1);
  EXPECT_EQ(GetCapture(), nullptr);

  // Released: moves change nothing. Below the last row a press selects nothing.
  open.probe.hold.Reset();
  Mouse(area, WM_MOUSEMOVE, 300, 25);
  Mouse(area, WM_LBUTTONDOWN, 50, 4 * PanelWnd::kRowHeight + 5);
  EXPECT_EQ(panel.selected, -1);
  Mouse(area, WM_MOUSEMOVE, 90, 85);
  Mouse(area, WM_LBUTTONUP, 90, 85);
  EXPECT_THAT(open.SetParameterValues(), IsEmpty());
  EXPECT_FLOAT_EQ(open.plugin().GetParameter(3), 0.4f);
}

TEST(ParameterPanel, ProgramChangeRefreshesEveryRow) {
  OpenEditorHost open("probe_effect.dll");
  PanelWnd& panel = *open.panel();
  EXPECT_STREQ(panel.names[0], "Gain");
  EXPECT_STREQ(panel.labels[1], "%");
  EXPECT_STREQ(panel.displays[2], "0.300");
  open.plugin().SetProgram(1);
  for (int32_t i = 0; i < 4; ++i)
    EXPECT_FLOAT_EQ(panel.values[i], probe::ProbeInitialParameter(1, i));
  EXPECT_STREQ(panel.displays[0], "0.110");
  EXPECT_STREQ(panel.displays[3], "Off");
  open.plugin().SetParameter(3, 0.75f);
  EXPECT_STREQ(panel.displays[3], "On");
}

TEST(ParameterPanel, NoParametersGiveAnEmptyPanelThatIgnoresPresses) {
  OpenEditorHost open("probe_negative_counts.dll");
  ASSERT_NE(open.panel(), nullptr);
  EXPECT_EQ(open.panel()->count, 0);
  Mouse(open.editor(), WM_LBUTTONDOWN, 50, 5);
  Mouse(open.editor(), WM_MOUSEMOVE, 80, 5);
  Mouse(open.editor(), WM_LBUTTONUP, 80, 5);
  EXPECT_EQ(open.panel()->selected, -1);
  EXPECT_THAT(open.SetParameterValues(), IsEmpty());
}

// The probe writes 100 characters where 32 bytes are meant: the rows get 31 and their ends.
TEST(ParameterPanel, OverlongTextsAreCutToTheRows) {
  OpenEditorHost open("probe_long_texts.dll");
  PanelWnd& panel = *open.panel();
  for (int32_t i = 0; i < panel.count; ++i) {
    EXPECT_EQ(std::strlen(panel.names[i]), 31u);
    EXPECT_EQ(std::strlen(panel.labels[i]), 31u);
    EXPECT_EQ(std::strlen(panel.displays[i]), 31u);
  }
  open.plugin().SetParameter(0, 0.5f);
  EXPECT_EQ(std::strlen(panel.displays[0]), 31u);
}

// A streaming thread automates every parameter while the window thread paints and drags.
TEST(PanelConcurrency, AutomationWhileThePanelPaints) {
  OpenEditorHost open("probe_effect.dll");
  VstPlugInstance& plugin = open.plugin();
  PanelWnd& panel = *open.panel();
  std::atomic<bool> done{false};
  std::thread streaming([&] {
    for (int round = 0; round < 3000; ++round)
      plugin.SetParameter(round % 4, static_cast<float>(round % 100) / 100.0f);
    for (int32_t i = 0; i < 4; ++i) plugin.SetParameter(i, 0.25f);
    done = true;
  });
  const HWND area = open.editor();
  while (!done) {
    InvalidateRect(area, nullptr, FALSE);
    UpdateWindow(area);
    PumpMessages();
  }
  streaming.join();
  PumpMessages();
  std::vector<float> shown(panel.values.get(), panel.values.get() + panel.count);
  EXPECT_THAT(shown, Each(FloatEq(0.25f)));
  EXPECT_STREQ(panel.displays[0], "0.250");
  EXPECT_EQ(BarWidth(ReadWindowPixels(open.host), 1), 50);
}

// The page opens and closes the editor while the streaming thread automates: the panel it shows
// to goes away only between two of its calls.
TEST(PanelConcurrency, AutomationWhileTheEditorOpensAndCloses) {
  OpenEditorHost open("probe_effect.dll");
  VstPlugInstance& plugin = open.plugin();
  std::atomic<bool> done{false};
  std::thread streaming([&] {
    for (int round = 0; round < 3000; ++round)
      plugin.SetParameter(round % 4, static_cast<float>(round % 100) / 100.0f);
    done = true;
  });
  int cycles = 0;
  while (!done || cycles < 10) {
    plugin.CloseEditor();
    plugin.OpenEditor(open.host);
    PumpMessages();
    ++cycles;
  }
  streaming.join();
  ASSERT_NE(open.panel(), nullptr);
  for (int32_t i = 0; i < 4; ++i) EXPECT_FLOAT_EQ(open.panel()->values[i], plugin.GetParameter(i));
}

}  // namespace
}  // namespace brvst::test
