// The streaming heart of the filter: one media sample in, the plug-in's audio out on every
// connected output pin, with the soft-synth events due in the sample at their frames.
#include "filter/adapter_filter.h"
#include "filter/adapter_pins.h"
#include "filter/sample_convert.h"
#include "synth/event_scheduler.h"
#include "synth/time_units.h"
#include "vsthost/vst_plug_instance.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <optional>

namespace brvst {
namespace {

constexpr uint8_t kNrpnMsb = 99;
constexpr uint8_t kNrpnLsb = 98;
constexpr uint8_t kDataEntryMsb = 6;
constexpr uint8_t kDataEntryLsb = 38;
constexpr uint8_t kAllNotesOff = 123;

bool IsControlChange(uint8_t status) {
  return (status & 0xF0) == 0xB0;
}

// A message a muted source still sends: note-offs, and note-ons of velocity 0.
bool IsNoteOff(uint8_t status, uint8_t velocity) {
  return (status & 0xF0) == 0x80 || ((status & 0xF0) == 0x90 && velocity == 0);
}

int32_t FrameBytes(const WAVEFORMATEX& format) {
  return format.wBitsPerSample / 8 * format.nChannels;
}

// The times and flags of an incoming sample, for the new samples that carry its audio on: exactly
// what it has, no times where it has none. Read only when a new sample is needed: the sample
// passed on itself keeps its own.
struct SampleStamp {
  explicit SampleStamp(IMediaSample* sample)
      : discontinuity(sample->IsDiscontinuity() == S_OK),
        syncPoint(sample->IsSyncPoint() == S_OK),
        preroll(sample->IsPreroll() == S_OK) {
    const HRESULT times = sample->GetTime(&start, &end);
    hasStart = SUCCEEDED(times);
    hasEnd = times == S_OK;
    hasMediaTimes = sample->GetMediaTime(&mediaStart, &mediaEnd) == S_OK;
  }
  REFERENCE_TIME* Start() { return hasStart ? &start : nullptr; }
  REFERENCE_TIME* End() { return hasEnd ? &end : nullptr; }
  void CopyTo(IMediaSample* target) {
    target->SetDiscontinuity(discontinuity);
    target->SetSyncPoint(syncPoint);
    target->SetPreroll(preroll);
    target->SetTime(Start(), End());
    target->SetMediaTime(hasMediaTimes ? &mediaStart : nullptr,
                         hasMediaTimes ? &mediaEnd : nullptr);
  }

