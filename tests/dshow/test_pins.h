// A filter with pins the tests configure: which types each pin offers and accepts, what its
// allocator decisions are, and a record of the calls the base classes make into it.
#pragma once

#include "dshow/streams.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace brvst::test {

class TestFilter;

// An audio type that differs from others by its sample rate.
CMediaType AudioType(int sampleRate, const GUID& subtype = MEDIASUBTYPE_PCM);

// Types a pin offers and accepts: `accept` decides when set; otherwise the `accepted` types, or
// when there are none the offered ones, or when there are none of those either any type.
struct TypePolicy {
  std::vector<CMediaType> offered;
  std::vector<CMediaType> accepted;
  std::function<HRESULT(const CMediaType*)> accept;  // overrides `accepted`
  HRESULT Check(const CMediaType* type) const;
};

class TestOutputPin final : public CBaseOutputPin {
 public:
  TestOutputPin(TestFilter* filter, LPCWSTR name);

  HRESULT CheckMediaType(const CMediaType* pmt) override;
  HRESULT GetMediaType(int position, CMediaType* pmt) override;
  HRESULT SetMediaType(const CMediaType* pmt) override;
  HRESULT CheckConnect(IPin* pin) override;
  HRESULT CompleteConnect(IPin* pin) override;
  HRESULT BreakConnect() override;
  HRESULT DecideBufferSize(IMemAllocator* allocator, ALLOCATOR_PROPERTIES* props) override;
  HRESULT InitAllocator(IMemAllocator** allocator) override;

  IMemAllocator* Allocator() const { return m_pAllocator; }
  void SetTryMyTypesFirst(bool first) { m_bTryMyTypesFirst = first; }
  using CBasePin::IncrementTypeVersion;

  TypePolicy types;
  // What DecideBufferSize asks of an allocator (merged with the input pin's requirements).
  ALLOCATOR_PROPERTIES request{2, 4096, 1, 0};
  // DecideBufferSize refuses the input pin's allocator (to force the pin's own).
  bool refuseInputAllocator = false;
  HRESULT completeResult = S_OK;
  std::vector<std::string> calls;
  std::vector<ALLOCATOR_PROPERTIES> decideRequests;  // what DecideBufferSize was handed
  IMemAllocator* ownAllocator = nullptr;             // made by InitAllocator (not counted)
};

class TestInputPin final : public CBaseInputPin {
 public:
  TestInputPin(TestFilter* filter, LPCWSTR name);

  HRESULT CheckMediaType(const CMediaType* pmt) override;
  HRESULT GetMediaType(int position, CMediaType* pmt) override;
  HRESULT SetMediaType(const CMediaType* pmt) override;
  HRESULT CompleteConnect(IPin* pin) override;
  HRESULT BreakConnect() override;
  STDMETHODIMP GetAllocatorRequirements(ALLOCATOR_PROPERTIES* props) override;
  STDMETHODIMP Receive(IMediaSample* sample) override;
  STDMETHODIMP EndOfStream() override;

  IMemAllocator* Allocator() const { return m_pAllocator; }
  using CBasePin::IncrementTypeVersion;

  TypePolicy types;
  std::optional<ALLOCATOR_PROPERTIES> requirements;
  HRESULT completeResult = S_OK;
  std::vector<std::string> calls;
  int received = 0;
  int endOfStream = 0;
  std::vector<BYTE> bytes;
  // Samples kept (with a reference) instead of let go, for tests of a full allocator.
  bool keepSamples = false;
  std::vector<ComPtr<IMediaSample>> kept;
};

class TestFilter final : public CBaseFilter {
 public:
  // {0B1D7E52-47A3-4C11-9E2B-6A3F5C8D9E01}
  static constexpr CLSID kClsid = {
      0x0B1D7E52, 0x47A3, 0x4C11, {0x9E, 0x2B, 0x6A, 0x3F, 0x5C, 0x8D, 0x9E, 0x01}};

  // A filter holding one reference for the caller.
  static ComPtr<TestFilter> Create();
  TestFilter(IUnknown* outer, HRESULT* phr);
  ~TestFilter() override;

  TestOutputPin* AddOutput(LPCWSTR name);
  TestInputPin* AddInput(LPCWSTR name);
  // Drops a pin (no one may hold it any more); the pin version changes.
  void RemovePin(int index);

  int GetPinCount() override;
  CBasePin* GetPin(int n) override;
  const AMOVIESETUP_FILTER* GetSetupData() override { return setup; }
  FILTER_STATE State() const { return m_State; }

  const AMOVIESETUP_FILTER* setup = nullptr;
  CCritSec filterLock;
  CCritSec pinLock;

 private:
  std::vector<std::unique_ptr<CBasePin>> m_pins;
};

}  // namespace brvst::test
