#include "propertypage/adapter_property_page.h"

#include "com/adapter_resources.h"
#include "com/plugin_list.h"
#include "filter/private_interfaces.h"
#include "propertypage/help.h"
#include "vsthost/vst_plug_instance.h"

#include <cstring>

namespace brvst {

char ProgramNameBuffer[kProgramNameBufferSize];

AdapterPropertyPage::AdapterPropertyPage(const char* name, IUnknown* outer, HRESULT*,
                                         const CLSID* pageClsid, int32_t width, int32_t height)
    : CUnknown(name, outer), Name(name), PageClsid(pageClsid), Width(width), Height(height) {
  AddLiveObject();
  std::memset(ProgramNameBuffer, 0, sizeof ProgramNameBuffer);
}

AdapterPropertyPage::~AdapterPropertyPage() {
  Detach();
  if (PageSite != nullptr) PageSite->Release();
  PageSite = nullptr;
  RemoveLiveObject();
}

STDMETHODIMP AdapterPropertyPage::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  CheckPointer(ppv, E_POINTER);
  if (riid == IID_IPropertyPage) return GetInterface(static_cast<IPropertyPage*>(this), ppv);
  return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

void AdapterPropertyPage::ClearDirty() {
  Dirty = false;
}

void AdapterPropertyPage::Detach() {
  if (FilterLink == nullptr) return;
  FilterLink->AttachPage(nullptr, reinterpret_cast<void**>(&Filter));
  FilterLink->Release();
  FilterLink = nullptr;
  Filter = nullptr;
}

STDMETHODIMP AdapterPropertyPage::SetPageSite(IPropertyPageSite* site) {
  if (PageSite != nullptr) PageSite->Release();
  PageSite = site;
  if (PageSite != nullptr) PageSite->AddRef();
  return S_OK;
}

STDMETHODIMP AdapterPropertyPage::Activate(HWND parent, LPCRECT rect, BOOL) {
  CheckPointer(rect, E_POINTER);
  if (Filter != nullptr && Filter->Plugin) {
    VstPlugInstance& plugin = *Filter->Plugin;
    plugin.OpenEditor(parent);
    if (HWND editor = plugin.EditorWindowHandle())
      SetWindowPos(editor, nullptr, rect->left, rect->top + kStripHeight, Width, Height,
                   SWP_NOZORDER);
  }
  PanelWindow = CreateWindowExA(0, kPanelWndClass, "panel", WS_CHILD | WS_VISIBLE | WS_GROUP,
                                rect->left, rect->top, Width, kStripHeight, parent, nullptr,
                                ModuleInstance(), nullptr);
  if (PanelWindow != nullptr)
    SetWindowLongPtrA(PanelWindow, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  return S_OK;
}

STDMETHODIMP AdapterPropertyPage::Deactivate() {
  if (Filter != nullptr && Filter->Plugin) Filter->Plugin->CloseEditor();
  // The handle stays: a stale handle names no window and is harmless to destroy again.
  if (PanelWindow != nullptr) DestroyWindow(PanelWindow);
  return S_OK;
}

STDMETHODIMP AdapterPropertyPage::GetPageInfo(PROPPAGEINFO* info) {
  CheckPointer(info, E_POINTER);
  auto* title = static_cast<LPOLESTR>(CoTaskMemAlloc(512));
  auto* doc = static_cast<LPOLESTR>(CoTaskMemAlloc(8));
  auto* helpFile = static_cast<LPOLESTR>(CoTaskMemAlloc(8));
  if (title == nullptr || doc == nullptr || helpFile == nullptr) {
    CoTaskMemFree(title);
    CoTaskMemFree(doc);
    CoTaskMemFree(helpFile);
    return E_OUTOFMEMORY;
  }
  std::memset(doc, 0, 8);
  std::memset(helpFile, 0, 8);
  if (MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, Name, -1, title, 256) == 0) title[0] = 0;
  info->pszTitle = title;
  info->size.cx = Width;
  info->size.cy = Height + kStripHeight;
  info->pszDocString = doc;
  info->pszHelpFile = helpFile;
  info->dwHelpContext = 0;
  return S_OK;
}

STDMETHODIMP AdapterPropertyPage::SetObjects(ULONG count, IUnknown** objects) {
  if (objects == nullptr || objects[0] == nullptr) return E_POINTER;
  if (count == 0) {
    Detach();
    return S_OK;
  }
  IFilterPageLink* link = nullptr;
  if (FAILED(objects[0]->QueryInterface(IID_IFilterPageLink, reinterpret_cast<void**>(&link))) ||
      link == nullptr)
    return E_NOINTERFACE;
  Detach();
  FilterLink = link;
  FilterLink->AttachPage(this, reinterpret_cast<void**>(&Filter));
  return S_OK;
}

STDMETHODIMP AdapterPropertyPage::Show(UINT) {
  return S_OK;
}

STDMETHODIMP AdapterPropertyPage::Move(LPCRECT rect) {
  CheckPointer(rect, E_POINTER);
  const UINT keep = SWP_NOSIZE | SWP_NOZORDER;
  if (PanelWindow != nullptr) SetWindowPos(PanelWindow, nullptr, rect->left, rect->top, 0, 0, keep);
  if (Filter != nullptr && Filter->Plugin)
    if (HWND editor = Filter->Plugin->EditorWindowHandle())
      SetWindowPos(editor, nullptr, rect->left, rect->top + kStripHeight, 0, 0, keep);
  return S_OK;
}

STDMETHODIMP AdapterPropertyPage::IsPageDirty() {
  return Dirty ? S_OK : S_FALSE;
}

STDMETHODIMP AdapterPropertyPage::Apply() {
  Dirty = false;
  return S_OK;
}

STDMETHODIMP AdapterPropertyPage::Help(LPCOLESTR) {
  ShowAdapterHelp();
  return S_OK;
}

STDMETHODIMP AdapterPropertyPage::TranslateAccelerator(MSG*) {
  return E_NOTIMPL;
}

}  // namespace brvst
