// The filter's soft-synth interfaces: ISynthInstrument and IChannelSettings, one sub-object of
// the filter whose IUnknown is the filter's controlling unknown.
#pragma once

#include "synth/synth_interfaces.h"

namespace brvst {

class AdapterFilter;

class SynthInstrument final : public ISynthInstrument, public IChannelSettings {
 public:
  /// Lives as long as `filter`, as a field of it.
  explicit SynthInstrument(AdapterFilter& filter) : filter_(filter) {}
  SynthInstrument(const SynthInstrument&) = delete;
  SynthInstrument& operator=(const SynthInstrument&) = delete;

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  // ISynthInstrument. Methods up to ProcessMidiMessages run under the filter's stream lock.
  STDMETHODIMP Connect(IUnknown* host) override;
  STDMETHODIMP Disconnect() override;
  STDMETHODIMP OnStart(LONG startTime) override;
  STDMETHODIMP OnTimeJump(LONG newTime, LONG jumpTime) override;
  STDMETHODIMP OnStop(LONG time) override;
  STDMETHODIMP ProcessEvents(DWORD unused1, DWORD unused2, DWORD channelKey,
                             IHostEventList* list) override;
  STDMETHODIMP ProcessMidiMessages(DWORD channelKey, IHostMessageList* list) override;
  STDMETHODIMP GetBankNumbers(LONG** banks, LONG* count) override;
  STDMETHODIMP QueryPatchFlag(LONG bank, LONG patch) override;
  STDMETHODIMP ValidatePatch(LONG bank, LONG patch) override;
  STDMETHODIMP GetBankNames(LONG bank, void** nameList) override;
  STDMETHODIMP Unsupported1(DWORD, DWORD, DWORD) override { return S_FALSE; }
  STDMETHODIMP Unsupported2(DWORD) override { return S_FALSE; }
  STDMETHODIMP Unsupported3(DWORD) override { return S_FALSE; }
  STDMETHODIMP GetNrpnNames(void** nameList) override;

  // IChannelSettings, under the stream lock.
  STDMETHODIMP SetChannelSetting(const ChannelSetting* setting) override;

  ISynthInstrument* Instrument() { return this; }
  IChannelSettings* ChannelSettings() { return this; }

 private:
  AdapterFilter& filter_;
};

}  // namespace brvst
