#include "synth/synth_instrument.h"

#include "filter/adapter_filter.h"
#include "synth/event_scheduler.h"
#include "synth/name_list.h"
#include "vsthost/vst_plug_instance.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

namespace brvst {
namespace {

// channelKey of messages that arrive as raw MIDI.
constexpr uint32_t kRawMessageKey = 0x0000FFFF;
constexpr uint8_t kBankSelectMsb = 0;
constexpr uint8_t kBankSelectLsb = 32;

// Hosts write their whole event record, which is longer than the part the adapter reads; the
// record they fill gets room to spare.
constexpr size_t kHostRecordRoom = 64;

uint8_t Clamp7(int64_t value) {
  return static_cast<uint8_t>(std::clamp<int64_t>(value, 0, 127));
}

// The host's references, given back once the stream lock is released: a host object may do
// anything while it goes.
struct HostReferences {
  IHostTempoMap* tempoMap = nullptr;
  IHostTimeConverter* converter = nullptr;
  ~HostReferences() {
    if (tempoMap != nullptr) tempoMap->Release();
    if (converter != nullptr) converter->Release();
  }
};

// Under the stream lock: lets go of the connected objects; the caller releases them later.
void TakeConnection(AdapterFilter& filter, HostReferences& out) {
  out.tempoMap = filter.HostTimeSource.exchange(nullptr);
  out.converter = filter.Events->TimeConverter();
  filter.Events->SetTempoMap(nullptr);
  filter.Events->SetTimeConverter(nullptr);
}

HRESULT AnswerNames(NameList* list, void** nameList) {
  const HRESULT hr = list->QueryInterface(IID_INameList, nameList);
  return SUCCEEDED(hr) ? S_OK : hr;
}

}  // namespace

void AdapterFilter::RebuildProgramBanks() {
  if (!Plugin) return;
  VstPlugInstance& plugin = *Plugin;
  ProgramBanks.Rebuild(plugin.GetNumPrograms(),
                       [&plugin](int32_t index, char* out) { plugin.GetProgramName(index, out); });
}

STDMETHODIMP SynthInstrument::QueryInterface(REFIID riid, void** ppv) {
  return filter_.GetOwner()->QueryInterface(riid, ppv);
}

STDMETHODIMP_(ULONG) SynthInstrument::AddRef() {
  return filter_.GetOwner()->AddRef();
}

STDMETHODIMP_(ULONG) SynthInstrument::Release() {
  return filter_.GetOwner()->Release();
}

STDMETHODIMP SynthInstrument::Connect(IUnknown* host) {
  CheckPointer(host, E_POINTER);
  HostReferences previous;
  CAutoLock lock(&filter_.StreamLock);
  // A second Connect replaces the first: nothing of the host's is held twice.
  TakeConnection(filter_, previous);

  // Each query's reference is held until Disconnect and given back there, and the object the
  // host passed is never released: its count is the host's own business.
  IHostTempoMap* tempoMap = nullptr;
  HRESULT hr = host->QueryInterface(IID_IHostTempoMap, reinterpret_cast<void**>(&tempoMap));
  if (FAILED(hr) || tempoMap == nullptr) return FAILED(hr) ? hr : E_NOINTERFACE;
  filter_.HostTimeSource = tempoMap;
  filter_.Events->SetTempoMap(tempoMap);

  IHostTimeConverter* converter = nullptr;
  hr = host->QueryInterface(IID_IHostTimeConverter, reinterpret_cast<void**>(&converter));
  // Without a converter the tempo map stays in use.
  if (FAILED(hr) || converter == nullptr) return FAILED(hr) ? hr : E_NOINTERFACE;
  filter_.Events->SetTimeConverter(converter);
  return S_OK;
}

STDMETHODIMP SynthInstrument::Disconnect() {
  HostReferences previous;
  CAutoLock lock(&filter_.StreamLock);
  TakeConnection(filter_, previous);
  return S_OK;
}

STDMETHODIMP SynthInstrument::OnStart(LONG startTime) {
  CAutoLock lock(&filter_.StreamLock);
  filter_.StreamPosition = 0;
  filter_.StreamOrigin = filter_.Events->ToSamples(startTime);
  filter_.TransportStopped = 0;
  filter_.Events->Reset();
  filter_.NrpnMsb = 0;
  filter_.NrpnLsb = 0;
  filter_.TransportChanged = 1;
  return S_OK;
}

STDMETHODIMP SynthInstrument::OnTimeJump(LONG newTime, LONG jumpTime) {
  CAutoLock lock(&filter_.StreamLock);
  EventScheduler& events = *filter_.Events;
  events.InsertOutputEvent({kOutputTimeJump,
                            events.ToSamples(jumpTime),
                            kMarkerChannelKey,
                            {},
                            events.ToSamples(newTime)});
  events.BeginNewSegment();
  return S_OK;
}

STDMETHODIMP SynthInstrument::OnStop(LONG) {
  CAutoLock lock(&filter_.StreamLock);
  filter_.Events->Reset();
  filter_.Events->InsertOutputEvent({kOutputStop, 0, kMarkerChannelKey, {}, 0});
  return S_OK;
}

STDMETHODIMP SynthInstrument::ProcessEvents(DWORD, DWORD, DWORD channelKey, IHostEventList* list) {
  CheckPointer(list, E_POINTER);
  CAutoLock lock(&filter_.StreamLock);
  LONG count = 0;
  if (FAILED(list->GetCount(&count)) || count < 1) return S_OK;
  for (LONG i = 0; i < count; ++i) {
    alignas(8) uint8_t record[kHostRecordRoom] = {};
    list->GetAt(i, reinterpret_cast<HostEvent*>(record));
    HostEvent host;
    std::memcpy(&host, record, sizeof host);
    const bool queued = host.type <= kHostNrpn ||
                        (host.type >= kHostSetVelocityOffsetA && host.type <= kHostShortMessage);
    if (queued) filter_.Events->AddInputEvent(InputEvent::FromHost(host, channelKey));
  }
  return S_OK;
}

STDMETHODIMP SynthInstrument::ProcessMidiMessages(DWORD channelKey, IHostMessageList* list) {
  CheckPointer(list, E_POINTER);
  CAutoLock lock(&filter_.StreamLock);
  AdapterFilter& f = filter_;
  LONG count = 0;
  list->GetCount(&count);
  const ChannelKeyTables& keys = f.Keys;
  const int64_t velocityOffset =
      int64_t{keys.VelocityOffsetA.Get(channelKey)} + keys.VelocityOffsetB.Get(channelKey);
  const int64_t keyOffset =
      int64_t{keys.KeyOffsetA.Get(channelKey)} + keys.KeyOffsetB.Get(channelKey);

  for (LONG i = 0; i < count; ++i) {
    alignas(8) uint8_t record[kHostRecordRoom] = {};
    if (FAILED(list->GetAt(i, reinterpret_cast<HostMessage*>(record)))) break;
    HostMessage message;
    std::memcpy(&message, record, sizeof message);
    const uint8_t status = message.message & 0xFF;
    uint8_t data1 = (message.message >> 8) & 0xFF;
    uint8_t data2 = (message.message >> 16) & 0xFF;

    int32_t sampleTime = 0;
    if (f.TransportStopped == 0) {
      if (f.HostTimeSource != nullptr) sampleTime = f.Events->ToSamples(message.time);
      // Never before the buffer the stream is at: late messages play at once.
      sampleTime = std::max(sampleTime, f.StreamPosition.load());
    }
    OutputEvent event{kOutputMidi, sampleTime, kRawMessageKey, {status, data1, data2, 0}, 0};
    const uint8_t type = status & 0xF0;
    if (type == 0x80 || type == 0x90) {
      event.msg[1] = Clamp7(data1 + keyOffset);
      // A note-on of velocity 0 is a note-off and stays one.
      if (type == 0x90 && data2 > 0) event.msg[2] = Clamp7(data2 + velocityOffset);
    } else if (type == 0xC0) {
      event.kind = kOutputProgram;
      event.msg[0] = 0;
      event.msg[1] = data1;
      event.msg[2] = static_cast<uint8_t>(f.CurrentBank & 0xFF);
    } else if (type == 0xB0 && data1 == kBankSelectLsb) {
      f.CurrentBank = data2;
      continue;
    } else if (type == 0xB0 && data1 == kBankSelectMsb) {
      continue;
    }
    f.Events->InsertOutputEvent(event);
  }
  return S_OK;
}

STDMETHODIMP SynthInstrument::GetBankNumbers(LONG** banks, LONG* count) {
  CheckPointer(banks, E_POINTER);
  CheckPointer(count, E_POINTER);
  const int32_t bankCount = filter_.ProgramBanks.Count();
  auto* numbers = static_cast<LONG*>(CoTaskMemAlloc(sizeof(LONG) * std::max(bankCount, 1)));
  if (numbers == nullptr) return E_OUTOFMEMORY;
  for (int32_t b = 0; b < bankCount; ++b) numbers[b] = b;
  *banks = numbers;
  *count = bankCount;
  return S_OK;
}

STDMETHODIMP SynthInstrument::QueryPatchFlag(LONG bank, LONG patch) {
  return ValidatePatch(bank, patch) == S_OK ? S_FALSE : E_INVALIDARG;
}

STDMETHODIMP SynthInstrument::ValidatePatch(LONG bank, LONG patch) {
  const bool valid = bank >= -1 && bank <= 16383 && patch >= -1 && patch <= 127;
  return valid ? S_OK : E_INVALIDARG;
}

STDMETHODIMP SynthInstrument::GetBankNames(LONG bank, void** nameList) {
  CheckPointer(nameList, E_POINTER);
  *nameList = nullptr;
  const ComPtr<NameList> list = filter_.ProgramBanks.Bank(std::max<LONG>(bank, 0));
  if (!list) return S_FALSE;
  AnswerNames(list.get(), nameList);
  return S_OK;
}

STDMETHODIMP SynthInstrument::GetNrpnNames(void** nameList) {
  CheckPointer(nameList, E_POINTER);
  *nameList = nullptr;
  if (filter_.Record->NrpnPassThrough != 0 || !filter_.Plugin) return S_FALSE;
  VstPlugInstance& plugin = *filter_.Plugin;
  try {
    const int32_t params = plugin.GetNumParams();
    // The host's reference is the only one: the list goes when the host lets go of it.
    ComPtr<NameList> list(new NameList(plugin.dllPath, params));
    for (int32_t i = 0; i < params; ++i) {
      char name[vst2::kParamTextSize] = {};
      plugin.GetParamName(i, name);
      list->SetEntry(i, name);
    }
    return AnswerNames(list.get(), nameList);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

STDMETHODIMP SynthInstrument::SetChannelSetting(const ChannelSetting* setting) {
  CheckPointer(setting, E_POINTER);
  CAutoLock lock(&filter_.StreamLock);
  ChannelKeyTables& keys = filter_.Keys;
  const uint32_t key = setting->channelKey;
  const auto offset = static_cast<int8_t>(setting->value);
  try {
    switch (setting->kind) {
      case kChannelMuteBits: {
        const auto bits = static_cast<uint32_t>(keys.ChannelMute.Get(key));
        keys.ChannelMute.Set(
            key, static_cast<int32_t>((bits & ~uint32_t{setting->clearBits}) | setting->value));
        break;
      }
      case kChannelVelocityOffsetA:
        keys.VelocityOffsetA.Set(key, offset);
        break;
      case kChannelVelocityOffsetB:
        keys.VelocityOffsetB.Set(key, offset);
        break;
      case kChannelKeyOffsetA:
        keys.KeyOffsetA.Set(key, offset);
        break;
      case kChannelKeyOffsetB:
        keys.KeyOffsetB.Set(key, offset);
        break;
      default:
        break;
    }
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

}  // namespace brvst
