#include "com_conformance.h"

#include <string>

namespace brvst::test {

namespace {
std::string GuidText(REFGUID guid) {
  WCHAR wide[40] = {};
  StringFromGUID2(guid, wide, 40);
  return std::string(wide, wide + 38);
}
}  // namespace

ULONG RefCount(IUnknown* object) {
  object->AddRef();
  return object->Release();
}

::testing::AssertionResult HasInterfaces(IUnknown* object, std::initializer_list<IID> supported,
                                         std::initializer_list<IID> unsupported) {
  if (object == nullptr) return ::testing::AssertionFailure() << "null object";
  const ULONG before = RefCount(object);
  if (object->QueryInterface(IID_IUnknown, nullptr) != E_POINTER)
    return ::testing::AssertionFailure() << "QueryInterface with a null out pointer";
  IUnknown* identity = nullptr;
  if (object->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)) != S_OK ||
      identity == nullptr)
    return ::testing::AssertionFailure() << "no IUnknown";
  identity->Release();
  for (const IID& iid : supported) {
    void* itf = nullptr;
    const HRESULT hr = object->QueryInterface(iid, &itf);
    if (hr != S_OK || itf == nullptr)
      return ::testing::AssertionFailure()
             << GuidText(iid) << ": QueryInterface answered 0x" << std::hex << hr;
    auto* unknown = static_cast<IUnknown*>(itf);
    if (RefCount(object) != before + 1) {
      unknown->Release();
      return ::testing::AssertionFailure() << GuidText(iid) << ": count not raised by one";
    }
    IUnknown* back = nullptr;
    unknown->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&back));
    const bool same = back == identity;
    if (back != nullptr) back->Release();
    unknown->Release();
    if (!same) return ::testing::AssertionFailure() << GuidText(iid) << ": another identity";
  }
  for (const IID& iid : unsupported) {
    void* itf = reinterpret_cast<void*>(1);
    const HRESULT hr = object->QueryInterface(iid, &itf);
    if (hr != E_NOINTERFACE || itf != nullptr)
      return ::testing::AssertionFailure()
             << GuidText(iid) << ": unsupported, but answered 0x" << std::hex << hr;
  }
  if (RefCount(object) != before)
    return ::testing::AssertionFailure() << "count " << RefCount(object) << ", was " << before;
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult ReleasesLast(IUnknown* object) {
  if (object == nullptr) return ::testing::AssertionFailure() << "null object";
  const ULONG left = object->Release();
  if (left != 0) return ::testing::AssertionFailure() << left << " references left";
  return ::testing::AssertionSuccess();
}

STDMETHODIMP FakeOuter::QueryInterface(REFIID riid, void** ppv) {
  ++queries_;
  if (ppv == nullptr) return E_POINTER;
  if (riid == IID_IUnknown) {
    *ppv = this;
    AddRef();
    return S_OK;
  }
  *ppv = nullptr;
  return E_NOINTERFACE;
}

::testing::AssertionResult AggregatesProperly(const AggregateFactory& create, REFIID iid) {
  FakeOuter outer;
  IUnknown* inner = nullptr;
  HRESULT hr = create(&outer, &inner);
  if (FAILED(hr) || inner == nullptr)
    return ::testing::AssertionFailure() << "creation answered 0x" << std::hex << hr;
  const LONG outerStart = outer.Refs();
  auto fail = [&](const std::string& what) {
    for (int i = 0; i < 100 && inner->Release() != 0; ++i) {
    }
    return ::testing::AssertionFailure() << what;
  };
  // The inner unknown counts on its own.
  if (RefCount(inner) != 1 || outer.Refs() != outerStart) return fail("inner count");
  void* itf = nullptr;
  hr = inner->QueryInterface(iid, &itf);
  if (hr != S_OK || itf == nullptr) return fail("inner does not give the interface");
  // Handing out an interface AddRefs through it, which is the outer's count.
  if (outer.Refs() != outerStart + 1 || RefCount(inner) != 1)
    return fail("interface reference not counted on the outer object");
  auto* unknown = static_cast<IUnknown*>(itf);
  const int queries = outer.QueryCalls();
  IUnknown* identity = nullptr;
  unknown->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity));
  if (outer.QueryCalls() != queries + 1 || identity != &outer)
    return fail("QueryInterface not delegated to the outer object");
  identity->Release();
  unknown->AddRef();
  if (outer.Refs() != outerStart + 2) return fail("AddRef not delegated");
  unknown->Release();
  unknown->Release();
  if (outer.Refs() != outerStart) return fail("Release not delegated");
  // The inner unknown's IID_IUnknown is itself, not the outer.
  IUnknown* self = nullptr;
  inner->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&self));
  if (self != inner) return fail("inner IUnknown is not the non-delegating one");
  self->Release();
  if (inner->Release() != 0) return ::testing::AssertionFailure() << "inner survives";
  if (outer.Refs() != outerStart) return ::testing::AssertionFailure() << "outer count changed";
  return ::testing::AssertionSuccess();
}

}  // namespace brvst::test
