// IMediaParamInfo and IMediaParams of the filter: the parameters as hosts see them, envelopes
// kept as end points and applied at their buffers, and the slot order hosts call.
#include "tests/filter/adapter_graph.h"

#include "filter/adapter_pins.h"
#include "synth/media_params.h"
#include "vsthost/vst_plug_instance.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <string>
#include <tuple>
#include <utility>

namespace brvst::test {
namespace {

using host::AudioFormat;
using host::SampleFormat;
using ::testing::ElementsAre;
using ::testing::Pair;

template <class I>
ComPtr<I> Query(AdapterFilter& filter, REFIID iid) {
  ComPtr<I> out;
  EXPECT_EQ(filter.GetOwner()->QueryInterface(iid, reinterpret_cast<void**>(out.put())), S_OK);
  return out;
}

std::u16string Wide(const WCHAR* text) {
  std::u16string out;
  for (; *text != 0; ++text) out += static_cast<char16_t>(*text);
  return out;
}

// (time, parameter, value) of every point in list order.
std::vector<std::tuple<int64_t, int32_t, float>> Points(const AdapterFilter& filter) {
  std::vector<std::tuple<int64_t, int32_t, float>> out;
  for (const AutomationPoint& p : filter.AutomationPoints)
    out.emplace_back(p.time, p.index, p.value);
  return out;
}

MP_ENVELOPE_SEGMENT Segment(REFERENCE_TIME end, float value) {
  // Start, start value and curve are ignored: only the end counts.
  return {end - 7, end, 0.9f, value, 4, 0};
}

// For each value the plug-in was set to, how many buffers it had processed by then.
std::vector<std::pair<int, float>> SetsByBuffer(const ModuleHold& hold) {
  std::vector<std::pair<int, float>> sets;
  int processed = 0;
  const probe::ProbeLog& log = hold.Log();
  for (uint32_t i = 0; i < log.count; ++i) {
    const probe::ProbeLogEntry& e = log.entries[i];
    if (e.kind == probe::kProbeProcessReplacing) ++processed;
    if (e.kind == probe::kProbeSetParameter) sets.emplace_back(processed, e.parameter);
  }
  return sets;
}

TEST(MediaParamInfo, DescribesEachParameterOfThePlugIn) {
  ProbeFilter probe("probe_effect.dll");
  auto info = Query<IMediaParamInfo>(*probe.filter, IID_IMediaParamInfo);
  DWORD count = 0;
  ASSERT_EQ(info->GetParamCount(&count), S_OK);
  EXPECT_EQ(count, 4u);

  probe.plugin().SetParameter(0, 0.25f);
  MP_PARAMINFO param;
  std::memset(&param, 0xCC, sizeof param);
  ASSERT_EQ(info->GetParamInfo(0, &param), S_OK);
  EXPECT_EQ(param.mpType, MPT_FLOAT);
  EXPECT_EQ(param.mopCaps, MP_CAPS_CURVE_JUMP);
  EXPECT_EQ(std::pair(param.mpdMinValue, param.mpdMaxValue), std::pair(0.0f, 1.0f));
  EXPECT_EQ(param.mpdNeutralValue, 0.25f) << "the current value";
  EXPECT_EQ(Wide(param.szLabel), u"Gain");
  EXPECT_EQ(Wide(param.szUnitText), u"dB");

  WCHAR* text = nullptr;
  ASSERT_EQ(info->GetParamText(1, &text), S_OK);
  std::u16string expected(u"Pan\0%", 5);
  expected.resize(64, u'\0');
  EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(text), 64), expected)
      << "name, NUL, unit, zeros to 128 bytes";
  CoTaskMemFree(text);

  text = reinterpret_cast<WCHAR*>(&param);
  EXPECT_EQ(info->GetParamText(4, &text), E_INVALIDARG);
  EXPECT_EQ(text, nullptr);
  EXPECT_EQ(info->GetParamInfo(4, &param), E_INVALIDARG);
  EXPECT_EQ(info->GetParamInfo(0xFFFFFFFF, &param), E_INVALIDARG) << "compared unsigned";
  EXPECT_EQ(info->GetParamInfo(0, nullptr), E_POINTER);
}

