// CMemAllocator and CMediaSample.
#include "test_pins.h"

#include <atomic>
#include <cstdint>
#include <thread>

namespace brvst::test {
namespace {

class Allocator : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(CreateMemoryAllocator(allocator.put()), S_OK); }
  void TearDown() override {
    allocator->Decommit();
    EXPECT_TRUE(ReleasesLast(allocator.Detach()));
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
  // The one sample of a committed allocator.
  ComPtr<IMediaSample> OneSample(LONG size) {
    EXPECT_EQ(Configure(1, size), S_OK);
    EXPECT_EQ(allocator->Commit(), S_OK);
    return Get();
  }

  ComPtr<IMemAllocator> allocator;
  ALLOCATOR_PROPERTIES actual{};
  HRESULT lastResult = S_OK;
};

TEST_F(Allocator, SetPropertiesRoundsToAlignmentAndChecksIt) {
  EXPECT_TRUE(HasInterfaces(allocator, {IID_IUnknown, IID_IMemAllocator},
                            {IID_IMediaSample, IID_IBaseFilter, IID_IPin}));
  ASSERT_EQ(Configure(3, 100, 16, 4), S_OK);
  // Prefix plus buffer rounded up to the alignment; the slack goes to the buffer.
  EXPECT_EQ(actual.cbBuffer, 108);
  for (LONG badAlign : {0, 3, -4}) {
    EXPECT_EQ(Configure(1, 100, badAlign), VFW_E_BADALIGN) << badAlign;
    EXPECT_EQ(actual.cbBuffer, 0) << "actual properties are cleared on failure";
  }
  EXPECT_EQ(allocator->SetProperties(nullptr, &actual), E_POINTER);
  EXPECT_EQ(allocator->GetProperties(nullptr), E_POINTER);
}

TEST_F(Allocator, CommitHandsOutSamplesThatComeBackOnTheirLastRelease) {
  EXPECT_EQ(allocator->Commit(), VFW_E_SIZENOTSET);
  ASSERT_EQ(Configure(2, 256, 64, 8), S_OK);
  ASSERT_EQ(allocator->Commit(), S_OK);
  EXPECT_EQ(allocator->Commit(), S_OK);
  // A committed allocator holds a reference on itself until its samples are all back.
  EXPECT_EQ(RefCount(allocator), 2u);
  EXPECT_EQ(Configure(2, 128), VFW_E_ALREADY_COMMITTED);
  ComPtr<IMediaSample> first = Get(), second = Get();
  ASSERT_NE(second, nullptr);
  BYTE* data = nullptr;
  ASSERT_EQ(first->GetPointer(&data), S_OK);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(data) % 64, 0u) << "buffers start aligned";
  EXPECT_EQ(first->GetSize(), 312) << "256 + 8 rounded up to 320, less the prefix";

  // Everything is out: no wait asked for, none done.
  EXPECT_EQ(Get(AM_GBF_NOWAIT), nullptr);
  EXPECT_EQ(lastResult, VFW_E_TIMEOUT);
  first->AddRef();
  EXPECT_EQ(first->Release(), 1u);
  EXPECT_EQ(Get(AM_GBF_NOWAIT), nullptr) << "only the last release returns a sample";
  first = nullptr;
  ComPtr<IMediaSample> again = Get(AM_GBF_NOWAIT);
  ASSERT_NE(again, nullptr);

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
  EXPECT_EQ(allocator->Decommit(), S_OK);
}

TEST_F(Allocator, BlockedGetBufferWakesForAFreedSampleOrADecommit) {
  constexpr HRESULT kNotYet = static_cast<HRESULT>(0x8000000AL);  // no answer yet
  ComPtr<IMediaSample> held = OneSample(16);
  std::atomic<HRESULT> waited{kNotYet};
  auto wait = [&] {
    IMediaSample* sample = nullptr;
    waited = allocator->GetBuffer(&sample, nullptr, nullptr, 0);
    if (sample != nullptr) sample->Release();
  };
  std::thread waiter(wait);
  Sleep(50);
  EXPECT_EQ(waited.load(), kNotYet) << "GetBuffer waits while every sample is out";
  held = nullptr;
  waiter.join();
  EXPECT_EQ(waited.load(), S_OK);

  held = Get();
  waited = kNotYet;
  std::thread refused(wait);
  Sleep(50);
  ASSERT_EQ(allocator->Decommit(), S_OK);
  refused.join();
  EXPECT_EQ(waited.load(), VFW_E_NOT_COMMITTED);
}

