// Soft-synth intake: the bytes are read as a host's calls into ISynthInstrument and
// IChannelSettings of a filter wrapping the probe synth, with media samples processed in between
// and at the end. Times, types and payloads are taken as they come, so every clamp, sort and
// re-base of the queue meets what a careless host could send.
//
// Each call starts with one byte: its low three bits choose the call, the rest its size.
//   0 ProcessEvents        n = 1 + (byte >> 3) % 16 records of 17 bytes, a channel key byte first
//   1 ProcessMidiMessages  n = 1 + (byte >> 3) % 16 records of 8 bytes, a channel key byte first
//   2 SetChannelSetting    10 bytes
//   3 OnTimeJump           two int32 (new time, jump time)
//   4 OnStop
//   5 OnStart              one int32
//   6 a media sample       n * 32 frames
//   7 Connect or Disconnect the host's timeline, by the byte's fourth bit
#include "host/synth_host.h"
#include "synth/event_scheduler.h"
#include "tests/vsthost/probe_harness.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

using namespace brvst;

constexpr int kMaxFrames = 32 * 16;

class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool Empty() const { return at_ >= size_; }
  uint8_t Byte() { return at_ < size_ ? data_[at_++] : 0; }
  // Short reads are padded with zeros: a truncated call is still a call.
  void Bytes(void* out, size_t count) {
    const size_t available = std::min(count, size_ - std::min(at_, size_));
    std::memset(out, 0, count);
    if (available > 0) std::memcpy(out, data_ + at_, available);
    at_ += count;
  }
  int32_t Int32() {
    int32_t value;
    Bytes(&value, sizeof value);
    return value;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

using EventRecords = host::RecordList<IHostEventList, HostEvent>;
using MessageRecords = host::RecordList<IHostMessageList, HostMessage>;

// One filter for the whole run: building one loads the probe, far slower than an input.
struct Rig {
  Rig() : probe("probe_synth.dll"), sample(kMaxFrames * 8) {
    test::SetFormat(*probe.filter, 0, 44100);
    test::SetFormat(*probe.filter, 1, 44100);
    probe.filter->QueryInterface(IID_ISynthInstrument, instrument.putVoid());
    probe.filter->QueryInterface(IID_IChannelSettings, settings.putVoid());
    timeline = host::HostTimeline::Create(96, {{0, 500000}, {384, 300000}}, 44100);
    probe.filter->Pause();
  }
  void Process(int frames) {
    sample.sample->SetActualDataLength(frames * 8);
    probe.filter->ProcessSample(sample.get());
  }

  test::ProbeFilter probe;
  test::LooseSample sample;
  ComPtr<ISynthInstrument> instrument;
  ComPtr<IChannelSettings> settings;
  ComPtr<host::HostTimeline> timeline;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Rig& rig = *new Rig;  // kept for the process: the probe stays loaded
  ISynthInstrument& instrument = *rig.instrument;
  instrument.Connect(static_cast<IHostTempoMap*>(rig.timeline.get()));
  instrument.OnStart(0);

  Reader in(data, size);
  while (!in.Empty()) {
    const uint8_t op = in.Byte();
    const int count = 1 + (op >> 3) % 16;
    switch (op & 7) {
      case 0: {
        ComPtr<EventRecords> list(new EventRecords);
        const uint8_t key = in.Byte();
        for (int i = 0; i < count; ++i) {
          HostEvent event;
          in.Bytes(&event, sizeof event);
          list->Add(event);
        }
        instrument.ProcessEvents(0, 0, key, list.get());
        break;
      }
      case 1: {
        ComPtr<MessageRecords> list(new MessageRecords);
        const uint8_t key = in.Byte();
        for (int i = 0; i < count; ++i) {
          HostMessage message;
          in.Bytes(&message, sizeof message);
          list->Add(message);
        }
        instrument.ProcessMidiMessages(key, list.get());
        break;
      }
      case 2: {
        ChannelSetting setting;
        in.Bytes(&setting, sizeof setting);
        // Sources are few: the one filter of the run keeps every key it is told of.
        setting.channelKey &= 0xFF;
        rig.settings->SetChannelSetting(&setting);
        break;
      }
      case 3: {
        const int32_t newTime = in.Int32();
        instrument.OnTimeJump(newTime, in.Int32());
        break;
      }
      case 4:
        instrument.OnStop(0);
        break;
      case 5:
        instrument.OnStart(in.Int32());
        break;
      case 6:
        rig.Process(count * 16 * 2);
        break;
      default:
        if ((op & 8) != 0)
          instrument.Disconnect();
        else
          instrument.Connect(static_cast<IHostTempoMap*>(rig.timeline.get()));
        break;
    }
  }
  rig.Process(kMaxFrames);
  rig.Process(kMaxFrames);
  instrument.OnStop(0);
  rig.Process(16);
  instrument.Disconnect();
  return 0;
}
