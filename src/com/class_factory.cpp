#include "com/class_factory.h"

#include "com/exports.h"
#include "com/failure_report.h"
#include "com/registration.h"
#include "filter/adapter_filter.h"
#include "propertypage/adapter_property_page.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace brvst {
namespace {

constexpr char kFactoryObjectName[] = "Plugin Factory";

// The name the registry gives the class a host asked for, cut to the 63 characters of the
// report's description; "(unknown)" when it has none.
std::string RegisteredDescription(REFCLSID clsid) {
  constexpr size_t kDescriptionSize = 64;
  std::string description = "(unknown)";
  HKEY key = nullptr;
  // Reading needs no more than query access; asking for all access would fail for a user who
  // may not write HKEY_CLASSES_ROOT, and hide the name.
  const std::string keyName = "CLSID\\" + RegistryForm(clsid);
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, keyName.c_str(), 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
    return description;
  DWORD type = 0;
  DWORD size = 0;
  if (RegQueryValueExA(key, nullptr, nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
      (type == REG_SZ || type == REG_EXPAND_SZ) && size > 0) {
    std::vector<char> value(size + 1, '\0');
    if (RegQueryValueExA(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(value.data()),
                         &size) == ERROR_SUCCESS) {
      // The stored value need not end with its terminator: never read past what was read.
      const size_t length = std::min<size_t>(strnlen(value.data(), size), kDescriptionSize - 1);
      description.assign(value.data(), length);
    }
  }
  RegCloseKey(key);
  return description;
}

void ReportMissingPlugin(REFCLSID clsid) {
  SetFailurePoint("Reporting failed plugin");
  const std::string text =
      "A plug-in was requested that appears to be unavailable.\n Perhaps you uninstalled it? "
      "The adapter believes the missing plug-in to be\n\n" +
      RegisteredDescription(clsid) +
      "\n\nWe recommend that if you removed this plug-in from your VST plug-ins folder,\n you "
      "replace it and run AdapterScan again.";
  MessageBoxA(nullptr, text.c_str(), "Brimley VST Adapter Error", MB_OK);
  SetFailurePoint("Reporting failed plugin: retcode");
}

struct FactoryPoints {
  const char* created;  // null: no checkpoint between construction and query
  const char* succeeded;
  const char* failed;
};

// Constructs a factory and hands out its interface `riid`; a factory that answers no such
// interface is destroyed again.
template <class Factory, class Record>
HRESULT OfferFactory(Record& record, REFIID riid, void** ppv, const FactoryPoints& points) {
  auto* factory = new (std::nothrow) Factory(record);
  if (factory == nullptr) {
    if (ppv != nullptr) *ppv = nullptr;
    return E_OUTOFMEMORY;
  }
  if (points.created != nullptr) SetFailurePoint(points.created);
  factory->NonDelegatingAddRef();
  const HRESULT hr = factory->NonDelegatingQueryInterface(riid, ppv);
  factory->NonDelegatingRelease();
  if (hr == S_OK) {
    SetFailurePoint(points.succeeded);
    return S_OK;
  }
  SetFailurePoint(points.failed);
  if (ppv != nullptr) *ppv = nullptr;
  return E_NOINTERFACE;
}

HRESULT GetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
  ReportPluginListProblems();
  SetFailureFunction("DllGetClassObject", "Searching for object");
  std::list<PluginRecord>& list = PluginList();
  if (list.empty()) {
    MessageBoxA(nullptr, "Brimley DX proxy: couldn't find any VST plug-ins, or config load failed.",
                "DX Proxy Error", MB_OK);
  }
  for (PluginRecord& record : list) {
    SetFailurePoint("Looping");
    if (rclsid == record.FilterClsid) {
      SetFailurePoint("Found object, creating factory (plug)");
      return OfferFactory<FilterClassFactory>(
          record, riid, ppv,
          {"Created factory, checking (plug)", "Factory checked OK, returning (plug)",
           "Factory failed (plug)"});
    }
    if (rclsid == record.PageClsid) {
      SetFailurePoint("Creating factory (props)");
      return OfferFactory<PageClassFactory>(
          record, riid, ppv, {nullptr, "Factory OK (props)", "Factory failed (props)"});
    }
    SetFailurePoint("looping back");
  }
  ReportMissingPlugin(rclsid);
  return CLASS_E_CLASSNOTAVAILABLE;
}

}  // namespace

