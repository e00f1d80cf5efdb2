// AdapterPropertyPage: the property page of one wrapped plug-in. It attaches itself to its
// filter through IFilterPageLink, opens the plug-in's editor (or the generic parameter panel)
// in the host's page window, with the strip window (class "PanelWndClass") above it, and
// carries the preset, bank and program-name commands and the help.
#pragma once

#include "dshow/unknown.h"
#include "filter/adapter_filter.h"
#include "platform/directshow.h"

#include <cstdint>

namespace brvst {

struct IFilterPageLink;

class AdapterPropertyPage : public CUnknown, public IPropertyPage, public AttachedPageView {
 public:
  // The strip's height: the editor sits this far below the top of the page.
  static constexpr int32_t kStripHeight = 19;

  // `result` is never written: construction cannot fail.
  AdapterPropertyPage(const char* name, IUnknown* outer, HRESULT* result, const CLSID* pageClsid,
                      int32_t width, int32_t height);
  ~AdapterPropertyPage() override;

  DECLARE_IUNKNOWN
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  virtual void ClearDirty();
  // The commands (preset_commands.cpp). They run on the window thread and do nothing while no
  // filter is attached.
  virtual void OnProgramName(HWND owner);
  virtual void OnLoadPreset();
  virtual void OnSavePreset();
  virtual void OnLoadBank();
  virtual void OnSaveBank();

  // IPropertyPage
  STDMETHODIMP SetPageSite(IPropertyPageSite* site) override;
  STDMETHODIMP Activate(HWND parent, LPCRECT rect, BOOL modal) override;
  STDMETHODIMP Deactivate() override;
  STDMETHODIMP GetPageInfo(PROPPAGEINFO* info) override;
  STDMETHODIMP SetObjects(ULONG count, IUnknown** objects) override;
  STDMETHODIMP Show(UINT command) override;
  STDMETHODIMP Move(LPCRECT rect) override;
  STDMETHODIMP IsPageDirty() override;
  STDMETHODIMP Apply() override;
  STDMETHODIMP Help(LPCOLESTR helpFolder) override;
  STDMETHODIMP TranslateAccelerator(MSG* message) override;

  // AttachedPageView: the window the filter invalidates after a program change.
  HWND PageWindow() const override { return PanelWindow; }

  HWND PanelWindow = nullptr;
  const char* const Name;
  const CLSID* const PageClsid;
  AdapterFilter* Filter = nullptr;
  IFilterPageLink* FilterLink = nullptr;
  IPropertyPageSite* PageSite = nullptr;
  bool Dirty = true;
  const int32_t Width;
  const int32_t Height;

 private:
  void Detach();
};

// Shared by every page: the program name while the rename dialog shows it.
inline constexpr size_t kProgramNameBufferSize = 80;
extern char ProgramNameBuffer[kProgramNameBufferSize];

}  // namespace brvst
