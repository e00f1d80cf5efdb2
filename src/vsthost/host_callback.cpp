#include "vsthost/host_callback.h"

#include "filter/adapter_filter.h"
#include "synth/host_objects.h"
#include "synth/time_units.h"
#include "vsthost/vst_plug_instance.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace brvst {

std::atomic<bool> IdleGuard{false};

namespace {

VstPlugInstance* InstanceOf(vst2::AEffect* effect) {
  if (effect == nullptr) return nullptr;
  return reinterpret_cast<VstPlugInstance*>(effect->resvd1);
}

// Conversion toward zero that cannot overflow or meet a NaN.
int32_t TruncateToInt32(double value) {
  if (std::isnan(value)) return 0;
  if (value >= 2147483647.0) return std::numeric_limits<int32_t>::max();
  if (value <= -2147483648.0) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(value);
}

bool EqualsIgnoringCase(const char* a, const char* b) {
  for (;; ++a, ++b) {
    const unsigned char x = static_cast<unsigned char>(*a);
    const unsigned char y = static_cast<unsigned char>(*b);
    const int lx = (x >= 'A' && x <= 'Z') ? x + 32 : x;
    const int ly = (y >= 'A' && y <= 'Z') ? y + 32 : y;
    if (lx != ly) return false;
    if (x == 0) return true;
  }
}

// Where the stream is: its rate and its position (a 32-bit sum, signed).
struct StreamPlace {
  double sampleRate;
  int32_t position;
};

StreamPlace PlaceOf(const AdapterFilter& filter) {
  const double sampleRate = static_cast<double>(filter.StreamSampleRate());
  const int32_t position = WrappingAdd(filter.StreamOrigin.load(), filter.StreamPosition.load());
  return {sampleRate, position};
}

// The requests that need the instance the calling effect belongs to.
intptr_t InstanceRequest(VstPlugInstance& instance, int32_t opcode, int32_t index, intptr_t value,
                         float opt) {
  switch (opcode) {
    case vst2::audioMasterAutomate:
      instance.ParameterAutomated(index, opt);
      instance.owner->SetDirty(TRUE);
      return 0;
    case vst2::audioMasterIdle:
      if (!IdleGuard.exchange(true)) {
        instance.Idle();
        IdleGuard.store(false);
      }
      return 0;
    case vst2::audioMasterGetTime:
      return reinterpret_cast<intptr_t>(instance.GetTimeInfo(static_cast<int32_t>(value)));
    case vst2::audioMasterTempoAt:
      // The position asked about is not used: the answer is the tempo now. Not a time query:
      // a transport or tempo change stays for the next audioMasterGetTime to report.
      return TruncateToInt32(instance.TempoNow() * 10000.0);
    case vst2::audioMasterSizeWindow:
      instance.SizeWindow(index, static_cast<int32_t>(value));
      return 0;
    case vst2::audioMasterGetSampleRate:
      return static_cast<intptr_t>(instance.owner->OutputSampleRate());
    case vst2::audioMasterGetBlockSize:
      return instance.blockSize;
    case vst2::audioMasterGetDirectory:
      return reinterpret_cast<intptr_t>(instance.directory);
    case vst2::audioMasterIOChanged:
      // Acknowledged: the latency is read from the effect whenever it is needed. The pins keep
      // the channel counts read at load, which the work buffers are sized for.
      return 1;
    default:
      return 0;
  }
}

}  // namespace

intptr_t HostCallback(vst2::AEffect* effect, int32_t opcode, int32_t index, intptr_t value,
                      void* ptr, float opt) {
  // Answers that do not involve the instance come first: plug-ins ask for the version from
  // inside their entry point, before the instance is known.
  switch (opcode) {
    case vst2::audioMasterVersion:
      return kHostVstVersion;
    case vst2::audioMasterCurrentId:
      return kHostCurrentId;
    case vst2::audioMasterGetVendorString:
      if (ptr != nullptr) std::memcpy(ptr, kHostVendor, sizeof kHostVendor);
      return 0;
    case vst2::audioMasterGetProductString:
      if (ptr != nullptr) std::memcpy(ptr, kHostProduct, sizeof kHostProduct);
      return 0;
    case vst2::audioMasterGetVendorVersion:
      return kHostVendorVersion;
    case vst2::audioMasterCanDo:
      // Editor resizing is the one capability claimed (and then ignored).
      return ptr != nullptr && EqualsIgnoringCase(static_cast<const char*>(ptr), "sizeWindow") ? 1
                                                                                               : 0;
    case vst2::audioMasterAutomate:
    case vst2::audioMasterIdle:
    case vst2::audioMasterGetTime:
    case vst2::audioMasterTempoAt:
    case vst2::audioMasterSizeWindow:
    case vst2::audioMasterGetSampleRate:
    case vst2::audioMasterGetBlockSize:
    case vst2::audioMasterGetDirectory:
    case vst2::audioMasterIOChanged:
      break;
    default:
      return 0;
  }

  VstPlugInstance* instance = InstanceOf(effect);
  if (instance == nullptr) return 0;
  try {
    return InstanceRequest(*instance, opcode, index, value, opt);
  } catch (...) {
    return 0;  // out of memory for a thread's time record, say: nothing may reach the plug-in
  }
}

