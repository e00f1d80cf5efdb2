// The windows that carry a plug-in's editor: the editor area ("PlugWndClass") and, for plug-ins
// with an editor of their own, the frame handed to the plug-in ("WrapperWndClass").
#pragma once

#include "platform/platform.h"

namespace brvst {

class VstPlugInstance;

// The editor area: a PlugWndClass child of the page's parent window, destroyed with this object.
class PlugWnd {
 public:
  PlugWnd(HINSTANCE instance, HWND parent, VstPlugInstance* owner);
  virtual ~PlugWnd();
  PlugWnd(const PlugWnd&) = delete;
  PlugWnd& operator=(const PlugWnd&) = delete;

  HWND window = nullptr;
  HINSTANCE instance;
  HWND parent;
  VstPlugInstance* owner;
};

LRESULT CALLBACK PlugWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CALLBACK WrapperWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace brvst
