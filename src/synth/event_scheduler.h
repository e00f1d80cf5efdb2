// The soft-synth event queue: host events wait here, ahead of the audio they belong to, until the
// processing step reaches their sample position.
#pragma once

#include "platform/platform.h"
#include "synth/channel_tables.h"
#include "synth/host_objects.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace brvst {

/// Host event types. The intake queues 0-7 and 12-16 and drops the rest.
enum HostEventType : uint32_t {
  kHostNote = 0,
  kHostKeyAftertouch = 1,
  kHostController = 2,
  kHostProgramChange = 3,
  kHostChannelAftertouch = 4,
  kHostPitchWheel = 5,
  kHostRpn = 6,
  kHostNrpn = 7,
  kHostSetVelocityOffsetA = 12,
  kHostSetVelocityOffsetB = 13,
  kHostSetKeyOffsetA = 14,
  kHostSetKeyOffsetB = 15,
  kHostShortMessage = 16,
};

/// One host event as queued: the host's 17 bytes unchanged, then the key of its source.
#pragma pack(push, 1)
struct InputEvent {
  int32_t time;  // host event-time unit
  int8_t value;  // types 12-15: the offset to store
  uint8_t channel;
  uint32_t type;
  uint8_t data[7];
  uint32_t channelKey;

  static InputEvent FromHost(const HostEvent& host, uint32_t channelKey) {
    InputEvent event;
    std::memcpy(&event, &host, sizeof(HostEvent));
    event.channelKey = channelKey;
    return event;
  }
};
#pragma pack(pop)
static_assert(sizeof(InputEvent) == 21);
static_assert(offsetof(InputEvent, time) == offsetof(HostEvent, time));
static_assert(offsetof(InputEvent, value) == offsetof(HostEvent, value));
static_assert(offsetof(InputEvent, channel) == offsetof(HostEvent, channel));
static_assert(offsetof(InputEvent, type) == offsetof(HostEvent, type));
static_assert(offsetof(InputEvent, data) == offsetof(HostEvent, data));
static_assert(offsetof(InputEvent, channelKey) == sizeof(HostEvent));

/// OutputEvent kinds.
inline constexpr uint32_t kOutputMidi = 0;
inline constexpr uint32_t kOutputTimeJump = 1;
inline constexpr uint32_t kOutputStop = 2;
inline constexpr uint32_t kOutputProgram = 3;
/// channelKey of time jump and stop markers.
inline constexpr uint32_t kMarkerChannelKey = 0xFFFFFFFF;

/// What the processing step receives.
struct OutputEvent {
  uint32_t kind;
  int32_t sampleTime;  // absolute sample position
  uint32_t channelKey;
  uint8_t msg[4];  // MIDI: status, data 1, data 2, 0; program: 0, patch, bank, 0
  int32_t extra;   // time jump: where the timeline continues
};
static_assert(sizeof(OutputEvent) == 20);
static_assert(offsetof(OutputEvent, sampleTime) == 4);
static_assert(offsetof(OutputEvent, channelKey) == 8);
static_assert(offsetof(OutputEvent, msg) == 12);
static_assert(offsetof(OutputEvent, extra) == 16);

/// Orders host events by sample position and expands them into MIDI messages.
///
/// No lock of its own: the filter calls every operation under its stream lock. Input events are
/// kept per timeline segment (one per host time jump) in a heap keyed by (host time, arrival);
/// ready messages in one heap keyed by (sample time, insertion). Both give the order of sorted
/// lists with stable insertion, at O(log n) per event. Capacity is kept across Reset, so a
/// steady flow of events allocates nothing.
///
/// Memory that cannot be had for a new event drops that event whole (a note never loses its
/// note-off alone) and counts it in DroppedEventCount(); nothing throws.
class EventScheduler {
 public:
  /// Reads the offset tables and the sample rate through the references, which must outlive it.
  EventScheduler(ChannelKeyTables& tables, const DWORD& sampleRate);
  EventScheduler(const EventScheduler&) = delete;
  EventScheduler& operator=(const EventScheduler&) = delete;

