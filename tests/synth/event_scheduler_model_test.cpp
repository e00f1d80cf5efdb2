// The scheduler against a plain model of the documented list algorithms, over long random runs of
// host intake and buffer processing.
#include "synth/event_scheduler.h"

#include "fake_host_time.h"
#include "scheduler_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <iterator>
#include <list>
#include <ostream>
#include <random>
#include <string>
#include <vector>

namespace brvst::test {
namespace {

// Sorted lists with linear insertion, step by step as documented, with two amendments the
// scheduler makes: negative sample times are due at once (not "none"), and a held event that an
// earlier one displaces goes back ahead of the waiting messages of its time.
class ListModel {
 public:
  ListModel(ChannelKeyTables& tables, std::function<int32_t(int32_t)> toSamples)
      : tables_(tables), toSamples_(std::move(toSamples)) {
    Reset();
  }

  void AddInputEvent(const InputEvent& ev) {
    if (heldValid_ && toSamples_(ev.time) < held_.sampleTime && read_ == write_) {
      const OutputEvent copy = held_;
      if (ExpandEvent(ev)) InsertAhead(copy);
      return;
    }
    auto position = write_->end();
    while (position != write_->begin() && std::prev(position)->time > ev.time) --position;
    write_->insert(position, ev);
  }

  void InsertOutputEvent(OutputEvent e) {
    if (heldValid_ && e.sampleTime < held_.sampleTime) {
      std::swap(e, held_);
      InsertAhead(e);
      return;
    }
    auto position = output_.end();
    while (position != output_.begin() && std::prev(position)->sampleTime > e.sampleTime) {
      --position;
    }
    output_.insert(position, e);
  }

  bool PeekNext(OutputEvent& out) {
    if (!heldValid_) return TakeNext(out);
    out = held_;
    return true;
  }

  bool TakeNext(OutputEvent& out) {
    heldValid_ = false;
    for (;;) {
      const bool haveIn = !read_->empty();
      const bool haveOut = !output_.empty();
      if (!haveIn && !haveOut) return false;
      if (!haveOut || (haveIn && toSamples_(read_->front().time) < output_.front().sampleTime)) {
        const InputEvent ev = read_->front();
        read_->pop_front();
        if (ExpandEvent(ev)) break;
      } else {
        held_ = output_.front();
        heldValid_ = true;
        output_.pop_front();
        break;
      }
    }
    out = held_;
    return true;
  }

  void AdvanceSegment(int32_t markerTime, int32_t newStart) {
    for (OutputEvent& e : output_) {
      e.sampleTime = static_cast<int32_t>(
          std::clamp<int64_t>(int64_t{e.sampleTime} - markerTime + newStart, 0, INT32_MAX));
    }
    ++read_;
  }

  void BeginNewSegment() {
    segments_.emplace_back();
    ++write_;
  }

  void Reset() {
    segments_.assign(1, {});
    read_ = write_ = segments_.begin();
    output_.clear();
    held_ = {};
    heldValid_ = false;
  }

 private:
  void InsertAhead(const OutputEvent& e) {
    auto position = output_.begin();
    while (position != output_.end() && position->sampleTime < e.sampleTime) ++position;
    output_.insert(position, e);
  }

  void Hold(const OutputEvent& e) {
    held_ = e;
    heldValid_ = true;
  }

