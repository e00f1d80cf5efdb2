// The property page as a Windows host shows it, in a real window: the adapter registered with
// regsvr32, its filter made by the system's COM, its pages asked through ISpecifyPropertyPages
// and shown by the system's OleCreatePropertyFrame. The frame is modal, so a watcher thread
// finds it, writes where the page's windows are on the screen to FOLDER/windows.txt, signals
// FOLDER/shown, waits for FOLDER/close (the driver takes its screenshot meanwhile) and closes
// the frame. page_window_test.sh drives it under Xvfb; check_page_screenshot.py reads the
// screenshot against windows.txt.
//
// Usage: page_window_probe FOLDER. Exit status 0 when the frame was shown and closed.
#include "com/adapter_resources.h"
#include "com/plugin_list.h"
#include "platform/directshow.h"
#include "synth/media_params.h"
#include "vsthost/parameter_panel.h"

#include "tests/com/system_regsvr32.h"

#include <olectl.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using brvst::PanelWnd;
using brvst::test::AdapterPath;
using brvst::test::RunRegsvr32;

constexpr DWORD kPoll = 50;
constexpr DWORD kFindTimeout = 30000;
constexpr DWORD kCloseTimeout = 120000;
// The frame's windows are X windows whose surfaces Wine flushes asynchronously: the screenshot
// waits this long after the last paint.
constexpr DWORD kSettle = 1000;

std::string folder;
std::atomic<bool> shown{false};

bool Exists(const std::string& file) {
  return GetFileAttributesA((folder + "/" + file).c_str()) != INVALID_FILE_ATTRIBUTES;
}

struct ClassSearch {
  const char* name;
  HWND found;
};

// Enumeration callbacks are stdcall, which a lambda is not on i686.
BOOL CALLBACK MatchClass(HWND window, LPARAM data) {
  auto* search = reinterpret_cast<ClassSearch*>(data);
  char name[64] = {};
  GetClassNameA(window, name, sizeof name);
  if (lstrcmpiA(name, search->name) != 0) return TRUE;
  search->found = window;
  return FALSE;
}