  bool discontinuity;
  bool syncPoint;
  bool preroll;
  bool hasStart = false, hasEnd = false, hasMediaTimes = false;
  REFERENCE_TIME start = 0, end = 0, mediaStart = 0, mediaEnd = 0;
};

}  // namespace

HRESULT AdapterFilter::ProcessSample(IMediaSample* sample, bool readOnly, bool typeChanged) {
  CAutoLock lock(&StreamLock);
  if (stopped_.load()) return VFW_E_WRONG_STATE;
  if (InputPin->IsFlushing()) return S_FALSE;
  if (Streaming == 0) {
    StartStreaming();
    ReserveBlockFor(sample);
  }
  if (segmentMoved_) {
    REFERENCE_TIME start = 0, end = 0;
    if (FAILED(sample->GetTime(&start, &end))) start = 0;
    RepositionAutomation(segmentStart_ + start);
    segmentMoved_ = false;
  }
  BYTE* data = nullptr;
  const LONG bytes = sample->GetActualDataLength();
  if (SUCCEEDED(sample->GetPointer(&data)) && data != nullptr)
    ProcessBuffer(data, bytes, sample, readOnly, typeChanged);
  return S_OK;
}

void AdapterFilter::ReserveBlockFor(IMediaSample* sample) {
  // Every sample of the stream comes from buffers of this one's size, so the plug-in hears the
  // largest block it will get before the audio starts. Growing it later resumes the plug-in,
  // which clears what it holds (echoes, filter states): the output would then depend on how the
  // source cuts its audio.
  // Buffers longer than a few seconds are no host's; the block grows for them as they come.
  constexpr int64_t kLongestReservedSeconds = 4;
  const int32_t frameBytes = FrameBytes(inputFormat_);
  if (frameBytes <= 0 || !Plugin || Plugin->effect == nullptr) return;
  const auto frames = static_cast<int32_t>(
      std::min<int64_t>(std::max<LONG>(sample->GetSize(), 0) / frameBytes,
                        kLongestReservedSeconds * StreamFormat.nSamplesPerSec));
  if (frames <= Plugin->blockSize) return;
  try {
    Plugin->Resume(1, static_cast<int32_t>(StreamFormat.nSamplesPerSec), frames);
  } catch (const std::bad_alloc&) {
    // Buffers too large to size up front: the block grows with the samples instead.
  }
}

void AdapterFilter::ProcessBuffer(BYTE* data, LONG byteCount, IMediaSample* sample, bool readOnly,
                                  bool typeChanged) {
  // 1. Set-up. Incoming data is read as the input pin's format; a sample before any format (or
  // with no whole frame) carries nothing to process.
  const WAVEFORMATEX& in = inputFormat_;
  const int32_t frameBytes = FrameBytes(in);
  if (frameBytes <= 0 || !Plugin || ChannelBufferCount < 2) return;
  const int32_t frames = std::max<LONG>(byteCount, 0) / frameBytes;
  int32_t remaining = frames;
  MidiEvents.numEvents = 0;

  // Room first: buffers grow (never shrink) for a longer buffer, and the plug-in's block size
  // with them. Either may run out of memory; nothing of the sample has been taken then, so its
  // events stay queued for the next one.
  if (frames > ChannelBufferFrames) AllocateChannelBuffers(ChannelBufferCount, frames);
  if (frames > Plugin->blockSize && Plugin->effect != nullptr)
    Plugin->Resume(1, static_cast<int32_t>(StreamFormat.nSamplesPerSec), frames);

  // 2. Events due in this buffer (none for a buffer without frames: they wait for the next).
  if (frames > 0) ProcessEvents(frames, remaining);

  // 3. Automation due before the end of this buffer.
  ApplyAutomation(sample, remaining);

  // 5. Input conversion into buffers 0 and 1; further plug-in inputs hear silence.
  ReadFrames(data, frames, in.wFormatTag == WAVE_FORMAT_IEEE_FLOAT, in.nChannels, ChannelBuffers[0],
             ChannelBuffers[1]);
  const int32_t inputs = Plugin->effect != nullptr ? Plugin->effect->numInputs : 0;
  for (int32_t c = 2; c < std::min(inputs, ChannelBufferCount); ++c)
    std::fill_n(ChannelBuffers[c], frames, 0.0f);

  // 6. The plug-in, once, in place.
  Plugin->Process(ChannelBuffers.get(), frames, MidiEvents.get());
  CompleteOutputs(frames);

  // 7. Output on every connected pin.
  Deliver(sample, frames, readOnly, typeChanged);

  // 8. The next buffer starts where this one ends. Only the streaming thread, under StreamLock,
  // writes the position, so a plain store does what an atomic add would, without its cost.
  StreamPosition.store(WrappingAdd(StreamPosition.load(std::memory_order_relaxed), remaining),
                       std::memory_order_relaxed);
}

void AdapterFilter::CompleteOutputs(int32_t frames) {
  // Without a plug-in the input passes through. With one, the first pin carries its first two
  // outputs; where it has fewer, a buffer it did not write would still hold the input.
  if (Plugin->effect == nullptr || Plugin->numOutputs >= 2) return;
  if (Plugin->numOutputs == 1) {
    // A mono instrument or effect is heard on both sides.
    std::copy_n(ChannelBuffers[0], frames, ChannelBuffers[1]);
  } else {
    std::fill_n(ChannelBuffers[0], frames, 0.0f);
    std::fill_n(ChannelBuffers[1], frames, 0.0f);
  }
}

void AdapterFilter::ProcessEvents(int32_t frames, int32_t& remaining) {
  int32_t jumpOffset = 0;
  OutputEvent event;
  if (!Events->PeekNext(event)) return;
  do {
    const int64_t position = StreamPosition.load(std::memory_order_relaxed);
    const int64_t rel = static_cast<int64_t>(event.sampleTime) - StreamOrigin.load();
    if (rel >= position + remaining) return;  // belongs to a later buffer; stays held
    // Where the event falls in this buffer, kept inside it and never before the last jump: an
    // event that was due before the jump sounds at the jump, not in the timeline left behind.
    const int64_t earliest = std::min(jumpOffset, frames - 1);
    const int64_t delta = std::clamp<int64_t>(rel - position + jumpOffset, earliest, frames - 1);
    switch (event.kind) {
      case kOutputMidi:
        QueueMidi(event.msg, event.channelKey, static_cast<int32_t>(delta));
        break;
      case kOutputTimeJump: {
        // The timeline continues elsewhere from here: later events of this buffer are placed
        // from the jump on. A late jump takes effect at the start of the buffer.
        const int32_t off = static_cast<int32_t>(std::clamp<int64_t>(rel - position, 0, remaining));
        remaining -= off;
        jumpOffset += off;
        Events->AdvanceSegment(event.sampleTime, event.extra);
        // A host's loop may land anywhere on its 32-bit timeline.
        StreamPosition.store(WrappingSub(event.extra, StreamOrigin.load()),
                             std::memory_order_relaxed);
        break;
      }
      case kOutputStop: {
        Events->Reset();
        // Whatever was gathered for this buffer is replaced by All Notes Off on every channel.
        for (int channel = 0; channel < 16; ++channel) {
          vst2::VstMidiEvent& e = midiBlocks_[channel];
          std::memset(&e, 0, sizeof e);
          e.type = vst2::kVstMidiType;
          e.byteSize = 24;
          e.deltaFrames = static_cast<int32_t>(delta);
          e.midiData[0] = static_cast<char>(0xB0 + channel);
          e.midiData[1] = static_cast<char>(kAllNotesOff);
        }
        MidiEvents.numEvents = 16;
        TransportChanged = 1;
        TransportStopped = 1;
        return;
      }
      case kOutputProgram:
        CurrentBank = event.msg[2];
        Plugin->SetProgram(event.msg[2] * 128 + event.msg[1]);
        break;
      default:
        break;
    }
  } while (Events->TakeNext(event));
}

void AdapterFilter::QueueMidi(const uint8_t* msg, uint32_t channelKey, int32_t deltaFrames) {
  const uint8_t status = msg[0], data1 = msg[1], data2 = msg[2];
  const bool muted = Keys.ChannelMute.Get(channelKey) != 0;
  if (MidiEvents.numEvents >= kMaxMidiEventsPerBuffer) return;

  if (Record->NrpnPassThrough == 0 && IsControlChange(status) &&
      (data1 == kNrpnMsb || data1 == kNrpnLsb || data1 == kDataEntryMsb ||
       data1 == kDataEntryLsb)) {
    // NRPNs address the plug-in's parameters directly; they never reach it as MIDI.
    if (muted) return;
    if (data1 == kNrpnMsb) {
      NrpnMsb = data2;
    } else if (data1 == kNrpnLsb) {
      NrpnLsb = data2;
    } else if (data1 == kDataEntryMsb) {
      const int32_t parameter = NrpnMsb * 128 + NrpnLsb;
      if (parameter < Plugin->numParams) Plugin->SetParameter(parameter, data2 * 0.0078125f);
    }
    return;
  }
  if (muted && !IsNoteOff(status, data2)) return;

  vst2::VstMidiEvent& e = midiBlocks_[MidiEvents.numEvents];
  std::memset(&e, 0, sizeof e);
  e.type = vst2::kVstMidiType;
  e.byteSize = 24;
  e.deltaFrames = deltaFrames;
  e.midiData[0] = static_cast<char>(status);
  e.midiData[1] = static_cast<char>(data1);
  e.midiData[2] = static_cast<char>(data2);
  ++MidiEvents.numEvents;
}

void AdapterFilter::ApplyAutomation(IMediaSample* sample, int32_t remaining) {
  REFERENCE_TIME start = 0, end = 0;
  sample->GetTime(&start, &end);
  int64_t limit;
  if (start != 0 && end != 0) {
    // Sample times count from the segment's start.
    limit = segmentStart_ + end;
  } else {
    // Without time stamps the filter keeps its own clock from the frames it has processed.
    if (StreamFormat.nSamplesPerSec == 0) return;
    AutomationClock += FramesToReferenceTime(remaining, StreamFormat.nSamplesPerSec);
    limit = AutomationClock;
  }
  while (AutomationCursor != AutomationPoints.end() && AutomationCursor->time < limit) {
    Plugin->SetParameter(AutomationCursor->index, AutomationCursor->value);
    ++AutomationCursor;
  }
}

void AdapterFilter::RepositionAutomation(int64_t position) {
  const auto firstDue =
      std::find_if(AutomationPoints.begin(), AutomationPoints.end(),
                   [position](const AutomationPoint& p) { return p.time >= position; });
  // Backwards from there, the first point met of each parameter is its last one before
  // `position`; the list keeps the point added last first among equal times, as it is applied.
  const int32_t parameters = std::max(Plugin->numParams, 0);
  if (repositioned_.size() < static_cast<size_t>(parameters)) repositioned_.resize(parameters);
  std::fill_n(repositioned_.begin(), parameters, uint8_t{0});
  for (auto it = firstDue; it != AutomationPoints.begin();) {
    --it;
    if (it->index < 0 || it->index >= parameters || repositioned_[it->index] != 0) continue;
    repositioned_[it->index] = 1;
    Plugin->SetParameter(it->index, it->value);
  }
  AutomationCursor = firstDue;
  AutomationClock = position;
}

void AdapterFilter::Deliver(IMediaSample* sample, int32_t frames, bool readOnly, bool typeChanged) {
  std::optional<SampleStamp> stamp;
  const int32_t inFrameBytes = FrameBytes(inputFormat_);

  for (int k = 0; k < OutputPinCount; ++k) {
    AdapterOutputPin* pin = OutputPins[k];
    if (pin == nullptr || !pin->IsConnected()) continue;
    const WAVEFORMATEX& out = pin->DeliveredFormat();
    const int32_t outFrameBytes = FrameBytes(out);
    if (outFrameBytes <= 0) continue;

    // The first pin passes the incoming sample on, rewritten, when the output fits in it and
    // upstream allows writing into it.
    IMediaSample* target = nullptr;
    const bool reuse = k == 0 && outFrameBytes <= inFrameBytes && !readOnly;
    if (reuse) {
      target = sample;
      // The type it arrived with was the input's; the output's did not change.
      if (typeChanged) target->SetMediaType(nullptr);
    } else {
      if (!stamp) stamp.emplace(sample);
      if (FAILED(pin->GetDeliveryBuffer(&target, stamp->Start(), stamp->End(), 0)) ||
          target == nullptr)
        continue;
      stamp->CopyTo(target);
    }
    BYTE* data = nullptr;
    if (SUCCEEDED(target->GetPointer(&data)) && data != nullptr) {
      // Never past the end of the sample's buffer, however small the peer made it.
      const int32_t room = std::max<LONG>(target->GetSize(), 0) / outFrameBytes;
      const int32_t written = std::min(frames, room);
      // The pin of an odd last output carries it on both sides.
      const int32_t right = k > 0 && 2 * k + 1 >= Plugin->numOutputs ? 2 * k : 2 * k + 1;
      if (WriteFrames(ChannelBuffers[2 * k], ChannelBuffers[right], written, out.wBitsPerSample,
                      out.nChannels, data)) {
        target->SetActualDataLength(written * outFrameBytes);
        pin->Deliver(target);
      }
    }
    if (!reuse) target->Release();
  }
}

}  // namespace brvst
