// CMemAllocator and CMediaSample.
#include "com_conformance.h"
#include "test_pins.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <thread>

namespace brvst::test {
namespace {

// What a waiting call's result reads before the call has returned.
constexpr HRESULT kNotYet = static_cast<HRESULT>(0x8000000AL);

class Allocator : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(CreateMemoryAllocator(allocator.put()), S_OK); }
  void TearDown() override {
    if (allocator != nullptr) {
      allocator->Decommit();
      EXPECT_TRUE(ReleasesLast(allocator.Detach()));
    }
  }
  HRESULT Configure(LONG count, LONG size, LONG align = 1, LONG prefix = 0) {
    ALLOCATOR_PROPERTIES request{count, size, align, prefix};
    return allocator->SetProperties(&request, &actual);
  }
  ComPtr<IMediaSample> Get(DWORD flags = 0) {
    IMediaSample* sample = nullptr;
    lastResult = allocator->GetBuffer(&sample, nullptr, nullptr, flags);
    return ComPtr<IMediaSample>::Attach(sample);
  }

  ComPtr<IMemAllocator> allocator;
  ALLOCATOR_PROPERTIES actual{};
  HRESULT lastResult = S_OK;
};

TEST_F(Allocator, SetPropertiesRoundsToAlignmentAndChecksIt) {
  ASSERT_EQ(Configure(3, 100, 16, 4), S_OK);
  // Prefix plus buffer rounded up to the alignment; the slack goes to the buffer.
  EXPECT_EQ(actual.cbBuffer, 108);
  EXPECT_EQ(actual.cBuffers, 3);
  EXPECT_EQ(actual.cbAlign, 16);
  EXPECT_EQ(actual.cbPrefix, 4);
  ALLOCATOR_PROPERTIES props{};
  ASSERT_EQ(allocator->GetProperties(&props), S_OK);
  EXPECT_EQ(props.cbBuffer, 108);

  for (LONG badAlign : {0, 3, -4}) {
    EXPECT_EQ(Configure(1, 100, badAlign), VFW_E_BADALIGN) << badAlign;
    EXPECT_EQ(actual.cbBuffer, 0) << "actual properties are cleared on failure";
  }
  EXPECT_EQ(allocator->SetProperties(nullptr, &actual), E_POINTER);
  EXPECT_EQ(allocator->GetProperties(nullptr), E_POINTER);
}

TEST_F(Allocator, CommitNeedsSizesAndBlocksChangesWhileCommitted) {
  EXPECT_EQ(allocator->Commit(), VFW_E_SIZENOTSET);
  ASSERT_EQ(Configure(2, 64), S_OK);
  EXPECT_EQ(Get(), nullptr);
  EXPECT_EQ(lastResult, VFW_E_NOT_COMMITTED);
  ASSERT_EQ(allocator->Commit(), S_OK);
  EXPECT_EQ(allocator->Commit(), S_OK);
  // A committed allocator holds a reference on itself until its samples are all back.
  EXPECT_EQ(RefCount(allocator), 2u);
  EXPECT_EQ(Configure(2, 128), VFW_E_ALREADY_COMMITTED);
  ASSERT_EQ(allocator->Decommit(), S_OK);
  EXPECT_EQ(RefCount(allocator), 1u);
  EXPECT_EQ(allocator->Decommit(), S_OK);
}

TEST_F(Allocator, SamplesComeBackOnTheirLastRelease) {
  ASSERT_EQ(Configure(2, 256, 64, 8), S_OK);
  ASSERT_EQ(allocator->Commit(), S_OK);
  auto* memory = static_cast<CMemAllocator*>(static_cast<IMemAllocator*>(allocator.get()));
  EXPECT_EQ(memory->FreeCount(), 2);
  ComPtr<IMediaSample> first = Get();
  ComPtr<IMediaSample> second = Get();
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(memory->FreeCount(), 0);
  BYTE* data = nullptr;
  ASSERT_EQ(first->GetPointer(&data), S_OK);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(data) % 64, 0u) << "buffers start aligned";
  // 256 + 8 rounded up to 320, less the prefix.
  EXPECT_EQ(first->GetSize(), 312);
  EXPECT_EQ(first->GetActualDataLength(), 312);

  // Everything is out: no wait asked for, none done.
  EXPECT_EQ(Get(AM_GBF_NOWAIT), nullptr);
  EXPECT_EQ(lastResult, VFW_E_TIMEOUT);
  first->AddRef();
  EXPECT_EQ(first->Release(), 1u);
  EXPECT_EQ(memory->FreeCount(), 0);
  first = nullptr;
  EXPECT_EQ(memory->FreeCount(), 1);
  ComPtr<IMediaSample> again = Get(AM_GBF_NOWAIT);
  ASSERT_NE(again, nullptr);
  BYTE* againData = nullptr;
  again->GetPointer(&againData);
  EXPECT_EQ(againData, data) << "the same buffer is handed out again";

  // Decommit with samples out completes when the last one comes back.
  ASSERT_EQ(allocator->Decommit(), S_OK);
  EXPECT_EQ(Get(), nullptr);
  EXPECT_EQ(lastResult, VFW_E_NOT_COMMITTED);
  EXPECT_EQ(Configure(2, 256), VFW_E_BUFFERS_OUTSTANDING);
  EXPECT_EQ(RefCount(allocator), 2u);
  again = nullptr;
  second = nullptr;
  EXPECT_EQ(RefCount(allocator), 1u);
  EXPECT_EQ(Configure(2, 512), S_OK);
}

