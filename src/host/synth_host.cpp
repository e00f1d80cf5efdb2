#include "host/synth_host.h"

#include "synth/event_scheduler.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>

namespace brvst::host {
namespace {

constexpr int64_t kMicrosecondsPerSecond = 1'000'000;

int64_t FloorDiv(int64_t a, int64_t b) {
  const int64_t q = a / b;
  return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

// a * b / c rounded down, for 0 < b and c * b within 64 bits, whatever the size of a.
int64_t MulDivFloor(int64_t a, int64_t b, int64_t c) {
  const int64_t q = FloorDiv(a, c);
  const int64_t r = a - q * c;
  return q * b + r * b / c;
}

int32_t Saturate(int64_t value) {
  return static_cast<int32_t>(std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(),
                                                  std::numeric_limits<int32_t>::max()));
}

HostEvent EventOf(uint32_t type, int32_t tick, uint8_t channel) {
  HostEvent event{};
  event.time = tick;
  event.channel = channel;
  event.type = type;
  return event;
}

template <typename T>
void Put(HostEvent& event, std::size_t dataOffset, T value) {
  std::memcpy(event.data + dataOffset, &value, sizeof value);
}

}  // namespace

ComPtr<HostTimeline> HostTimeline::Create(int32_t ticksPerQuarter, std::vector<TempoChange> changes,
                                          uint32_t sampleRate) {
  if (ticksPerQuarter < 1 || ticksPerQuarter > kMaxTicksPerQuarter)
    throw std::invalid_argument("ticks per quarter note outside 1..32767");
  if (sampleRate < 1 || sampleRate > kMaxSampleRate)
    throw std::invalid_argument("sample rate outside 1..768000 Hz");
  for (const TempoChange& change : changes) {
    if (change.tick < 0) throw std::invalid_argument("a tempo change before tick 0");
    if (change.microsecondsPerQuarter < 1 ||
        change.microsecondsPerQuarter > kMaxMicrosecondsPerQuarter)
      throw std::invalid_argument("a tempo outside 1..16777215 microseconds per quarter note");
  }
  std::stable_sort(changes.begin(), changes.end(),
                   [](const TempoChange& a, const TempoChange& b) { return a.tick < b.tick; });
  std::vector<TempoChange> entries{{0, kDefaultMicrosecondsPerQuarter}};
  for (const TempoChange& change : changes) {
    if (change.tick == entries.back().tick)
      entries.back() = change;
    else
      entries.push_back(change);
  }
  return ComPtr<HostTimeline>(new HostTimeline(ticksPerQuarter, std::move(entries), sampleRate));
}

HostTimeline::HostTimeline(int32_t ticksPerQuarter, std::vector<TempoChange> entries,
                           uint32_t sampleRate)
    : ticksPerQuarter_(ticksPerQuarter), entries_(std::move(entries)), sampleRate_(sampleRate) {
  int64_t start = 0;
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    if (i > 0)
      start +=
          int64_t{entries_[i].tick - entries_[i - 1].tick} * entries_[i - 1].microsecondsPerQuarter;
    scaledStarts_.push_back(start);
  }
}

int32_t HostTimeline::EntryAtTick(int32_t tick) const {
  const auto after =
      std::upper_bound(entries_.begin(), entries_.end(), tick,
                       [](int32_t t, const TempoChange& entry) { return t < entry.tick; });
  return after == entries_.begin() ? 0 : static_cast<int32_t>(after - entries_.begin() - 1);
}

int64_t HostTimeline::ScaledAt(int32_t tick) const {
  // Before tick 0 the first tempo goes on backwards.
  const auto entry = static_cast<std::size_t>(EntryAtTick(tick));
  return scaledStarts_[entry] +
         int64_t{tick - entries_[entry].tick} * entries_[entry].microsecondsPerQuarter;
}

int32_t HostTimeline::MsAtTick(int32_t tick) const {
  return Saturate(FloorDiv(ScaledAt(tick), int64_t{ticksPerQuarter_} * 1000));
}

int64_t HostTimeline::SampleAtTick(int32_t tick) const {
  return MulDivFloor(ScaledAt(tick), sampleRate_,
                     int64_t{ticksPerQuarter_} * kMicrosecondsPerSecond);
}

int32_t HostTimeline::TickAtMs(int32_t ms) const {
  const int64_t scaled = int64_t{ms} * 1000 * ticksPerQuarter_;
  const auto after = std::upper_bound(scaledStarts_.begin(), scaledStarts_.end(), scaled);
  const auto entry = after == scaledStarts_.begin()
                         ? 0
                         : static_cast<std::size_t>(after - scaledStarts_.begin() - 1);
  return Saturate(entries_[entry].tick +
                  FloorDiv(scaled - scaledStarts_[entry], entries_[entry].microsecondsPerQuarter));
}

STDMETHODIMP HostTimeline::QueryInterface(REFIID riid, void** ppv) {
  if (ppv == nullptr) return E_POINTER;
  if (riid == IID_IUnknown || riid == IID_IHostTempoMap)
    *ppv = static_cast<IHostTempoMap*>(this);
  else if (riid == IID_IHostTimeConverter)
    *ppv = static_cast<IHostTimeConverter*>(this);
  else
    *ppv = nullptr;
  if (*ppv == nullptr) return E_NOINTERFACE;
  AddRef();
  return S_OK;
}