  // The types the random run sends; their bytes are checked type by type elsewhere.
  bool ExpandEvent(const InputEvent& ev) {
    const uint32_t k = ev.channelKey;
    const int32_t t = toSamples_(ev.time);
    const auto ch = static_cast<uint8_t>(ev.channel & 0x0F);
    auto clamp = [](int64_t v) { return static_cast<uint8_t>(std::clamp<int64_t>(v, 0, 127)); };
    auto msg = [&](int32_t time, int status, int d1, int d2) {
      return OutputEvent{kOutputMidi, time, k, {uint8_t(status), uint8_t(d1), uint8_t(d2), 0}, 0};
    };
    int32_t duration;
    uint16_t number, value;
    std::memcpy(&duration, ev.data + 3, 4);
    std::memcpy(&number, ev.data, 2);
    std::memcpy(&value, ev.data + 2, 2);
    switch (ev.type) {
      case kHostNote: {
        const uint8_t key =
            clamp(int64_t{ev.data[0]} + tables_.KeyOffsetA.Get(k) + tables_.KeyOffsetB.Get(k));
        Hold(msg(t, 0x90 | ch, key,
                 clamp(int64_t{ev.data[1]} + tables_.VelocityOffsetA.Get(k) +
                       tables_.VelocityOffsetB.Get(k))));
        InsertOutputEvent(
            msg(toSamples_(int32_t(uint32_t(ev.time) + uint32_t(duration))), 0x80 | ch, key, 0));
        return true;
      }
      case kHostController:
        Hold(msg(t, 0xB0 | ch, ev.data[0], ev.data[1]));
        return true;
      case kHostRpn:
      case kHostNrpn: {
        const bool rpn = ev.type == kHostRpn;
        Hold(msg(t, 0xB0 | ch, rpn ? 101 : 99, (number >> 7) & 0xFF));
        output_.push_front(msg(t, 0xB0 | ch, 38, value & 0x7F));
        output_.push_front(msg(t, 0xB0 | ch, 6, (value >> 7) & 0xFF));
        output_.push_front(msg(t, 0xB0 | ch, rpn ? 100 : 98, number & 0x7F));
        return true;
      }
      case kHostSetVelocityOffsetA:
        tables_.VelocityOffsetA.Set(k, ev.value);
        return false;
      case kHostSetVelocityOffsetB:
        tables_.VelocityOffsetB.Set(k, ev.value);
        return false;
      case kHostSetKeyOffsetA:
        tables_.KeyOffsetA.Set(k, ev.value);
        return false;
      case kHostSetKeyOffsetB:
        tables_.KeyOffsetB.Set(k, ev.value);
        return false;
      case kHostShortMessage:
        Hold(msg(t, ev.data[0], ev.data[1], ev.data[2]));
        return true;
      default:
        return false;
    }
  }

