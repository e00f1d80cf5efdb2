// Conformance checks shared by the tests of every COM object: interface tables and identity,
// reference counts, aggregation, and the final release.
#pragma once

#include "platform/platform.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <initializer_list>

namespace brvst::test {

// The object's current reference count, observed through AddRef and Release.
ULONG RefCount(IUnknown* object);

// QueryInterface answers S_OK with a non-null pointer for every supported IID, each of which
// answers IID_IUnknown with the same identity pointer; E_NOINTERFACE and a null pointer for the
// unsupported ones; E_POINTER for a null out pointer. The count is back where it was after
// each call pair.
::testing::AssertionResult HasInterfaces(IUnknown* object, std::initializer_list<IID> supported,
                                         std::initializer_list<IID> unsupported = {});

// Releases the caller's last reference and checks it was the last one.
::testing::AssertionResult ReleasesLast(IUnknown* object);

// A controlling unknown for aggregation tests: counts its own references and answers only
// IID_IUnknown, so a call that an inner object delegates shows up here.
class FakeOuter final : public IUnknown {
 public:
  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++refs_); }
  STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(--refs_); }
  LONG Refs() const { return refs_; }
  int QueryCalls() const { return queries_; }

 private:
  std::atomic<LONG> refs_{1};
  std::atomic<int> queries_{0};
};

// Makes an object aggregated by `outer`, handing back its non-delegating IUnknown.
using AggregateFactory = std::function<HRESULT(IUnknown* outer, IUnknown** inner)>;

// For an object that supports aggregation: its non-delegating IUnknown counts on its own and
// hands out `iid`; that interface's QueryInterface, AddRef and Release reach the outer object;
// releasing the inner unknown destroys the object (the outer's count is back at its start).
::testing::AssertionResult AggregatesProperly(const AggregateFactory& create, REFIID iid);

}  // namespace brvst::test
