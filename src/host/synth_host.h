// The objects a soft-synth host hands to an instrument filter: a timeline (tempo map and time
// converter in one object, as the host passes it to ISynthInstrument::Connect), lists of events
// and of raw MIDI messages, and a parameter-edit object that records the gestures it receives.
//
// Event times are MIDI ticks. Every conversion is an exact integer ratio, truncated toward
// negative infinity, so that each build converts alike.
#pragma once

#include "dshow/com_ptr.h"
#include "synth/host_objects.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace brvst::host {

/// A COM object with its own count, starting at 0; the last Release deletes it. QueryInterface
/// is the object's.
template <class... Interfaces>
class CountedObject : public Interfaces... {
 public:
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++refs_); }
  STDMETHODIMP_(ULONG) Release() override {
    const LONG refs = --refs_;
    if (refs == 0) delete this;
    return static_cast<ULONG>(refs);
  }

 protected:
  virtual ~CountedObject() = default;

 private:
  std::atomic<LONG> refs_{0};
};

/// A tempo change: from `tick` on, a quarter note lasts `microsecondsPerQuarter`.
struct TempoChange {
  int32_t tick;
  int32_t microsecondsPerQuarter;
};

/// The host's timeline: a MIDI file's tempo map and the conversion of its ticks to samples.
class HostTimeline final : public CountedObject<IHostTempoMap, IHostTimeConverter> {
 public:
  static constexpr int32_t kDefaultMicrosecondsPerQuarter = 500000;  // 120 beats per minute
  static constexpr int32_t kMaxTicksPerQuarter = 0x7FFF;             // a MIDI file's division
  static constexpr int32_t kMaxMicrosecondsPerQuarter = 0xFFFFFF;
  static constexpr uint32_t kMaxSampleRate = 768000;

  /// `changes` in any order (of two at one tick the later in the list holds); before the first
  /// change at tick 0 the tempo is 120. Throws std::invalid_argument for a division outside
  /// 1..kMaxTicksPerQuarter, a change at a negative tick or with a tempo outside
  /// 1..kMaxMicrosecondsPerQuarter, or a sample rate outside 1..kMaxSampleRate.
  static ComPtr<HostTimeline> Create(int32_t ticksPerQuarter, std::vector<TempoChange> changes,
                                     uint32_t sampleRate);

  /// Whole milliseconds, frames and ticks at a time; results saturate at the int32 range.
  int32_t MsAtTick(int32_t tick) const;
  int32_t TickAtMs(int32_t ms) const;
  int64_t SampleAtTick(int32_t tick) const;
  /// The tempo entry in force at `tick` (entry 0 before the first change).
  int32_t EntryAtTick(int32_t tick) const;
  /// Tempo changes as entries: the first one always starts at tick 0.
  const std::vector<TempoChange>& Entries() const { return entries_; }
  uint32_t SampleRate() const { return sampleRate_; }

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;

  // IHostTempoMap, in slot order.
  LONG STDMETHODCALLTYPE MsFromEventTime(LONG eventTime) override { return MsAtTick(eventTime); }
  LONG STDMETHODCALLTYPE TicksFromMs(LONG ms) override { return TickAtMs(ms); }
  LONG STDMETHODCALLTYPE TicksPerQuarter() override { return ticksPerQuarter_; }
  LONG STDMETHODCALLTYPE TempoEntryAt(LONG ticks) override { return EntryAtTick(ticks); }
  HRESULT STDMETHODCALLTYPE Reserved5() override { return E_NOTIMPL; }
  // The entry's first tick and its tempo in hundredths of a beat per minute, rounded.
  HRESULT STDMETHODCALLTYPE GetTempoEntry(LONG entry, LONG* first, LONG* tempo100) override;

  // IHostTimeConverter: event time (ticks) to samples; a record already in the target format
  // stays as it is; other conversions E_INVALIDARG.
  HRESULT STDMETHODCALLTYPE ConvertTime(HostTimeRecord* record, uint32_t targetFormat) override;

 private:
  HostTimeline(int32_t ticksPerQuarter, std::vector<TempoChange> entries, uint32_t sampleRate);
  // Time at a tick in microseconds times ticksPerQuarter_: exact for every tick.
  int64_t ScaledAt(int32_t tick) const;

  int32_t ticksPerQuarter_;
  std::vector<TempoChange> entries_;
  std::vector<int64_t> scaledStarts_;  // ScaledAt of each entry's first tick
  uint32_t sampleRate_;
};

