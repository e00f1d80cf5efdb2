// The filter's private interfaces: the link to its own property page, and the small interfaces
// of the host's soft-synth protocol that the filter answers.
#pragma once

#include "platform/platform.h"

namespace brvst {

class AttachedPageView;

// {4C895721-E623-11D4-A3EA-0050DA3ECEDF}
inline constexpr IID IID_IFilterPageLink = {
    0x4C895721, 0xE623, 0x11D4, {0xA3, 0xEA, 0x00, 0x50, 0xDA, 0x3E, 0xCE, 0xDF}};
// {F5011136-C416-48B9-8C35-E7C5F9AA6FDF}
inline constexpr IID IID_IHostObjectSink = {
    0xF5011136, 0xC416, 0x48B9, {0x8C, 0x35, 0xE7, 0xC5, 0xF9, 0xAA, 0x6F, 0xDF}};
// {970FED79-6DEB-4EC4-A6EE-F72C6BA545CC}
inline constexpr IID IID_INotifySink = {
    0x970FED79, 0x6DEB, 0x4EC4, {0xA6, 0xEE, 0xF7, 0x2C, 0x6B, 0xA5, 0x45, 0xCC}};

// Links the adapter's own property page and its filter by raw pointers (no references): the
// page attaches itself while it shows the filter and detaches with a null page.
struct IFilterPageLink : public IUnknown {
  // Stores `page` (null detaches) and, when `filter` is not null, writes the filter object's
  // address there.
  virtual HRESULT STDMETHODCALLTYPE AttachPage(AttachedPageView* page, void** filter) = 0;
};

// Receives the host's parameter-edit object.
struct IHostObjectSink : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE SetHostObject(IUnknown* object) = 0;
};

// Notifications of the host that the filter takes and ignores.
struct INotifySink : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Notify1(DWORD a, DWORD b, DWORD c, DWORD d) = 0;
  virtual HRESULT STDMETHODCALLTYPE Notify2(DWORD a, DWORD b, DWORD c, DWORD d) = 0;
};

}  // namespace brvst
