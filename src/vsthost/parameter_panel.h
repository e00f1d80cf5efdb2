// PanelWnd: the generic parameter panel shown in the editor area for a plug-in without an editor
// of its own: one row per parameter with its name, a value bar, the display text and the unit
// label; a row is changed by pressing on it and dragging sideways.
#pragma once

#include "platform/platform.h"
#include "vst2/vst2.h"
#include "vsthost/vst_plug_instance.h"

#include <cstdint>
#include <memory>
#include <mutex>

namespace brvst {

class PanelWnd : public ParameterView {
 public:
  static constexpr int32_t kRowHeight = 20;
  static constexpr int32_t kRowWidth = 240;
  static constexpr int32_t kBarLeft = 20;
  static constexpr int32_t kBarTop = 12;  // below the row's top
  static constexpr int32_t kBarWidth = 200;
  static constexpr int32_t kBarHeight = 6;
  // Horizontal cursor movement between two mouse moves from which a move is taken for a jump
  // and changes nothing.
  static constexpr int32_t kLargestStep = 100;
  static constexpr float kValuePerPixel = 0.004999999888241291f;
  static constexpr COLORREF kTextColour = 0x00663333;

  using Text = char[vst2::kParamTextSize];

  // Takes over `window` (its procedure and user data) for as long as the panel lives.
  PanelWnd(HWND window, vst2::AEffect* effect, VstPlugInstance* owner);
  virtual ~PanelWnd();
  PanelWnd(const PanelWnd&) = delete;
  PanelWnd& operator=(const PanelWnd&) = delete;

  // Sets the parameter through the instance and reports it to the host as automation.
  virtual void ApplyValue(int32_t index, float value);
  // Shows `value` and the plug-in's display text for it; any thread.
  virtual void ShowValue(int32_t index, float value);
  virtual void Paint();
  virtual int32_t RowTop(int32_t row) const { return row * kRowHeight; }

  void ShowParameter(int32_t index, float value) override { ShowValue(index, value); }

  vst2::AEffect* const effect;
  VstPlugInstance* const owner;
  const HWND window;
  int32_t lastCursorX = 0;
  int32_t lastCursorY = 0;
  const int32_t count;
  int32_t selected = -1;
  // Rows. Names and labels are read once; values and display texts change from any thread
  // that sets parameters and are read by painting on the window thread, under rowsLock.
  std::unique_ptr<float[]> values;
  std::unique_ptr<Text[]> names;
  std::unique_ptr<Text[]> labels;
  std::unique_ptr<Text[]> displays;

 private:
  friend LRESULT CALLBACK PanelWindowProc(HWND, UINT, WPARAM, LPARAM);
  void Press(int32_t y);
  void Drag();
  void Release();
  void Invalidate() const;
  // The value the panel shows for a row (0 for rows it does not have).
  float ValueOf(int32_t row);

  std::mutex rowsLock;
};

LRESULT CALLBACK PanelWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace brvst