vst2::VstTimeInfo& VstPlugInstance::TimeRecordForThisThread() {
  // The streaming thread, while inside Process, fills the instance's own record. Every other
  // thread gets a record of its own in this instance, so no two threads ever write one record
  // while a plug-in reads it, and no instance answers from another's.
  const DWORD thread = GetCurrentThreadId();
  if (processThread.load() == thread) return timeInfo;
  std::lock_guard<std::mutex> lock(timeRecordsLock);
  std::unique_ptr<vst2::VstTimeInfo>& record = timeRecords[thread];
  if (!record) record = std::make_unique<vst2::VstTimeInfo>(InitialTimeInfo());
  return *record;
}

double VstPlugInstance::HostTempo(int32_t position, double sampleRate) {
  IHostTempoMap* tempoMap = owner->HostTimeSource;
  const int32_t ms = FramesToMs(position, static_cast<uint32_t>(sampleRate));
  const LONG ticks = tempoMap->TicksFromMs(ms);
  const LONG entry = tempoMap->TempoEntryAt(ticks);
  LONG first = 0;
  LONG tempo100 = 0;
  tempoMap->GetTempoEntry(entry, &first, &tempo100);
  return tempo100 * static_cast<double>(0.01f);
}

double VstPlugInstance::TempoNow() {
  if (owner->HostTimeSource == nullptr) return reportedTempo.load();
  const StreamPlace place = PlaceOf(*owner);
  return HostTempo(place.position, place.sampleRate);
}

vst2::VstTimeInfo* VstPlugInstance::GetTimeInfo(int32_t requestMask) {
  vst2::VstTimeInfo& info = TimeRecordForThisThread();
  AdapterFilter& filter = *owner;

  // Read and cleared in one step: a change the intake reports in between is never lost, and
  // of two threads asking at once exactly one sees it.
  bool changed = filter.TransportChanged.exchange(0) != 0;
  const bool playing = filter.TransportStopped.load() == 0;
  const auto [sampleRate, position] = PlaceOf(filter);
  info.sampleRate = sampleRate;
  info.samplePos = position;
  // Before a format is set the sample rate is 0: position and time are then both 0.
  info.nanoSeconds = sampleRate > 0.0 ? position / sampleRate * 1e9 : 0.0;

  IHostTempoMap* tempoMap = filter.HostTimeSource;
  if (tempoMap != nullptr && (requestMask & vst2::kVstPpqPosValid) != 0) {
    const int32_t ms = FramesToMs(position, static_cast<uint32_t>(sampleRate));
    const LONG ticks = tempoMap->TicksFromMs(ms);
    const LONG perQuarter = tempoMap->TicksPerQuarter();
    // A tempo map without a quarter length gives no position; the last one stays.
    if (perQuarter != 0) info.ppqPos = static_cast<float>(ticks) / static_cast<double>(perQuarter);
  }
  if (tempoMap != nullptr && (requestMask & vst2::kVstTempoValid) != 0) {
    const double tempo = HostTempo(position, sampleRate);
    // The instance's last reported tempo, whichever thread asked: a change is reported once.
    const double previous = reportedTempo.exchange(tempo);
    if (tempo != previous || std::isnan(tempo) || std::isnan(previous)) changed = true;
    info.tempo = tempo;
  } else {
    info.tempo = reportedTempo.load();
  }

  info.flags = (changed ? vst2::kVstTransportChanged : 0) |
               (playing ? vst2::kVstTransportPlaying : 0) | vst2::kVstNanosValid |
               vst2::kVstPpqPosValid | vst2::kVstTempoValid;
  info.timeSigNumerator = 4;
  info.timeSigDenominator = 4;
  return &info;
}

}  // namespace brvst
