#include "tools/render/panel_picture.h"

#include "com/adapter_resources.h"
#include "com/exports.h"
#include "host/window_pixels.h"
#include "propertypage/adapter_property_page.h"

#include <memory>

namespace brvst::render {
namespace {

constexpr char kHostClass[] = "BrvstRenderPageHost";
// The face of a property sheet around the page.
constexpr COLORREF kSheetColour = RGB(212, 208, 200);

LRESULT CALLBACK HostProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcA(window, message, wParam, lParam);
}

struct PageRelease {
  void operator()(AdapterPropertyPage* page) const { page->Release(); }
};

struct WindowDestroy {
  void operator()(HWND__* window) const { DestroyWindow(window); }
};

void Pump() {
  MSG msg;
  for (int guard = 0; guard < 10000 && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE); ++guard) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

}  // namespace

bool WritePanelPicture(AdapterFilter& filter, const std::string& path, std::string& error) {
  const PluginRecord& record = *filter.Record;
  HRESULT hr = S_OK;
  std::unique_ptr<AdapterPropertyPage, PageRelease> page(new AdapterPropertyPage(
      record.Name, nullptr, &hr, &record.PageClsid, record.EditorWidth, record.EditorHeight));
  page->AddRef();
  // The page's windows need the shared classes, bitmaps and font, as the page factory makes
  // them; the last object to go releases them again.
  InitAdapterResources();
  IUnknown* object = filter.GetOwner();
  if (FAILED(hr = page->SetObjects(1, &object))) {
    error = "the page did not attach to the filter (" + std::to_string(hr) + ")";
    return false;
  }
  PROPPAGEINFO info{};
  info.cb = sizeof info;
  if (FAILED(page->GetPageInfo(&info))) {
    error = "the page gave no size";
    return false;
  }
  CoTaskMemFree(info.pszTitle);
  CoTaskMemFree(info.pszDocString);
  CoTaskMemFree(info.pszHelpFile);

  WNDCLASSA wc{};
  wc.lpfnWndProc = HostProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = kHostClass;
  RegisterClassA(&wc);
  std::unique_ptr<HWND__, WindowDestroy> host(
      CreateWindowExA(0, kHostClass, record.Name, WS_POPUP | WS_VISIBLE, 0, 0, info.size.cx,
                      info.size.cy, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr));
  if (!host) {
    error = "no window for the page";
    return false;
  }
  if (HDC dc = GetDC(host.get())) {
    const RECT all{0, 0, info.size.cx, info.size.cy};
    HBRUSH sheet = CreateSolidBrush(kSheetColour);
    FillRect(dc, &all, sheet);
    DeleteObject(sheet);
    ReleaseDC(host.get(), dc);
  }
  const RECT place{0, 0, info.size.cx, info.size.cy};
  page->Activate(host.get(), &place, FALSE);
  Pump();
  UpdateWindow(host.get());
  const host::Pixels shown = host::ReadWindowPixels(host.get());
  page->Deactivate();
  page->SetObjects(0, &object);
  if (shown.data.empty()) {
    error = "the page's window could not be read";
    return false;
  }
  return WritePng(path, shown.data.data(), shown.width, shown.height, error);
}

}  // namespace brvst::render