TEST(MediaParams, ValuesPassUnchangedAndIndicesAreChecked) {
  ProbeFilter probe("probe_effect.dll");
  auto params = Query<IMediaParams>(*probe.filter, IID_IMediaParams);
  probe.hold.Reset();
  ASSERT_EQ(params->SetParam(2, 1.5f), S_OK);
  const auto sets = probe.hold.Entries(probe::kProbeSetParameter);
  ASSERT_EQ(sets.size(), 1u);
  EXPECT_EQ(std::pair(sets[0].index, sets[0].parameter), std::pair(2, 1.5f)) << "not clamped";
  MP_DATA value = 0;
  ASSERT_EQ(params->GetParam(2, &value), S_OK);
  EXPECT_EQ(value, 1.5f);

  EXPECT_EQ(params->GetParam(4, &value), E_INVALIDARG);
  EXPECT_EQ(params->SetParam(4, 0.5f), E_INVALIDARG);
  EXPECT_EQ(params->FlushEnvelope(4, 0, 100), E_INVALIDARG);
  EXPECT_EQ(params->GetParam(0, nullptr), E_POINTER);
  MP_ENVELOPE_SEGMENT segment = Segment(100, 0.5f);
  EXPECT_EQ(params->AddEnvelope(4, 1, &segment), S_OK) << "kept: applying it does nothing";
  EXPECT_EQ(probe.filter->AutomationPoints.size(), 1u);
  EXPECT_EQ(params->AddEnvelope(0, 1, nullptr), E_POINTER);

  EXPECT_EQ(params->SetTimeFormat(GUID_TIME_REFERENCE, 0), S_OK);
  EXPECT_EQ(params->SetTimeFormat(GUID_NULL, 0), E_INVALIDARG);
}

TEST(MediaParams, EnvelopesKeepTheirEndPointsInTimeOrderAndFlushByRange) {
  ProbeFilter probe("probe_effect.dll");
  AdapterFilter& filter = *probe.filter;
  auto params = Query<IMediaParams>(filter, IID_IMediaParams);
  MP_ENVELOPE_SEGMENT first[] = {Segment(700, 0.7f), Segment(500, 0.5f)};
  ASSERT_EQ(params->AddEnvelope(0, 2, first), S_OK);
  MP_ENVELOPE_SEGMENT second[] = {Segment(500, 0.25f), Segment(1000, 0.1f), Segment(0, 0.0f),
                                  Segment(int64_t{5} << 32, 0.9f)};
  ASSERT_EQ(params->AddEnvelope(1, 4, second), S_OK);
  EXPECT_THAT(Points(filter),
              ElementsAre(std::tuple(0, 1, 0.0f), std::tuple(500, 1, 0.25f),
                          std::tuple(500, 0, 0.5f), std::tuple(700, 0, 0.7f),
                          std::tuple(1000, 1, 0.1f), std::tuple(int64_t{5} << 32, 1, 0.9f)))
      << "among equal times the point added last comes first; times keep all 64 bits";
  EXPECT_EQ(filter.AutomationCursor, filter.AutomationPoints.begin());

  filter.AutomationCursor = std::prev(filter.AutomationPoints.end());
  ASSERT_EQ(params->FlushEnvelope(1, 0, 1000), S_OK);
  EXPECT_THAT(Points(filter), ElementsAre(std::tuple(500, 0, 0.5f), std::tuple(700, 0, 0.7f),
                                          std::tuple(int64_t{5} << 32, 1, 0.9f)))
      << "both ends included, other parameters kept";
  EXPECT_EQ(filter.AutomationCursor, filter.AutomationPoints.begin());
  ASSERT_EQ(params->FlushEnvelope(0, -1, 600), S_OK);
  ASSERT_EQ(params->FlushEnvelope(1, 0, INT64_MAX), S_OK);
  EXPECT_THAT(Points(filter), ElementsAre(std::tuple(700, 0, 0.7f)));
}

// A point applies before the first buffer ending strictly after it. 2^32 units of 100 ns are
// 429.5 s: later points must not wrap to the start of the render, whether the samples carry
// times or the filter's own clock counts them.
TEST(MediaParamsAutomation, PointsPast430SecondsApplyAtTheirBuffer) {
  const AudioFormat format{SampleFormat::Float32, 2, 1000};  // one-second buffers, few frames
  for (bool stamped : {true, false}) {
    SCOPED_TRACE(stamped ? "time stamps" : "the clock");
    AdapterGraph g("probe_effect.dll", format, {1000});
    ASSERT_EQ(g.Connect(), S_OK);
    auto params = Query<IMediaParams>(*g.filter, IID_IMediaParams);
    MP_ENVELOPE_SEGMENT envelope[] = {Segment(4300000000, 0.3f), Segment(4315000001, 0.6f)};
    ASSERT_EQ(params->AddEnvelope(0, 2, envelope), S_OK);
    ModuleHold hold(g.record.DllPath);
    hold.Reset();
    if (stamped) {
      g.Play(std::vector<float>(2 * 1000 * 433, 0.0f));
    } else {
      ASSERT_EQ(g.graph->Run(), S_OK);
      ComPtr<IMemAllocator> allocator;
      ASSERT_EQ(g.filter->InputPinObject()->GetAllocator(allocator.put()), S_OK);
      IMediaSample* sample = nullptr;
      ASSERT_EQ(allocator->GetBuffer(&sample, nullptr, nullptr, 0), S_OK);
      sample->SetActualDataLength(1000 * 8);
      sample->SetTime(nullptr, nullptr);
      for (int i = 0; i < 433; ++i) ASSERT_EQ(g.filter->ProcessSample(sample), S_OK);
      sample->Release();
    }
    // 430 s lies in no buffer before the one ending at 431 s; 431.5000001 s in the one ending
    // at 432 s.
    EXPECT_THAT(SetsByBuffer(hold), ElementsAre(Pair(430, 0.3f), Pair(431, 0.6f)));
  }
}