TEST_F(Allocator, BlockedGetBufferWakesForAFreedSampleOrADecommit) {
  ASSERT_EQ(Configure(1, 16), S_OK);
  ASSERT_EQ(allocator->Commit(), S_OK);
  ComPtr<IMediaSample> held = Get();
  ASSERT_NE(held, nullptr);

  std::atomic<HRESULT> waited{kNotYet};
  std::thread waiter([&] {
    IMediaSample* sample = nullptr;
    waited = allocator->GetBuffer(&sample, nullptr, nullptr, 0);
    if (sample != nullptr) sample->Release();
  });
  Sleep(50);
  EXPECT_EQ(waited.load(), kNotYet) << "GetBuffer waits while every sample is out";
  held = nullptr;
  waiter.join();
  EXPECT_EQ(waited.load(), S_OK);

  held = Get();
  waited = kNotYet;
  std::thread refused([&] {
    IMediaSample* sample = nullptr;
    waited = allocator->GetBuffer(&sample, nullptr, nullptr, 0);
  });
  Sleep(50);
  ASSERT_EQ(allocator->Decommit(), S_OK);
  refused.join();
  EXPECT_EQ(waited.load(), VFW_E_NOT_COMMITTED);
  held = nullptr;
}

TEST_F(Allocator, SampleTimesFlagsAndLength) {
  ASSERT_EQ(Configure(1, 100), S_OK);
  ASSERT_EQ(allocator->Commit(), S_OK);
  ComPtr<IMediaSample> sample = Get();
  ASSERT_NE(sample, nullptr);

  REFERENCE_TIME start = 0;
  REFERENCE_TIME stop = 0;
  EXPECT_EQ(sample->GetTime(&start, &stop), VFW_E_SAMPLE_TIME_NOT_SET);
  REFERENCE_TIME t1 = 1000;
  REFERENCE_TIME t2 = 2000;
  sample->SetTime(&t1, nullptr);
  EXPECT_EQ(sample->GetTime(&start, &stop), VFW_S_NO_STOP_TIME);
  EXPECT_EQ(start, 1000);
  EXPECT_EQ(stop, 1001);
  sample->SetTime(&t1, &t2);
  EXPECT_EQ(sample->GetTime(&start, &stop), S_OK);
  EXPECT_EQ(stop, 2000);

  LONGLONG m1 = 10;
  LONGLONG m2 = 20;
  EXPECT_EQ(sample->GetMediaTime(&start, &stop), VFW_E_MEDIA_TIME_NOT_SET);
  EXPECT_EQ(sample->SetMediaTime(&m1, nullptr), E_POINTER);
  ASSERT_EQ(sample->SetMediaTime(&m1, &m2), S_OK);
  EXPECT_EQ(sample->GetMediaTime(&start, &stop), S_OK);
  EXPECT_EQ(start, 10);
  EXPECT_EQ(stop, 20);

  EXPECT_EQ(sample->IsSyncPoint(), S_FALSE);
  EXPECT_EQ(sample->IsDiscontinuity(), S_FALSE);
  EXPECT_EQ(sample->IsPreroll(), S_FALSE);
  sample->SetSyncPoint(TRUE);
  sample->SetDiscontinuity(TRUE);
  sample->SetPreroll(TRUE);
  EXPECT_EQ(sample->IsSyncPoint(), S_OK);
  EXPECT_EQ(sample->IsDiscontinuity(), S_OK);
  EXPECT_EQ(sample->IsPreroll(), S_OK);

  EXPECT_EQ(sample->SetActualDataLength(100), S_OK);
  EXPECT_EQ(sample->SetActualDataLength(101), VFW_E_BUFFER_OVERFLOW);
  EXPECT_EQ(sample->SetActualDataLength(-1), VFW_E_BUFFER_OVERFLOW);
  EXPECT_EQ(sample->GetActualDataLength(), 100);

  AM_MEDIA_TYPE* type = reinterpret_cast<AM_MEDIA_TYPE*>(1);
  EXPECT_EQ(sample->GetMediaType(&type), S_FALSE);
  EXPECT_EQ(type, nullptr);
  CMediaType audio = AudioType(22050);
  ASSERT_EQ(sample->SetMediaType(&audio), S_OK);
  ASSERT_EQ(sample->GetMediaType(&type), S_OK);
  EXPECT_TRUE(CMediaType(*type) == audio);
  DeleteMediaType(type);

  // The next user of the buffer gets it without the old flags, times and type.
  sample = nullptr;
  sample = Get();
  EXPECT_EQ(sample->IsSyncPoint(), S_FALSE);
  EXPECT_EQ(sample->IsDiscontinuity(), S_FALSE);
  EXPECT_EQ(sample->GetTime(&start, &stop), VFW_E_SAMPLE_TIME_NOT_SET);
  EXPECT_EQ(sample->GetMediaType(&type), S_FALSE);
}

