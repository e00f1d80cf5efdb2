// The streaming path allocates nothing once warm. Every allocation of this test program is
// counted here.
#include "synth/event_scheduler.h"

#include "fake_host_time.h"
#include "scheduler_test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<std::size_t> allocationCount{0};
}  // namespace

void* operator new(std::size_t size) {
  ++allocationCount;
  if (void* block = std::malloc(size == 0 ? 1 : size)) return block;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
  return operator new(size);
}
void operator delete(void* block) noexcept {
  std::free(block);
}
void operator delete[](void* block) noexcept {
  std::free(block);
}
void operator delete(void* block, std::size_t) noexcept {
  std::free(block);
}
void operator delete[](void* block, std::size_t) noexcept {
  std::free(block);
}

namespace brvst::test {
namespace {

// A host that queues every buffer's events one buffer ahead and loops its timeline every 16
// buffers, and a processing step that drains each buffer as it comes.
TEST(EventSchedulerSteadyState, AllocatesNothingOnceWarm) {
  constexpr int32_t kFrames = 256;
  constexpr int kLoopLength = 16;
  ChannelKeyTables tables;
  DWORD rate = 48000;
  FakeTimeConverter converter([](int64_t time) { return time; });
  const std::size_t atStart = allocationCount.load();
  EventScheduler scheduler(tables, rate);
  ASSERT_GT(allocationCount.load(), atStart) << "allocations are not being counted";
  scheduler.SetTimeConverter(&converter);

  int32_t hostCursor = kFrames;
  int32_t position = 0;
  std::size_t delivered = 0;
  auto runBuffer = [&](int buffer) {
    for (int n = 0; n < 8; ++n) {
      scheduler.AddInputEvent(Note(hostCursor + n * 32, static_cast<uint8_t>(60 + n), 100, 300));
    }
    scheduler.AddInputEvent(ParameterNumber(kHostRpn, hostCursor + 5, 0x81, 0x102));
    scheduler.AddInputEvent(SetOffset(kHostSetVelocityOffsetA, hostCursor + 1,
                                      static_cast<int8_t>(buffer % 5), 1 + buffer % 4));
    scheduler.InsertOutputEvent(Ready(hostCursor + 100, 0xB0, 7, 1));
    hostCursor += kFrames;
    if (buffer % kLoopLength == kLoopLength - 1) {
      scheduler.InsertOutputEvent(JumpMarker(hostCursor, 0));
      scheduler.BeginNewSegment();
      hostCursor = 0;
    }

    int32_t end = position + kFrames;
    OutputEvent event;
    for (bool more = scheduler.PeekNext(event); more && event.sampleTime < end;
         more = scheduler.TakeNext(event)) {
      ++delivered;
      if (event.kind == kOutputTimeJump) {
        end = event.extra + (end - event.sampleTime);
        scheduler.AdvanceSegment(event.sampleTime, event.extra);
      }
    }
    position = end;
  };

  int buffer = 0;
  for (; buffer < 4 * kLoopLength; ++buffer) runBuffer(buffer);
  const std::size_t deliveredBefore = delivered;
  const int32_t segmentBefore = scheduler.ReadSegmentNumber();
  const std::size_t allocationsBefore = allocationCount.load();
  for (; buffer < 44 * kLoopLength; ++buffer) runBuffer(buffer);
  const std::size_t allocations = allocationCount.load() - allocationsBefore;

  EXPECT_EQ(allocations, 0u);
  // 8 notes (16 messages), 4 RPN messages and 1 ready message per buffer, and the loops.
  EXPECT_EQ(delivered - deliveredBefore, 40u * kLoopLength * 21 + 40);
  EXPECT_EQ(scheduler.ReadSegmentNumber() - segmentBefore, 40);
  EXPECT_EQ(scheduler.DroppedEventCount(), 0u);
}

}  // namespace
}  // namespace brvst::test