/// A list the filter reads by count and index, as the host hands lists over: a plain pointer
/// that answers IUnknown and nothing more.
template <class Interface, class Record>
class RecordList : public CountedObject<Interface> {
 public:
  void Add(const Record& record) { records_.push_back(record); }
  void Clear() { records_.clear(); }
  std::size_t Size() const { return records_.size(); }
  const Record& operator[](std::size_t i) const { return records_[i]; }

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {
    if (ppv == nullptr) return E_POINTER;
    *ppv = riid == IID_IUnknown ? static_cast<IUnknown*>(this) : nullptr;
    if (*ppv == nullptr) return E_NOINTERFACE;
    this->AddRef();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Reserved1() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetCount(LONG* count) override {
    if (count == nullptr) return E_POINTER;
    *count = static_cast<LONG>(records_.size());
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetAt(LONG index, Record* record) override {
    if (record == nullptr) return E_POINTER;
    if (index < 0 || static_cast<std::size_t>(index) >= records_.size()) return E_INVALIDARG;
    *record = records_[static_cast<std::size_t>(index)];
    return S_OK;
  }

 private:
  std::vector<Record> records_;
};

/// Events for ISynthInstrument::ProcessEvents, times and durations in ticks.
class HostEventList final : public RecordList<IHostEventList, HostEvent> {
 public:
  static ComPtr<HostEventList> Create() { return ComPtr<HostEventList>(new HostEventList); }

  void AddNote(int32_t tick, uint8_t channel, uint8_t key, uint8_t velocity, int32_t duration);
  void AddKeyAftertouch(int32_t tick, uint8_t channel, uint8_t key, uint8_t pressure);
  void AddController(int32_t tick, uint8_t channel, uint8_t number, uint8_t value);
  /// A negative bank leaves the bank as it is.
  void AddProgramChange(int32_t tick, uint8_t channel, uint8_t patch, int16_t bank = -1);
  void AddChannelAftertouch(int32_t tick, uint8_t channel, uint8_t pressure);
  /// -8192..8191, 0 the centre.
  void AddPitchWheel(int32_t tick, uint8_t channel, int16_t value);
  void AddRpn(int32_t tick, uint8_t channel, uint16_t number, uint16_t value);
  void AddNrpn(int32_t tick, uint8_t channel, uint16_t number, uint16_t value);
  /// Types 12-15: the source's velocity offset A or B, key offset A or B.
  void AddOffset(uint32_t type, int32_t tick, int8_t offset);
  void AddShortMessage(int32_t tick, uint8_t status, uint8_t data1, uint8_t data2);

 private:
  HostEventList() = default;
};

/// Raw MIDI short messages for ISynthInstrument::ProcessMidiMessages, times in ticks.
class HostMessageList final : public RecordList<IHostMessageList, HostMessage> {
 public:
  static ComPtr<HostMessageList> Create() { return ComPtr<HostMessageList>(new HostMessageList); }

  using RecordList::Add;
  void Add(int32_t tick, uint8_t status, uint8_t data1, uint8_t data2) {
    Add({tick, uint32_t{status} | uint32_t{data1} << 8 | uint32_t{data2} << 16});
  }

 private:
  HostMessageList() = default;
};

/// One edit gesture as the host received it.
struct ParamGesture {
  enum class Kind { Begin, Edited, End };
  Kind kind;
  int32_t index;
  float value;  // Edited only
  bool operator==(const ParamGesture&) const = default;
};

/// The parameter-edit object handed to the filter through IHostObjectSink. Gestures may arrive
/// from the streaming thread and the editor's thread; each is recorded whole.
class ParamEditRecorder final : public CountedObject<IHostParamEdit> {
 public:
  static ComPtr<ParamEditRecorder> Create();

  std::vector<ParamGesture> Gestures() const;
  void Clear();

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  HRESULT STDMETHODCALLTYPE BeginParamEdit(LONG* indices, LONG count) override;
  HRESULT STDMETHODCALLTYPE ParamEdited(LONG* indices, LONG count, float* values) override;
  HRESULT STDMETHODCALLTYPE EndParamEdit(LONG* indices, LONG count) override;

 private:
  ParamEditRecorder() = default;
  HRESULT Record(ParamGesture::Kind kind, const LONG* indices, LONG count, const float* values);

  mutable std::mutex lock_;
  std::vector<ParamGesture> gestures_;
};

}  // namespace brvst::host