HRESULT HostTimeline::GetTempoEntry(LONG entry, LONG* first, LONG* tempo100) {
  if (first == nullptr || tempo100 == nullptr) return E_POINTER;
  if (entry < 0 || static_cast<std::size_t>(entry) >= entries_.size()) return E_INVALIDARG;
  const TempoChange& change = entries_[static_cast<std::size_t>(entry)];
  *first = change.tick;
  // 60 000 000 microseconds a minute, in hundredths of a beat.
  constexpr int64_t kHundredthsPerQuarter = 6'000'000'000;
  *tempo100 = Saturate((kHundredthsPerQuarter + change.microsecondsPerQuarter / 2) /
                       change.microsecondsPerQuarter);
  return S_OK;
}

HRESULT HostTimeline::ConvertTime(HostTimeRecord* record, uint32_t targetFormat) {
  if (record == nullptr) return E_POINTER;
  if (record->format == targetFormat) return S_OK;
  if (record->format != kHostTimeEventTime || targetFormat != kHostTimeSamples) return E_INVALIDARG;
  record->value = SampleAtTick(Saturate(record->value));
  record->format = kHostTimeSamples;
  return S_OK;
}

void HostEventList::AddNote(int32_t tick, uint8_t channel, uint8_t key, uint8_t velocity,
                            int32_t duration) {
  HostEvent event = EventOf(kHostNote, tick, channel);
  event.data[0] = key;
  event.data[1] = velocity;
  Put(event, 3, duration);
  Add(event);
}

void HostEventList::AddKeyAftertouch(int32_t tick, uint8_t channel, uint8_t key, uint8_t pressure) {
  HostEvent event = EventOf(kHostKeyAftertouch, tick, channel);
  event.data[0] = key;
  event.data[1] = pressure;
  Add(event);
}

void HostEventList::AddController(int32_t tick, uint8_t channel, uint8_t number, uint8_t value) {
  HostEvent event = EventOf(kHostController, tick, channel);
  event.data[0] = number;
  event.data[1] = value;
  Add(event);
}

void HostEventList::AddProgramChange(int32_t tick, uint8_t channel, uint8_t patch, int16_t bank) {
  HostEvent event = EventOf(kHostProgramChange, tick, channel);
  event.data[0] = patch;
  Put(event, 2, bank);
  Add(event);
}

void HostEventList::AddChannelAftertouch(int32_t tick, uint8_t channel, uint8_t pressure) {
  HostEvent event = EventOf(kHostChannelAftertouch, tick, channel);
  event.data[1] = pressure;
  Add(event);
}

void HostEventList::AddPitchWheel(int32_t tick, uint8_t channel, int16_t value) {
  HostEvent event = EventOf(kHostPitchWheel, tick, channel);
  Put(event, 0, value);
  Add(event);
}

void HostEventList::AddRpn(int32_t tick, uint8_t channel, uint16_t number, uint16_t value) {
  HostEvent event = EventOf(kHostRpn, tick, channel);
  Put(event, 0, number);
  Put(event, 2, value);
  Add(event);
}

void HostEventList::AddNrpn(int32_t tick, uint8_t channel, uint16_t number, uint16_t value) {
  HostEvent event = EventOf(kHostNrpn, tick, channel);
  Put(event, 0, number);
  Put(event, 2, value);
  Add(event);
}

void HostEventList::AddOffset(uint32_t type, int32_t tick, int8_t offset) {
  HostEvent event = EventOf(type, tick, 0);
  event.value = offset;
  Add(event);
}

void HostEventList::AddShortMessage(int32_t tick, uint8_t status, uint8_t data1, uint8_t data2) {
  HostEvent event = EventOf(kHostShortMessage, tick, 0);
  event.data[0] = status;
  event.data[1] = data1;
  event.data[2] = data2;
  Add(event);
}

ComPtr<ParamEditRecorder> ParamEditRecorder::Create() {
  return ComPtr<ParamEditRecorder>(new ParamEditRecorder);
}

std::vector<ParamGesture> ParamEditRecorder::Gestures() const {
  std::lock_guard<std::mutex> guard(lock_);
  return gestures_;
}

void ParamEditRecorder::Clear() {
  std::lock_guard<std::mutex> guard(lock_);
  gestures_.clear();
}

STDMETHODIMP ParamEditRecorder::QueryInterface(REFIID riid, void** ppv) {
  // Known to the filter only by the position of its methods: IUnknown is all it answers.
  if (ppv == nullptr) return E_POINTER;
  *ppv = riid == IID_IUnknown ? static_cast<IUnknown*>(this) : nullptr;
  if (*ppv == nullptr) return E_NOINTERFACE;
  AddRef();
  return S_OK;
}

HRESULT ParamEditRecorder::BeginParamEdit(LONG* indices, LONG count) {
  return Record(ParamGesture::Kind::Begin, indices, count, nullptr);
}

HRESULT ParamEditRecorder::ParamEdited(LONG* indices, LONG count, float* values) {
  if (values == nullptr && count > 0) return E_POINTER;
  return Record(ParamGesture::Kind::Edited, indices, count, values);
}

HRESULT ParamEditRecorder::EndParamEdit(LONG* indices, LONG count) {
  return Record(ParamGesture::Kind::End, indices, count, nullptr);
}

HRESULT ParamEditRecorder::Record(ParamGesture::Kind kind, const LONG* indices, LONG count,
                                  const float* values) {
  if (indices == nullptr && count > 0) return E_POINTER;
  if (count < 0) return E_INVALIDARG;
  try {
    std::lock_guard<std::mutex> guard(lock_);
    for (LONG i = 0; i < count; ++i)
      gestures_.push_back({kind, indices[i], values != nullptr ? values[i] : 0.0f});
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

}  // namespace brvst::host
