// The class objects of the plug-in list: one factory per record and class, handed out by
// DllGetClassObject.
#pragma once

#include "com/plugin_list.h"
#include "dshow/unknown.h"

#include <cstdint>

namespace brvst {

// What both factories share: IClassFactory on a CUnknown that counts itself a live object of
// the server, and COM's aggregation rule for the products.
class AdapterClassFactory : public CUnknown, public IClassFactory {
 public:
  AdapterClassFactory(const char* name);
  ~AdapterClassFactory() override;

  DECLARE_IUNKNOWN
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  // An aggregating caller may ask for IID_IUnknown only, and gets the product's own unknown;
  // any other interface is CLASS_E_NOAGGREGATION, with no product made.
  STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override;
  STDMETHODIMP LockServer(BOOL lock) override;

  // The plug-in name each product is given as its object name.
  const char* const Name;

 protected:
  // Allocates and constructs one product: null when the memory could not be had; a failure the
  // constructor reports is left in `result`.
  virtual CUnknown* MakeProduct(IUnknown* outer, HRESULT* result) = 0;
};

class FilterClassFactory final : public AdapterClassFactory {
 public:
  explicit FilterClassFactory(PluginRecord& record);

  const GUID* const FilterClsid;
  const GUID* const PageClsid;
  const char* const DllPath;
  PluginRecord* const Record;

 protected:
  CUnknown* MakeProduct(IUnknown* outer, HRESULT* result) override;
};

class PageClassFactory final : public AdapterClassFactory {
 public:
  explicit PageClassFactory(const PluginRecord& record);

  const GUID* const PageClsid;
  const int32_t EditorWidth;
  const int32_t EditorHeight;

 protected:
  CUnknown* MakeProduct(IUnknown* outer, HRESULT* result) override;
};

// Hands a newly constructed object (holding no reference yet) to its creator: for an
// aggregating creator the object's own unknown, else the interface `riid` through its
// delegating unknown. An object whose query fails is destroyed.
HRESULT HandOverNewObject(CUnknown* object, bool aggregated, REFIID riid, void** ppv);

}  // namespace brvst
