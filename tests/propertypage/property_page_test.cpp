// The property page: what it tells the host, how it attaches to filters, where it puts its
// windows.
#include "propertypage/adapter_property_page.h"

#include "com/adapter_resources.h"
#include "com/exports.h"
#include "com_conformance.h"
#include "tests/vsthost/probe_harness.h"

#include <gtest/gtest.h>

#include <string>

namespace brvst::test {
namespace {

struct PageRelease {
  void operator()(AdapterPropertyPage* page) const { page->Release(); }
};
using PagePtr = std::unique_ptr<AdapterPropertyPage, PageRelease>;

PagePtr MakePage(PluginRecord& record) {
  HRESULT hr = S_OK;
  auto* page = new AdapterPropertyPage(record.Name, nullptr, &hr, &record.PageClsid,
                                       record.EditorWidth, record.EditorHeight);
  page->AddRef();
  return PagePtr(page);
}

std::string Narrow(const WCHAR* text) {
  std::string narrow;
  for (; *text != 0; ++text) narrow += static_cast<char>(*text);
  return narrow;
}

RECT WindowRectInParent(HWND window) {
  RECT r{};
  GetWindowRect(window, &r);
  MapWindowPoints(nullptr, GetParent(window), reinterpret_cast<POINT*>(&r), 2);
  return r;
}

TEST(PropertyPage, TellsTheHostItsTitleSizeAndDirtiness) {
  PluginRecord record = RecordFor(BinPath("probe_effect.dll"), "ZAD VID 84");
  PagePtr page = MakePage(record);
  EXPECT_TRUE(HasInterfaces(page->GetOwner(), {IID_IPropertyPage, IID_IUnknown},
                            {IID_IBaseFilter, IID_ISpecifyPropertyPages}));

  PROPPAGEINFO info{};
  info.cb = sizeof info;
  ASSERT_EQ(page->GetPageInfo(&info), S_OK);
  EXPECT_EQ(Narrow(info.pszTitle), "ZAD VID 84");
  EXPECT_EQ(info.size.cx, 875);
  EXPECT_EQ(info.size.cy, 171 + 19);
  EXPECT_EQ(info.pszDocString[0], 0);
  EXPECT_EQ(info.pszHelpFile[0], 0);
  EXPECT_EQ(info.cb, sizeof info);
  CoTaskMemFree(info.pszTitle);
  CoTaskMemFree(info.pszDocString);
  CoTaskMemFree(info.pszHelpFile);

  EXPECT_EQ(page->IsPageDirty(), S_OK);
  EXPECT_EQ(page->Apply(), S_OK);
  EXPECT_EQ(page->IsPageDirty(), S_FALSE);
  EXPECT_EQ(page->TranslateAccelerator(nullptr), E_NOTIMPL);
  EXPECT_EQ(page->Show(SW_SHOW), S_OK);
}

TEST(PropertyPage, AttachesToOneFilterAtATimeAndDetachesWhenReleased) {
  ProbeFilter first("probe_effect.dll");
  ProbeFilter second("probe_effect.dll");
  PagePtr page = MakePage(first.record);
  IUnknown* firstObject = first.filter->GetOwner();
  ASSERT_EQ(page->SetObjects(1, &firstObject), S_OK);
  EXPECT_EQ(page->Filter, first.filter.get());
  EXPECT_EQ(first.filter->AttachedPage, page.get());

  // Not a filter, or no array at all: the attachment stays.
  HRESULT hr = S_OK;
  AdapterPropertyPage other(first.record.Name, nullptr, &hr, &first.record.PageClsid, 10, 10);
  IUnknown* notAFilter = other.GetNonDelegatingUnknown();
  EXPECT_EQ(page->SetObjects(1, &notAFilter), E_NOINTERFACE);
  EXPECT_EQ(page->SetObjects(0, nullptr), E_POINTER);
  EXPECT_EQ(first.filter->AttachedPage, page.get());

  IUnknown* secondObject = second.filter->GetOwner();
  ASSERT_EQ(page->SetObjects(1, &secondObject), S_OK);
  EXPECT_EQ(first.filter->AttachedPage, nullptr);
  EXPECT_EQ(second.filter->AttachedPage, page.get());
  EXPECT_EQ(page->Filter, second.filter.get());

  // The page holds its filter while attached, and lets it go when it is released.
  const ULONG held = RefCount(secondObject);
  page.reset();
  EXPECT_EQ(second.filter->AttachedPage, nullptr);
  EXPECT_EQ(RefCount(secondObject), held - 1);
}

TEST(PropertyPage, ActivationPutsTheStripAboveTheEditorAndMovesBothTogether) {
  ProbeFilter probe("probe_effect.dll");
  InitAdapterResources();  // for the module the probe's record set
  PagePtr page = MakePage(probe.record);
  IUnknown* object = probe.filter->GetOwner();
  ASSERT_EQ(page->SetObjects(1, &object), S_OK);

  HWND host = CreateWindowExA(0, "Static", "host", WS_POPUP, 0, 0, 1000, 400, nullptr, nullptr,
                              nullptr, nullptr);
  ASSERT_NE(host, nullptr);
  const RECT rect{10, 20, 10 + 875, 20 + 190};
  ASSERT_EQ(page->Activate(host, &rect, FALSE), S_OK);
  ASSERT_TRUE(IsWindow(page->PanelWindow));
  EXPECT_EQ(GetWindowLongPtrA(page->PanelWindow, GWLP_USERDATA),
            reinterpret_cast<LONG_PTR>(page.get()));
  RECT strip = WindowRectInParent(page->PanelWindow);
  EXPECT_EQ(strip.left, 10);
  EXPECT_EQ(strip.top, 20);
  EXPECT_EQ(strip.right - strip.left, 875);
  EXPECT_EQ(strip.bottom - strip.top, 19);
  HWND editor = probe.plugin().EditorWindowHandle();
  ASSERT_NE(editor, nullptr);
  EXPECT_EQ(GetParent(editor), host);
  RECT area = WindowRectInParent(editor);
  EXPECT_EQ(area.left, 10);
  EXPECT_EQ(area.top, 39);
  EXPECT_EQ(area.right - area.left, 875);
  EXPECT_EQ(area.bottom - area.top, 171);

  const RECT moved{50, 60, 0, 0};
  ASSERT_EQ(page->Move(&moved), S_OK);
  strip = WindowRectInParent(page->PanelWindow);
  area = WindowRectInParent(editor);
  EXPECT_EQ(strip.left, 50);
  EXPECT_EQ(strip.top, 60);
  EXPECT_EQ(strip.right - strip.left, 875);
  EXPECT_EQ(area.left, 50);
  EXPECT_EQ(area.top, 79);
  EXPECT_EQ(area.bottom - area.top, 171);

  const HWND stripWindow = page->PanelWindow;
  ASSERT_EQ(page->Deactivate(), S_OK);
  EXPECT_FALSE(IsWindow(stripWindow));
  EXPECT_FALSE(IsWindow(editor));
  EXPECT_EQ(probe.plugin().EditorWindowHandle(), nullptr);
  DestroyWindow(host);
}

}  // namespace
}  // namespace brvst::test