// Hosts call the interfaces by slot: each slot must hold the method the published layout puts
// there, whatever order a system header declares them in.
TEST(MediaParamsLayout, EachMethodSitsInItsPublishedSlot) {
  ProbeFilter probe("probe_effect.dll");
  AdapterFilter& filter = *probe.filter;
  auto params = Query<IMediaParams>(filter, IID_IMediaParams);
  void* self = params.get();
  void** slots = *reinterpret_cast<void***>(self);
  MP_DATA value = 0;
  using GetParamSlot = HRESULT(STDMETHODCALLTYPE*)(void*, DWORD, MP_DATA*);
  EXPECT_EQ(reinterpret_cast<GetParamSlot>(slots[3])(self, 1, &value), S_OK);
  EXPECT_EQ(value, probe::ProbeInitialParameter(0, 1));
  using SetParamSlot = HRESULT(STDMETHODCALLTYPE*)(void*, DWORD, MP_DATA);
  EXPECT_EQ(reinterpret_cast<SetParamSlot>(slots[4])(self, 2, 0.75f), S_OK);
  EXPECT_EQ(probe.plugin().GetParameter(2), 0.75f);
  using AddEnvelopeSlot = HRESULT(STDMETHODCALLTYPE*)(void*, DWORD, DWORD, MP_ENVELOPE_SEGMENT*);
  MP_ENVELOPE_SEGMENT segment = Segment(300, 0.5f);
  EXPECT_EQ(reinterpret_cast<AddEnvelopeSlot>(slots[5])(self, 1, 1, &segment), S_OK);
  EXPECT_THAT(Points(filter), ElementsAre(std::tuple(300, 1, 0.5f)));
  using FlushEnvelopeSlot =
      HRESULT(STDMETHODCALLTYPE*)(void*, DWORD, REFERENCE_TIME, REFERENCE_TIME);
  EXPECT_EQ(reinterpret_cast<FlushEnvelopeSlot>(slots[6])(self, 1, 300, 300), S_OK);
  EXPECT_TRUE(filter.AutomationPoints.empty());
  using SetTimeFormatSlot = HRESULT(STDMETHODCALLTYPE*)(void*, GUID, MP_TIMEDATA);
  EXPECT_EQ(reinterpret_cast<SetTimeFormatSlot>(slots[7])(self, GUID_TIME_REFERENCE, 0), S_OK);
  EXPECT_EQ(reinterpret_cast<SetTimeFormatSlot>(slots[7])(self, GUID_NULL, 0), E_INVALIDARG);

  auto info = Query<IMediaParamInfo>(filter, IID_IMediaParamInfo);
  self = info.get();
  slots = *reinterpret_cast<void***>(self);
  using CountSlot = HRESULT(STDMETHODCALLTYPE*)(void*, DWORD*);
  DWORD count = 0;
  EXPECT_EQ(reinterpret_cast<CountSlot>(slots[3])(self, &count), S_OK);
  EXPECT_EQ(count, 4u) << "GetParamCount";
  using GetParamInfoSlot = HRESULT(STDMETHODCALLTYPE*)(void*, DWORD, MP_PARAMINFO*);
  MP_PARAMINFO param{};
  EXPECT_EQ(reinterpret_cast<GetParamInfoSlot>(slots[4])(self, 0, &param), S_OK);
  EXPECT_EQ(Wide(param.szLabel), u"Gain");
  using GetParamTextSlot = HRESULT(STDMETHODCALLTYPE*)(void*, DWORD, WCHAR**);
  WCHAR* text = nullptr;
  EXPECT_EQ(reinterpret_cast<GetParamTextSlot>(slots[5])(self, 2, &text), S_OK);
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(Wide(text), u"Depth");
  CoTaskMemFree(text);
  EXPECT_EQ(reinterpret_cast<CountSlot>(slots[6])(self, &count), S_OK);
  EXPECT_EQ(count, 1u) << "GetNumTimeFormats";
  using GetSupportedSlot = HRESULT(STDMETHODCALLTYPE*)(void*, DWORD, GUID*);
  GUID format{};
  EXPECT_EQ(reinterpret_cast<GetSupportedSlot>(slots[7])(self, 0, &format), S_OK);
  EXPECT_EQ(format, GUID_TIME_REFERENCE);
  using GetCurrentSlot = HRESULT(STDMETHODCALLTYPE*)(void*, GUID*, MP_TIMEDATA*);
  MP_TIMEDATA data = 9;
  format = GUID_NULL;
  EXPECT_EQ(reinterpret_cast<GetCurrentSlot>(slots[8])(self, &format, &data), S_OK);
  EXPECT_EQ(std::pair(format, data), std::pair(GUID_TIME_REFERENCE, MP_TIMEDATA{0}));
}

}  // namespace
}  // namespace brvst::test