// The first window under `parent`, at any depth, of window class `name`.
HWND FindDescendant(HWND parent, const char* name) {
  ClassSearch search{name, nullptr};
  EnumChildWindows(parent, MatchClass, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

BOOL CALLBACK MatchFrame(HWND window, LPARAM data) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (process != GetCurrentProcessId() || !IsWindowVisible(window)) return TRUE;
  if (FindDescendant(window, brvst::kPanelWndClass) == nullptr) return TRUE;
  *reinterpret_cast<HWND*>(data) = window;
  return FALSE;
}

// This process's visible top-level window that holds the page's strip.
HWND FindFrame() {
  HWND found = nullptr;
  EnumWindows(MatchFrame, reinterpret_cast<LPARAM>(&found));
  return found;
}

void WriteRect(std::ofstream& out, const char* what, const RECT& r) {
  out << what << ' ' << r.left << ' ' << r.top << ' ' << r.right << ' ' << r.bottom << '\n';
}

// Screen coordinates of a window's client area.
RECT ClientOnScreen(HWND window) {
  RECT client{};
  GetClientRect(window, &client);
  POINT origin{0, 0};
  ClientToScreen(window, &origin);
  return {origin.x, origin.y, origin.x + client.right, origin.y + client.bottom};
}

void Watch(std::vector<float> values) {
  HWND frame = nullptr;
  for (DWORD waited = 0; frame == nullptr && waited < kFindTimeout; waited += kPoll) {
    Sleep(kPoll);
    frame = FindFrame();
  }
  if (frame == nullptr) {
    std::fprintf(stderr, "page_window_probe: no frame with the page appeared\n");
    return;
  }
  HWND strip = FindDescendant(frame, brvst::kPanelWndClass);
  HWND panel = FindDescendant(frame, brvst::kPlugWndClass);
  if (panel == nullptr) {
    std::fprintf(stderr, "page_window_probe: the page shows no parameter panel\n");
    PostMessageA(frame, WM_CLOSE, 0, 0);
    return;
  }
  // Painted now, on the frame's thread, then left for the display to catch up.
  RedrawWindow(frame, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
  Sleep(kSettle);
  {
    std::ofstream out(folder + "/windows.txt");
    RECT frameRect{};
    GetWindowRect(frame, &frameRect);
    WriteRect(out, "frame", frameRect);
    WriteRect(out, "strip", ClientOnScreen(strip));
    WriteRect(out, "panel", ClientOnScreen(panel));
    out << "row " << PanelWnd::kRowHeight << ' ' << PanelWnd::kBarLeft << ' ' << PanelWnd::kBarTop
        << ' ' << PanelWnd::kBarWidth << ' ' << PanelWnd::kBarHeight << '\n';
    // Each row's bar is as long as the panel draws it.
    for (float value : values)
      out << "bar " << static_cast<int>(value * static_cast<float>(PanelWnd::kBarWidth)) << '\n';
  }
  std::ofstream(folder + "/shown").put('\n');
  shown = true;
  for (DWORD waited = 0; !Exists("close") && waited < kCloseTimeout; waited += kPoll) Sleep(kPoll);
  PostMessageA(frame, WM_CLOSE, 0, 0);
}

int Run() {
  const std::string adapter = AdapterPath();
  if (adapter.empty() || RunRegsvr32("/s \"" + adapter + "\"") != 0) {
    std::fprintf(stderr, "page_window_probe: regsvr32 did not register %s\n", adapter.c_str());
    return 1;
  }
  IBaseFilter* filter = nullptr;
  HRESULT hr = CoCreateInstance(brvst::kDefaultFilterClsid, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IBaseFilter, reinterpret_cast<void**>(&filter));
  if (FAILED(hr)) {
    std::fprintf(stderr, "page_window_probe: CoCreateInstance: 0x%08lx\n", hr);
    return 1;
  }
  // Every row at a value of its own, so that each bar shows where its row is.
  std::vector<float> values;
  brvst::IMediaParams* params = nullptr;
  DWORD count = 0;
  brvst::IMediaParamInfo* info = nullptr;
  if (SUCCEEDED(
          filter->QueryInterface(brvst::IID_IMediaParamInfo, reinterpret_cast<void**>(&info)))) {
    info->GetParamCount(&count);
    info->Release();
  }
  if (SUCCEEDED(
          filter->QueryInterface(brvst::IID_IMediaParams, reinterpret_cast<void**>(&params)))) {
    for (DWORD i = 0; i < count; ++i) {
      const float value = 0.1f + 0.15f * static_cast<float>(i);
      params->SetParam(i, value);
      brvst::MP_DATA shownValue = 0;
      params->GetParam(i, &shownValue);
      values.push_back(shownValue);
    }
    params->Release();
  }
  ISpecifyPropertyPages* specify = nullptr;
  CAUUID pages{};
  hr = filter->QueryInterface(IID_ISpecifyPropertyPages, reinterpret_cast<void**>(&specify));
  if (SUCCEEDED(hr)) {
    hr = specify->GetPages(&pages);
    specify->Release();
  }
  if (FAILED(hr) || pages.cElems == 0 || values.empty()) {
    std::fprintf(stderr, "page_window_probe: no pages or parameters (0x%08lx)\n", hr);
    filter->Release();
    return 1;
  }
  std::thread watcher(Watch, values);
  IUnknown* objects[] = {filter};
  hr = OleCreatePropertyFrame(nullptr, 20, 20, L"VID 84", 1, objects, pages.cElems, pages.pElems, 0,
                              0, nullptr);
  watcher.join();
  CoTaskMemFree(pages.pElems);
  filter->Release();
  RunRegsvr32("/s /u \"" + adapter + "\"");
  if (FAILED(hr)) {
    std::fprintf(stderr, "page_window_probe: OleCreatePropertyFrame: 0x%08lx\n", hr);
    return 1;
  }
  return shown ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: page_window_probe FOLDER\n");
    return 2;
  }
  folder = argv[1];
  if (FAILED(CoInitialize(nullptr))) return 1;
  const int status = Run();
  CoUninitialize();
  return status;
}
