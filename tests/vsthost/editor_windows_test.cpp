// The editor windows: what OpenEditor and CloseEditor make and undo, and the frame's timer.
#include "editor_test_support.h"

#include "com/adapter_resources.h"
#include "vsthost/host_callback.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

namespace brvst::test {
namespace {

using ::testing::Contains;
using ::testing::Not;

bool Sent(const OpenEditorHost& host, int32_t opcode) {
  const auto opcodes = host.probe.hold.DispatchOpcodes();
  return std::find(opcodes.begin(), opcodes.end(), opcode) != opcodes.end();
}

TEST(EditorWindows, OpenCloseAndAgainMakeAndUndoTheirWindowsOnce) {
  OpenEditorHost open("probe_effect.dll");
  VstPlugInstance& plugin = open.plugin();
  const HWND area = open.editor();
  ASSERT_NE(area, nullptr);
  ParameterView* const panel = plugin.panel;
  ASSERT_NE(panel, nullptr);
  char title[64] = {};
  GetWindowTextA(area, title, sizeof title);
  EXPECT_STREQ(title, plugin.name);
  EXPECT_EQ(GetParent(area), open.host);

  plugin.OpenEditor(open.host);  // already open: nothing new
  EXPECT_EQ(open.editor(), area);
  EXPECT_EQ(plugin.panel, panel);
  EXPECT_EQ(GetWindow(area, GW_HWNDNEXT), nullptr);  // no second editor area beside it

  // The user cannot close the editor area; only CloseEditor does.
  SendMessageA(area, WM_CLOSE, 0, 0);
  EXPECT_TRUE(IsWindow(area));

  plugin.CloseEditor();
  EXPECT_FALSE(IsWindow(area));
  EXPECT_EQ(plugin.panel, nullptr);
  EXPECT_EQ(plugin.EditorWindowHandle(), nullptr);
  EXPECT_FALSE(plugin.editorOpen);
  plugin.CloseEditor();  // closing again is harmless
  plugin.OpenEditor(open.host);
  EXPECT_NE(open.editor(), nullptr);
  EXPECT_NE(plugin.panel, nullptr);
}

// On Windows the plug-in's own editor opens in the frame, which keeps the record's size whatever
// the plug-in reports; where the platform cannot show plug-in editors the panel stands in and
// the plug-in never hears of an editor.
TEST(EditorWindows, PluginWithAnEditorGetsTheFrameOrThePanelAsThePlatformAllows) {
  OpenEditorHost open("probe_editor.dll");
  VstPlugInstance& plugin = open.plugin();
  ASSERT_NE(open.editor(), nullptr);
  if (!platform::kPluginEditorsShown) {
    EXPECT_NE(plugin.panel, nullptr);
    EXPECT_EQ(plugin.wrapperWindow, nullptr);
    plugin.Idle();
    plugin.CloseEditor();
    EXPECT_THAT(open.probe.hold.DispatchOpcodes(), Not(Contains(vst2::effEditIdle)));
    EXPECT_FALSE(Sent(open, vst2::effEditClose));
    return;
  }
  EXPECT_EQ(plugin.panel, nullptr);
  ASSERT_NE(plugin.wrapperWindow, nullptr);
  RECT frame{};
  GetClientRect(plugin.wrapperWindow, &frame);
  EXPECT_EQ(frame.right, open.probe.record.EditorWidth);
  EXPECT_EQ(frame.bottom, open.probe.record.EditorHeight);
  // The 40 ms timer idles the editor.
  for (int i = 0; i < 20 && !Sent(open, vst2::effEditIdle); ++i) {
    Sleep(20);
    PumpMessages();
  }
  EXPECT_TRUE(Sent(open, vst2::effEditIdle));
  EXPECT_TRUE(Sent(open, vst2::effIdle));
  const HWND wrapper = plugin.wrapperWindow;
  plugin.CloseEditor();
  EXPECT_TRUE(Sent(open, vst2::effEditClose));
  EXPECT_FALSE(IsWindow(wrapper));
}

// The frame's procedure, on a frame made by hand, so that it runs on every platform.
TEST(EditorWindows, FrameTicksCountDownOnlyOutsideAnIdlePassAndResizesPostOneMessage) {
  OpenEditorHost open("probe_effect.dll");
  VstPlugInstance& plugin = open.plugin();
  HWND frame =
      CreateWindowExA(WS_EX_CONTROLPARENT, kWrapperWndClass, nullptr, WS_CHILD | WS_VISIBLE, 0, 0,
                      5, 5, open.editor(), nullptr, ModuleInstance(), nullptr);
  ASSERT_NE(frame, nullptr);
  SetWindowLongPtrA(frame, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&plugin));
  EXPECT_EQ(SendMessageA(frame, WM_GETDLGCODE, 0, 0), 0);

  plugin.redrawCountdown = 2;
  IdleGuard = true;  // an idle pass is running: the tick is skipped, countdown and all
  SendMessageA(frame, WM_TIMER, 1, 0);
  EXPECT_EQ(plugin.redrawCountdown, 2);
  EXPECT_TRUE(IdleGuard);
  IdleGuard = false;
  SendMessageA(frame, WM_TIMER, 1, 0);
  EXPECT_EQ(plugin.redrawCountdown, 1);
  EXPECT_FALSE(IdleGuard);
  SendMessageA(frame, WM_TIMER, 1, 0);  // hidden and shown again
  EXPECT_EQ(plugin.redrawCountdown, 0);
  EXPECT_TRUE(IsWindowVisible(frame));
  SendMessageA(frame, WM_TIMER, 1, 0);
  EXPECT_EQ(plugin.redrawCountdown, 0);

  PumpMessages();
  SetWindowPos(frame, nullptr, 0, 0, 100, 50, SWP_NOZORDER);
  MSG msg;
  EXPECT_TRUE(PeekMessageA(&msg, frame, WM_USER + 3, WM_USER + 3, PM_REMOVE));
  EXPECT_FALSE(PeekMessageA(&msg, frame, WM_USER + 3, WM_USER + 3, PM_REMOVE));
  DestroyWindow(frame);
}

}  // namespace
}  // namespace brvst::test
