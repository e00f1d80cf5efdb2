#include "editor_test_support.h"

#include "com/adapter_resources.h"
#include "propertypage/adapter_property_page.h"

namespace brvst::test {
namespace {

LRESULT CALLBACK HostProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcA(window, message, wParam, lParam);
}

const char* HostClass() {
  static const bool registered = [] {
    WNDCLASSA wc{};
    wc.lpfnWndProc = HostProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "BrvstTestPageHost";
    return RegisterClassA(&wc) != 0;
  }();
  return registered ? "BrvstTestPageHost" : nullptr;
}

}  // namespace

void PumpMessages() {
  MSG msg;
  for (int guard = 0; guard < 1000 && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE); ++guard) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

OpenEditorHost::OpenEditorHost(const std::string& probeFile) : probe(probeFile) {
  // After the filter: the last object to go releases the resources again.
  InitAdapterResources();
  host =
      CreateWindowExA(0, HostClass(), "host", WS_POPUP | WS_VISIBLE, 0, 0, probe.record.EditorWidth,
                      probe.record.EditorHeight + AdapterPropertyPage::kStripHeight, nullptr,
                      nullptr, GetModuleHandleA(nullptr), nullptr);
  plugin().OpenEditor(host);
  if (HWND area = editor())
    SetWindowPos(area, nullptr, 0, AdapterPropertyPage::kStripHeight, probe.record.EditorWidth,
                 probe.record.EditorHeight, SWP_NOZORDER);
  PumpMessages();
  probe.hold.Reset();
}

OpenEditorHost::~OpenEditorHost() {
  plugin().CloseEditor();
  DestroyWindow(host);
  PumpMessages();
}

std::vector<float> OpenEditorHost::SetParameterValues() const {
  std::vector<float> values;
  for (const auto& entry : probe.hold.Entries(probe::kProbeSetParameter))
    values.push_back(entry.parameter);
  return values;
}

}  // namespace brvst::test
