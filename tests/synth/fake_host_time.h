// The host's timing objects, as a test wants them: a conversion it chooses, counted references and
// counted calls. They live on the test's stack; the count starts at the test's own reference.
#pragma once

#include "synth/host_objects.h"

#include <functional>

namespace brvst::test {

template <typename Interface>
class FakeHostObject : public Interface {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, iid_)) return E_NOINTERFACE;
    *out = static_cast<Interface*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override { return --references_; }

  ULONG references() const { return references_; }
  int calls() const { return calls_; }

 protected:
  explicit FakeHostObject(const IID& iid) : iid_(iid) {}
  int calls_ = 0;

 private:
  const IID& iid_;
  ULONG references_ = 1;
};

// Converts event times (format 3) to samples (format 2) with the given function.
class FakeTimeConverter final : public FakeHostObject<IHostTimeConverter> {
 public:
  explicit FakeTimeConverter(std::function<int64_t(int64_t)> convert)
      : FakeHostObject(IID_IHostTimeConverter), convert_(std::move(convert)) {}

  HRESULT STDMETHODCALLTYPE ConvertTime(HostTimeRecord* record, uint32_t targetFormat) override {
    ++calls_;
    if (record->format != kHostTimeEventTime || record->reserved != 0 ||
        targetFormat != kHostTimeSamples) {
      return E_INVALIDARG;
    }
    record->format = targetFormat;
    record->value = convert_(record->value);
    return S_OK;
  }

 private:
  std::function<int64_t(int64_t)> convert_;
};

// Answers milliseconds for an event time with the given function; nothing else is used.
class FakeTempoMap final : public FakeHostObject<IHostTempoMap> {
 public:
  explicit FakeTempoMap(std::function<LONG(LONG)> msFromEventTime)
      : FakeHostObject(IID_IHostTempoMap), ms_(std::move(msFromEventTime)) {}

  LONG STDMETHODCALLTYPE MsFromEventTime(LONG eventTime) override {
    ++calls_;
    return ms_(eventTime);
  }
  LONG STDMETHODCALLTYPE TicksFromMs(LONG) override { return 0; }
  LONG STDMETHODCALLTYPE TicksPerQuarter() override { return 0; }
  LONG STDMETHODCALLTYPE TempoEntryAt(LONG) override { return 0; }
  HRESULT STDMETHODCALLTYPE Reserved5() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTempoEntry(LONG, LONG*, LONG*) override { return E_NOTIMPL; }

 private:
  std::function<LONG(LONG)> ms_;
};

}  // namespace brvst::test