TEST_F(Allocator, SampleTimesLengthAndType) {
  ComPtr<IMediaSample> sample = OneSample(100);
  REFERENCE_TIME start = 0, stop = 0, t1 = 1000, t2 = 2000;
  EXPECT_EQ(sample->GetTime(&start, &stop), VFW_E_SAMPLE_TIME_NOT_SET);
  sample->SetTime(&t1, nullptr);
  EXPECT_EQ(sample->GetTime(&start, &stop), VFW_S_NO_STOP_TIME);
  EXPECT_EQ(stop, 1001) << "a start alone ends just after itself";
  EXPECT_EQ(sample->GetMediaTime(&start, &stop), VFW_E_MEDIA_TIME_NOT_SET);
  EXPECT_EQ(sample->SetMediaTime(&t1, nullptr), E_POINTER);
  EXPECT_EQ(sample->SetActualDataLength(100), S_OK);
  EXPECT_EQ(sample->SetActualDataLength(101), VFW_E_BUFFER_OVERFLOW);
  EXPECT_EQ(sample->SetActualDataLength(-1), VFW_E_BUFFER_OVERFLOW);

  AM_MEDIA_TYPE* type = reinterpret_cast<AM_MEDIA_TYPE*>(1);
  EXPECT_EQ(sample->GetMediaType(&type), S_FALSE);
  EXPECT_EQ(type, nullptr);
  CMediaType audio = AudioType(22050);
  ASSERT_EQ(sample->SetMediaType(&audio), S_OK);

  // The next user of the buffer gets it without the old flags, times and type.
  sample->SetTime(&t1, &t2);
  sample->SetSyncPoint(TRUE);
  sample->SetDiscontinuity(TRUE);
  sample->SetPreroll(TRUE);
  const auto flags = {&IMediaSample::IsSyncPoint, &IMediaSample::IsDiscontinuity,
                      &IMediaSample::IsPreroll};
  for (auto flag : flags) EXPECT_EQ((sample.get()->*flag)(), S_OK);
  ASSERT_EQ(sample->GetMediaType(&type), S_OK);
  DeleteMediaType(type);
  sample = nullptr;
  sample = Get();
  for (auto flag : flags) EXPECT_EQ((sample.get()->*flag)(), S_FALSE);
  EXPECT_EQ(sample->GetTime(&start, &stop), VFW_E_SAMPLE_TIME_NOT_SET);
  EXPECT_EQ(sample->GetMediaType(&type), S_FALSE);
}

TEST_F(Allocator, Sample2PropertiesMirrorTheSample) {
  ComPtr<IMediaSample> sample = OneSample(64);
  EXPECT_TRUE(HasInterfaces(sample, {IID_IMediaSample, IID_IMediaSample2}, {IID_IMemAllocator}));
  auto sample2 = sample.As<IMediaSample2>(IID_IMediaSample2);
  REFERENCE_TIME t1 = 5, t2 = 9;
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
  EXPECT_EQ(props.tStop, 9);

  props.dwSampleFlags = AM_SAMPLE_DATADISCONTINUITY | AM_SAMPLE_TIMEVALID | AM_SAMPLE_STOPVALID;
  props.tStart = 100;
  props.lActual = 16;
  ASSERT_EQ(sample2->SetProperties(sizeof props, reinterpret_cast<const BYTE*>(&props)), S_OK);
  REFERENCE_TIME start = 0, stop = 0;
  EXPECT_EQ(sample->GetTime(&start, &stop), S_OK);
  EXPECT_EQ(start, 100);
  EXPECT_EQ(sample->IsDiscontinuity(), S_OK);
  EXPECT_EQ(sample->IsSyncPoint(), S_FALSE);
  EXPECT_EQ(sample->GetMediaTime(&start, &stop), S_OK) << "media times survive";

  // The buffer's size cannot change, nor the media-time flag be set this way, nor the data
  // outgrow the buffer; nor can a record be longer than the structure.
  for (auto spoil : std::initializer_list<void (*)(AM_SAMPLE2_PROPERTIES&)>{
           [](AM_SAMPLE2_PROPERTIES& p) { p.cbBuffer = 63; },
           [](AM_SAMPLE2_PROPERTIES& p) { p.dwSampleFlags |= 0x20; },
           [](AM_SAMPLE2_PROPERTIES& p) { p.lActual = 65; },
           [](AM_SAMPLE2_PROPERTIES& p) { p.cbData = sizeof p + 4; }}) {
    AM_SAMPLE2_PROPERTIES bad = props;
    spoil(bad);
    EXPECT_EQ(sample2->SetProperties(bad.cbData, reinterpret_cast<const BYTE*>(&bad)),
              E_INVALIDARG);
  }
  EXPECT_EQ(sample->GetActualDataLength(), 16) << "a refused call changes nothing";
}

}  // namespace
}  // namespace brvst::test