  /// Host event time to absolute sample position: through the time converter, else the tempo
  /// map and the sample rate, else 0.
  int32_t ToSamples(int32_t time) const noexcept;
  /// Neither object is referenced here; the caller keeps them alive while they are set.
  void SetTempoMap(IHostTempoMap* tempoMap) noexcept { tempoMap_ = tempoMap; }
  void SetTimeConverter(IHostTimeConverter* converter) noexcept { timeConverter_ = converter; }
  IHostTempoMap* TempoMap() const noexcept { return tempoMap_; }
  IHostTimeConverter* TimeConverter() const noexcept { return timeConverter_; }

  /// Queues a host event; one due before the held event of the same segment is expanded at once.
  void AddInputEvent(const InputEvent& event) noexcept;
  /// Queues a ready message or marker at its sample time, after those of equal time. One due
  /// before the held event takes its place; the held event then waits ahead of its equal times.
  void InsertOutputEvent(const OutputEvent& event) noexcept;

  /// The next event without consuming it; false when nothing is pending.
  bool PeekNext(OutputEvent& out) noexcept {
    if (heldValid_) {
      out = held_;
      return true;
    }
    // Nothing waiting at all, the common case of an effect: answered here, per buffer.
    if (output_.empty() && segments_.front().empty()) return false;
    return TakeNext(out);
  }
  /// Consumes the held event and fetches the next; false when nothing is pending.
  bool TakeNext(OutputEvent& out) noexcept;

  /// Called when the processing step consumes a time jump marker: re-bases waiting messages
  /// (clamped to 0) and moves reading on to the segment begun after the jump.
  void AdvanceSegment(int32_t markerTime, int32_t newStart) noexcept;
  /// Called when the host announces a time jump: later input events belong to a new segment.
  void BeginNewSegment() noexcept;
  /// Drops every pending event; the offset tables are kept.
  void Reset() noexcept;

  int32_t ReadSegmentNumber() const noexcept { return readSegmentNumber_; }
  int32_t WriteSegmentNumber() const noexcept { return writeSegmentNumber_; }
  std::size_t PendingInputCount() const noexcept;
  std::size_t PendingOutputCount() const noexcept { return output_.size(); }
  uint64_t DroppedEventCount() const noexcept { return droppedEvents_; }

 private:
  struct QueuedInput {
    InputEvent event;
    uint64_t sequence;
  };
  struct QueuedOutput {
    OutputEvent event;
    int64_t sequence;
  };
  // A heap of QueuedInput; std heap functions keep it.
  using Segment = std::vector<QueuedInput>;

  bool ExpandEvent(const InputEvent& event) noexcept;
  void PushFrontOutputEvent(const OutputEvent& event) noexcept;
  void QueueOutput(const OutputEvent& event, int64_t sequence) noexcept;
  void PlaceHeld(const OutputEvent& event) noexcept;
  bool ReserveOutput(std::size_t count) noexcept;
  static bool ReserveInput(Segment& segment) noexcept;
  void RecycleSegment(Segment&& segment) noexcept;

  ChannelKeyTables& tables_;
  const DWORD& sampleRate_;
  IHostTempoMap* tempoMap_ = nullptr;
  IHostTimeConverter* timeConverter_ = nullptr;

  // Live segments: the read segment first, the write segment last. Segments the reader has
  // passed are emptied into spareSegments_ with their capacity.
  std::vector<Segment> segments_;
  std::vector<Segment> spareSegments_;
  std::vector<QueuedOutput> output_;
  int32_t readSegmentNumber_ = 0;
  int32_t writeSegmentNumber_ = 0;
  uint64_t nextInputSequence_ = 0;
  // Queued messages count up from 0; those queued ahead of equal times count down from -1.
  int64_t nextOutputSequence_ = 0;
  int64_t nextFrontSequence_ = -1;
  OutputEvent held_{};
  bool heldValid_ = false;
  uint64_t droppedEvents_ = 0;
};

}  // namespace brvst