TEST_F(Allocator, Sample2PropertiesMirrorTheSample) {
  ASSERT_EQ(Configure(1, 64), S_OK);
  ASSERT_EQ(allocator->Commit(), S_OK);
  ComPtr<IMediaSample> sample = Get();
  auto sample2 = sample.As<IMediaSample2>(IID_IMediaSample2);
  ASSERT_NE(sample2, nullptr);
  EXPECT_TRUE(HasInterfaces(sample, {IID_IMediaSample, IID_IMediaSample2}, {IID_IMemAllocator}));

  REFERENCE_TIME t1 = 5;
  REFERENCE_TIME t2 = 9;
  sample->SetTime(&t1, &t2);
  sample->SetSyncPoint(TRUE);
  sample->SetMediaTime(&t1, &t2);
  sample->SetActualDataLength(32);
  AM_SAMPLE2_PROPERTIES props{};
  ASSERT_EQ(sample2->GetProperties(sizeof props, reinterpret_cast<BYTE*>(&props)), S_OK);
  EXPECT_EQ(props.cbData, sizeof props);
  EXPECT_EQ(props.dwSampleFlags,
            DWORD{AM_SAMPLE_SPLICEPOINT | AM_SAMPLE_TIMEVALID | AM_SAMPLE_STOPVALID})
      << "media times are not among the properties";
  EXPECT_EQ(props.lActual, 32);
  EXPECT_EQ(props.cbBuffer, 64);
  EXPECT_EQ(props.tStart, 5);
  EXPECT_EQ(props.tStop, 9);
  EXPECT_EQ(props.pMediaType, nullptr);

  props.dwSampleFlags = AM_SAMPLE_DATADISCONTINUITY | AM_SAMPLE_TIMEVALID | AM_SAMPLE_STOPVALID;
  props.tStart = 100;
  props.tStop = 200;
  props.lActual = 16;
  ASSERT_EQ(sample2->SetProperties(sizeof props, reinterpret_cast<const BYTE*>(&props)), S_OK);
  REFERENCE_TIME start = 0;
  REFERENCE_TIME stop = 0;
  EXPECT_EQ(sample->GetTime(&start, &stop), S_OK);
  EXPECT_EQ(start, 100);
  EXPECT_EQ(sample->IsDiscontinuity(), S_OK);
  EXPECT_EQ(sample->IsSyncPoint(), S_FALSE);
  EXPECT_EQ(sample->GetActualDataLength(), 16);
  EXPECT_EQ(sample->GetMediaTime(&start, &stop), S_OK) << "media times survive";

  // The buffer cannot be swapped, nor its size changed, nor the media-time flag set this way.
  AM_SAMPLE2_PROPERTIES bad = props;
  bad.cbBuffer = 63;
  EXPECT_EQ(sample2->SetProperties(sizeof bad, reinterpret_cast<const BYTE*>(&bad)), E_INVALIDARG);
  bad = props;
  bad.dwSampleFlags |= 0x20;
  EXPECT_EQ(sample2->SetProperties(sizeof bad, reinterpret_cast<const BYTE*>(&bad)), E_INVALIDARG);
  bad = props;
  bad.lActual = 65;
  bad.cbBuffer = 64;
  EXPECT_EQ(sample2->SetProperties(sizeof bad, reinterpret_cast<const BYTE*>(&bad)), E_INVALIDARG);
  EXPECT_EQ(sample->GetActualDataLength(), 16) << "a refused call changes nothing";
}

}  // namespace
}  // namespace brvst::test