HRESULT HandOverNewObject(CUnknown* object, bool aggregated, REFIID riid, void** ppv) {
  // One reference taken and given back around the query: it destroys the object when the query
  // fails and leaves the caller's reference when it succeeds.
  object->NonDelegatingAddRef();
  const HRESULT hr = aggregated ? object->NonDelegatingQueryInterface(riid, ppv)
                                : object->GetOwner()->QueryInterface(riid, ppv);
  object->NonDelegatingRelease();
  return hr;
}

AdapterClassFactory::AdapterClassFactory(const char* name)
    : CUnknown(kFactoryObjectName, nullptr), Name(name) {
  AddLiveObjectWithResources();
}

AdapterClassFactory::~AdapterClassFactory() {
  RemoveLiveObject();
}

STDMETHODIMP AdapterClassFactory::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  CheckPointer(ppv, E_POINTER);
  if (riid == IID_IClassFactory) return GetInterface(static_cast<IClassFactory*>(this), ppv);
  return CUnknown::NonDelegatingQueryInterface(riid, ppv);
}

STDMETHODIMP AdapterClassFactory::CreateInstance(IUnknown* outer, REFIID riid, void** ppv) {
  CheckPointer(ppv, E_POINTER);
  *ppv = nullptr;
  // An aggregated object is reachable only through its own unknown, which the outer object
  // keeps; any other interface would leave the new object without an owner.
  if (outer != nullptr && riid != IID_IUnknown) return CLASS_E_NOAGGREGATION;
  try {
    HRESULT hr = S_OK;
    CUnknown* product = MakeProduct(outer, &hr);
    if (product == nullptr) return E_OUTOFMEMORY;
    if (FAILED(hr)) {
      delete product;
      return hr;
    }
    return HandOverNewObject(product, outer != nullptr, riid, ppv);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

STDMETHODIMP AdapterClassFactory::LockServer(BOOL lock) {
  return CoLockObjectExternal(static_cast<IClassFactory*>(this), lock, FALSE);
}

FilterClassFactory::FilterClassFactory(PluginRecord& record)
    : AdapterClassFactory(record.Name),
      FilterClsid(&record.FilterClsid),
      PageClsid(&record.PageClsid),
      DllPath(record.DllPath),
      Record(&record) {}

CUnknown* FilterClassFactory::MakeProduct(IUnknown* outer, HRESULT* result) {
  return new (std::nothrow)
      AdapterFilter(Name, outer, FilterClsid, PageClsid, result, DllPath, Record);
}

PageClassFactory::PageClassFactory(const PluginRecord& record)
    : AdapterClassFactory(record.Name),
      PageClsid(&record.PageClsid),
      EditorWidth(record.EditorWidth),
      EditorHeight(record.EditorHeight) {}

CUnknown* PageClassFactory::MakeProduct(IUnknown* outer, HRESULT* result) {
  return new (std::nothrow)
      AdapterPropertyPage(Name, outer, result, PageClsid, EditorWidth, EditorHeight);
}

}  // namespace brvst

using namespace brvst;

BRVST_EXPORT HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) {
  try {
    return GetClassObject(rclsid, riid, ppv);
  } catch (const std::bad_alloc&) {
    if (ppv != nullptr) *ppv = nullptr;
    return E_OUTOFMEMORY;
  } catch (...) {
    if (ppv != nullptr) *ppv = nullptr;
    return E_UNEXPECTED;
  }
}
