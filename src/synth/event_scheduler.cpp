#include "synth/event_scheduler.h"

#include "synth/time_units.h"

#include <algorithm>
#include <limits>
#include <new>
#include <utility>

namespace brvst {
namespace {

// Room a segment or the message heap starts with; both grow geometrically beyond it.
constexpr std::size_t kInitialCapacity = 256;
// Messages one expansion may add to the heap: three RPN follow-ups, plus the held event it
// displaces when it arrives early.
constexpr std::size_t kExpansionRoom = 4;

constexpr int32_t kInt32Max = std::numeric_limits<int32_t>::max();

// Heap orders: std heaps keep the greatest element first, so "later" puts the earliest there.
struct LaterInput {
  template <typename Queued>
  bool operator()(const Queued& a, const Queued& b) const {
    const int32_t timeA = a.event.time;
    const int32_t timeB = b.event.time;
    return timeA != timeB ? timeA > timeB : a.sequence > b.sequence;
  }
};

struct LaterOutput {
  template <typename Queued>
  bool operator()(const Queued& a, const Queued& b) const {
    return a.event.sampleTime != b.event.sampleTime ? a.event.sampleTime > b.event.sampleTime
                                                    : a.sequence > b.sequence;
  }
};

uint8_t Clamp7(int64_t value) {
  return static_cast<uint8_t>(std::clamp<int64_t>(value, 0, 127));
}

template <typename T>
T ReadPayload(const uint8_t* bytes) {
  T value;
  std::memcpy(&value, bytes, sizeof(T));
  return value;
}

OutputEvent Message(int32_t sampleTime, uint32_t channelKey, uint8_t status, uint8_t data1,
                    uint8_t data2) {
  return OutputEvent{kOutputMidi, sampleTime, channelKey, {status, data1, data2, 0}, 0};
}

template <typename Vector>
bool ReserveFor(Vector& vector, std::size_t count) noexcept {
  if (vector.capacity() - vector.size() >= count) return true;
  try {
    vector.reserve(std::max({vector.capacity() * 2, vector.size() + count, kInitialCapacity}));
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

}  // namespace

EventScheduler::EventScheduler(ChannelKeyTables& tables, const DWORD& sampleRate)
    : tables_(tables), sampleRate_(sampleRate) {
  segments_.reserve(4);
  spareSegments_.reserve(4);
  segments_.emplace_back().reserve(kInitialCapacity);
  output_.reserve(kInitialCapacity);
}

int32_t EventScheduler::ToSamples(int32_t time) const noexcept {
  if (timeConverter_ != nullptr) {
    HostTimeRecord record{kHostTimeEventTime, 0, time};
    // A failing converter leaves the record as it was; its result is not examined.
    timeConverter_->ConvertTime(&record, kHostTimeSamples);
    return static_cast<int32_t>(record.value);
  }
  if (tempoMap_ != nullptr) {
    const LONG ms = tempoMap_->MsFromEventTime(time);
    return MsToFrames(ms, sampleRate_);
  }
  return 0;
}

void EventScheduler::AddInputEvent(const InputEvent& event) noexcept {
  // Due before the event the processing step holds back for a later buffer: it must not wait
  // behind it. Across a pending time jump the held event belongs to the old timeline, so a new
  // event never overtakes it then.
  if (heldValid_ && segments_.size() == 1 && ToSamples(event.time) < held_.sampleTime) {
    if (!ReserveOutput(kExpansionRoom)) {
      ++droppedEvents_;
      return;
    }
    const OutputEvent displaced = held_;
    if (ExpandEvent(event)) QueueOutput(displaced, nextFrontSequence_--);
    return;
  }
  Segment& segment = segments_.back();
  if (!ReserveInput(segment)) {
    ++droppedEvents_;
    return;
  }
  segment.push_back({event, nextInputSequence_++});
  std::push_heap(segment.begin(), segment.end(), LaterInput{});
}

void EventScheduler::InsertOutputEvent(const OutputEvent& event) noexcept {
  if (!ReserveOutput(1)) {
    ++droppedEvents_;
    return;
  }
  if (heldValid_ && event.sampleTime < held_.sampleTime) {
    const OutputEvent displaced = held_;
    held_ = event;
    QueueOutput(displaced, nextFrontSequence_--);
  } else {
    QueueOutput(event, nextOutputSequence_++);
  }
}

// Only for follow-ups due no later than every waiting message: then "ahead of those of equal
// time" is the head of the queue.
void EventScheduler::PushFrontOutputEvent(const OutputEvent& event) noexcept {
  if (!ReserveOutput(1)) {
    ++droppedEvents_;
    return;
  }
  QueueOutput(event, nextFrontSequence_--);
}

// Sequence numbers from nextOutputSequence_ queue behind waiting messages of equal time; those
// from nextFrontSequence_ ahead of them. A held event that something earlier displaces goes
// ahead: it was due no later than any waiting message, so it returns to where it stood, and
// neither overtakes nor splits from the messages queued after it (an RPN's follow-ups).
void EventScheduler::QueueOutput(const OutputEvent& event, int64_t sequence) noexcept {
  output_.push_back({event, sequence});
  std::push_heap(output_.begin(), output_.end(), LaterOutput{});
}

void EventScheduler::PlaceHeld(const OutputEvent& event) noexcept {
  held_ = event;
  heldValid_ = true;
}

// The caller has reserved kExpansionRoom messages, so nothing queued here can be dropped.
bool EventScheduler::ExpandEvent(const InputEvent& event) noexcept {
  const uint32_t key = event.channelKey;
  const uint8_t channel = event.channel & 0x0F;
  const uint8_t* data = event.data;
  const auto storeOffset = [&](KeyTable& table) {
    try {
      table.Set(key, event.value);
    } catch (const std::bad_alloc&) {
      ++droppedEvents_;
    }
    return false;
  };

  switch (event.type) {
    case kHostNote: {
      const int64_t keyOffset =
          int64_t{tables_.KeyOffsetA.Get(key)} + int64_t{tables_.KeyOffsetB.Get(key)};
      const int64_t velocityOffset =
          int64_t{tables_.VelocityOffsetA.Get(key)} + int64_t{tables_.VelocityOffsetB.Get(key)};
      const uint8_t note = Clamp7(data[0] + keyOffset);
      const uint8_t velocity = Clamp7(data[1] + velocityOffset);
      const int32_t duration = ReadPayload<int32_t>(data + 3);
      PlaceHeld(Message(ToSamples(event.time), key, 0x90 | channel, note, velocity));
      // Sorted among the waiting messages; a negative duration swaps it ahead of its note-on.
      InsertOutputEvent(
          Message(ToSamples(WrappingAdd(event.time, duration)), key, 0x80 | channel, note, 0));
      return true;
    }
    // Data bytes of the messages built here never have their top bit set: a plug-in would read
    // one as a status byte.
    case kHostKeyAftertouch:
      PlaceHeld(
          Message(ToSamples(event.time), key, 0xA0 | channel, Clamp7(data[0]), Clamp7(data[1])));
      return true;
    case kHostController:
      PlaceHeld(
          Message(ToSamples(event.time), key, 0xB0 | channel, Clamp7(data[0]), Clamp7(data[1])));
      return true;
    case kHostProgramChange: {
      const int16_t bank = ReadPayload<int16_t>(data + 2);
      const uint8_t bankByte = bank < 0 ? 0 : static_cast<uint8_t>(bank & 0xFF);
      // A patch past 127 would select a program of the next bank.
      PlaceHeld(OutputEvent{
          kOutputProgram, ToSamples(event.time), key, {0, Clamp7(data[0]), bankByte, 0}, 0});
      return true;
    }
    case kHostChannelAftertouch:
      PlaceHeld(Message(ToSamples(event.time), key, 0xD0 | channel, Clamp7(data[1]), 0));
      return true;
    case kHostPitchWheel: {
      // Outside the wheel's 14 bits a value would split into negative or oversized bytes.
      const int value = std::clamp<int>(ReadPayload<int16_t>(data), -8192, 8191) + 0x2000;
      PlaceHeld(Message(ToSamples(event.time), key, 0xE0 | channel,
                        static_cast<uint8_t>(value & 0x7F), static_cast<uint8_t>(value >> 7)));
      return true;
    }
    case kHostRpn:
    case kHostNrpn: {
      const bool registered = event.type == kHostRpn;
      const uint16_t number = ReadPayload<uint16_t>(data);
      const uint16_t value = ReadPayload<uint16_t>(data + 2);
      const int32_t time = ToSamples(event.time);
      const uint8_t status = 0xB0 | channel;
      // Seven bits each: a 16-bit number or value keeps its low 14 bits.
      PlaceHeld(Message(time, key, status, registered ? 101 : 99, (number >> 7) & 0x7F));
      // Pushed in reverse: they leave right after the held message as number LSB, data entry
      // MSB, data entry LSB.
      PushFrontOutputEvent(Message(time, key, status, 38, value & 0x7F));
      PushFrontOutputEvent(Message(time, key, status, 6, (value >> 7) & 0x7F));
      PushFrontOutputEvent(Message(time, key, status, registered ? 100 : 98, number & 0x7F));
      return true;
    }
    case kHostSetVelocityOffsetA:
      return storeOffset(tables_.VelocityOffsetA);
    case kHostSetVelocityOffsetB:
      return storeOffset(tables_.VelocityOffsetB);
    case kHostSetKeyOffsetA:
      return storeOffset(tables_.KeyOffsetA);
    case kHostSetKeyOffsetB:
      return storeOffset(tables_.KeyOffsetB);
    case kHostShortMessage:
      // The status keeps its own channel; the data bytes are held to seven bits as above.
      PlaceHeld(Message(ToSamples(event.time), key, data[0], Clamp7(data[1]), Clamp7(data[2])));
      return true;
    default:
      return false;
  }
}

bool EventScheduler::TakeNext(OutputEvent& out) noexcept {
  heldValid_ = false;
  for (;;) {
    Segment& segment = segments_.front();
    const bool haveInput = !segment.empty();
    const bool haveOutput = !output_.empty();
    if (!haveInput && !haveOutput) return false;
    // Times compare as they are: an event at a negative sample time is simply due at once, and
    // never stands in the way of those behind it. On equal times the ready message goes first.
    if (haveInput &&
        (!haveOutput || ToSamples(segment.front().event.time) < output_.front().event.sampleTime)) {
      std::pop_heap(segment.begin(), segment.end(), LaterInput{});
      const InputEvent event = segment.back().event;
      segment.pop_back();
      if (!ReserveOutput(kExpansionRoom)) {
        ++droppedEvents_;
        continue;
      }
      if (ExpandEvent(event)) break;
    } else {
      std::pop_heap(output_.begin(), output_.end(), LaterOutput{});
      PlaceHeld(output_.back().event);
      output_.pop_back();
      break;
    }
  }
  out = held_;
  return true;
}

void EventScheduler::AdvanceSegment(int32_t markerTime, int32_t newStart) noexcept {
  // The held event is the marker being handled. It belongs to the old timeline: nothing may put
  // it back among the re-based messages.
  heldValid_ = false;

  const int64_t shift = int64_t{markerTime} - int64_t{newStart};
  if (shift != 0 && !output_.empty()) {
    // One shift for all keeps their order, but clamping can make different times equal; the
    // order is written into the sequence numbers. A sorted array is a valid heap.
    std::sort(output_.begin(), output_.end(),
              [](const QueuedOutput& a, const QueuedOutput& b) { return LaterOutput{}(b, a); });
    int64_t sequence = 0;
    for (QueuedOutput& queued : output_) {
      queued.event.sampleTime =
          static_cast<int32_t>(std::clamp<int64_t>(queued.event.sampleTime - shift, 0, kInt32Max));
      queued.sequence = sequence++;
    }
    nextOutputSequence_ = sequence;
  }

  // A marker without a segment of its own (one that could not be had, or a marker from
  // elsewhere) re-bases the messages only: reading stays in the last segment.
  if (segments_.size() > 1) {
    RecycleSegment(std::move(segments_.front()));
    segments_.erase(segments_.begin());
    ++readSegmentNumber_;
  }
}

void EventScheduler::BeginNewSegment() noexcept {
  try {
    if (spareSegments_.empty()) {
      Segment fresh;
      fresh.reserve(kInitialCapacity);
      segments_.push_back(std::move(fresh));
    } else {
      segments_.push_back(std::move(spareSegments_.back()));
      spareSegments_.pop_back();
    }
    ++writeSegmentNumber_;
  } catch (const std::bad_alloc&) {
    // Events after the jump then share the current segment.
    ++droppedEvents_;
  }
}

void EventScheduler::Reset() noexcept {
  while (segments_.size() > 1) {
    RecycleSegment(std::move(segments_.back()));
    segments_.pop_back();
  }
  segments_.front().clear();
  output_.clear();
  readSegmentNumber_ = 0;
  writeSegmentNumber_ = 0;
  nextInputSequence_ = 0;
  nextOutputSequence_ = 0;
  nextFrontSequence_ = -1;
  held_ = OutputEvent{};
  heldValid_ = false;
}

std::size_t EventScheduler::PendingInputCount() const noexcept {
  std::size_t count = 0;
  for (const Segment& segment : segments_) count += segment.size();
  return count;
}

bool EventScheduler::ReserveOutput(std::size_t count) noexcept {
  return ReserveFor(output_, count);
}

bool EventScheduler::ReserveInput(Segment& segment) noexcept {
  return ReserveFor(segment, 1);
}

void EventScheduler::RecycleSegment(Segment&& segment) noexcept {
  segment.clear();
  try {
    spareSegments_.push_back(std::move(segment));
  } catch (const std::bad_alloc&) {
    // Not kept for reuse: the segment is freed with its place in segments_.
  }
}

}  // namespace brvst