  ChannelKeyTables& tables_;
  std::function<int32_t(int32_t)> toSamples_;
  std::list<std::list<InputEvent>> segments_;
  std::list<std::list<InputEvent>>::iterator read_, write_;
  std::list<OutputEvent> output_;
  OutputEvent held_{};
  bool heldValid_ = false;
};

// One buffer as the processing step handles it; everything handed over is logged.
template <typename Queue>
void ProcessBuffer(Queue& queue, int32_t& position, int32_t frames, std::vector<std::string>& log) {
  OutputEvent event;
  for (bool more = queue.PeekNext(event); more; more = queue.TakeNext(event)) {
    if (event.sampleTime >= position + frames) {
      log.push_back("held " + Describe(event));
      break;
    }
    log.push_back(Describe(event));
    if (event.kind == kOutputTimeJump) {
      queue.AdvanceSegment(event.sampleTime, event.extra);
      position = event.extra;
    } else if (event.kind == kOutputStop) {
      queue.Reset();
      break;
    }
  }
  position += frames;
}

struct Workload {
  const char* name;
  bool converter;  // else a tempo map at 1000 Hz: event time = ms ~ samples
  uint32_t seed;
};

void PrintTo(const Workload& workload, std::ostream* out) {
  *out << workload.name << " seed " << workload.seed;
}

class EventSchedulerModelTest : public ::testing::TestWithParam<Workload> {};

TEST_P(EventSchedulerModelTest, MatchesListModel) {
  const Workload workload = GetParam();
  // An affine converter that takes early event times below 0.
  const auto convert = [](int64_t time) { return time * 2 - 300; };
  FakeTimeConverter converter(convert);
  FakeTempoMap tempoMap([](LONG time) { return time; });
  ChannelKeyTables schedulerTables, modelTables;
  DWORD rate = 1000;
  EventScheduler scheduler(schedulerTables, rate);
  if (workload.converter) {
    scheduler.SetTimeConverter(&converter);
  } else {
    scheduler.SetTempoMap(&tempoMap);
  }
  ListModel model(modelTables, [&](int32_t time) {
    return workload.converter ? static_cast<int32_t>(convert(time))
                              : static_cast<int32_t>((time * 0.001) * 1000.0);
  });

  std::mt19937 random(workload.seed);
  auto uniform = [&](int low, int high) {
    return std::uniform_int_distribution(low, high)(random);
  };
  int32_t hostNow = 0;  // the host's idea of the present, in event time
  int32_t schedulerPosition = 0, modelPosition = 0;
  std::vector<std::string> schedulerLog, modelLog;
  const uint32_t types[] = {
      kHostNote, kHostNote, kHostNote, kHostController,   kHostRpn, kHostNrpn, 12,
      13,        14,        15,        kHostShortMessage, 9};

  for (int step = 0; step < 20000; ++step) {
    const int action = uniform(0, 99);
    if (action < 45) {
      InputEvent event = HostEventOf(types[uniform(0, 11)], hostNow + uniform(-50, 1500),
                                     static_cast<uint8_t>(uniform(0, 255)), uniform(1, 3));
      event.value = static_cast<int8_t>(uniform(-20, 20));
      for (uint8_t& byte : event.data) byte = static_cast<uint8_t>(uniform(0, 255));
      if (event.type == kHostNote) event = With<int32_t>(event, 13, uniform(-200, 600));
      scheduler.AddInputEvent(event);
      model.AddInputEvent(event);
    } else if (action < 55) {
      const OutputEvent ready =
          Ready(scheduler.ToSamples(hostNow + uniform(-100, 800)), 0x90, 1, 2);
      scheduler.InsertOutputEvent(ready);
      model.InsertOutputEvent(ready);
    } else if (action < 58) {  // the host loops back
      const int32_t jumpTime = hostNow + uniform(0, 700);
      const int32_t newTime = uniform(0, 2000);
      const OutputEvent marker =
          JumpMarker(scheduler.ToSamples(jumpTime), scheduler.ToSamples(newTime));
      scheduler.InsertOutputEvent(marker);
      model.InsertOutputEvent(marker);
      scheduler.BeginNewSegment();
      model.BeginNewSegment();
      hostNow = newTime;
    } else if (action < 59) {  // stop, or start
      scheduler.Reset();
      model.Reset();
      if (uniform(0, 1) == 0) {
        const OutputEvent stop{kOutputStop, 0, kMarkerChannelKey, {}, 0};
        scheduler.InsertOutputEvent(stop);
        model.InsertOutputEvent(stop);
      }
    } else {
      const int32_t frames = uniform(1, 120);
      ProcessBuffer(scheduler, schedulerPosition, frames, schedulerLog);
      ProcessBuffer(model, modelPosition, frames, modelLog);
      hostNow += frames / 2;
    }
    ASSERT_EQ(schedulerLog.size(), modelLog.size()) << "step " << step;
    if (!schedulerLog.empty()) {
      ASSERT_EQ(schedulerLog.back(), modelLog.back()) << "step " << step;
    }
  }
  EXPECT_EQ(schedulerLog, modelLog);
  EXPECT_GT(schedulerLog.size(), 10000u);  // the run did deliver, not merely agree on nothing
  for (auto table : {&ChannelKeyTables::VelocityOffsetA, &ChannelKeyTables::VelocityOffsetB,
                     &ChannelKeyTables::KeyOffsetA, &ChannelKeyTables::KeyOffsetB}) {
    EXPECT_TRUE(std::equal((schedulerTables.*table).begin(), (schedulerTables.*table).end(),
                           (modelTables.*table).begin(), (modelTables.*table).end()));
  }
  EXPECT_EQ(scheduler.DroppedEventCount(), 0u);
  EXPECT_EQ(converter.references(), 1u);
  EXPECT_EQ(tempoMap.references(), 1u);
}

INSTANTIATE_TEST_SUITE_P(RandomRuns, EventSchedulerModelTest,
                         ::testing::Values(Workload{"converter", true, 1},
                                           Workload{"converter", true, 2},
                                           Workload{"tempoMap", false, 3}),
                         [](const auto& info) {
                           return std::string(info.param.name) + std::to_string(info.param.seed);
                         });

}  // namespace
}  // namespace brvst::test
