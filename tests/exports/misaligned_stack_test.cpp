// Our entry points called as 32-bit Windows hosts and plug-ins call them: with the stack aligned
// to 4 bytes only, where GCC's own code keeps 16. Every call is made at each misalignment and
// must answer exactly as it does on an aligned stack; a frame that relied on 16-byte alignment
// for an SSE spill would fault instead.
#include "dshow/base_pin.h"
#include "synth/host_objects.h"
#include "tests/plugins/plugin_loader.h"
#include "tests/vsthost/probe_harness.h"
#include "vsthost/host_callback.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <iterator>
#include <string>
#include <type_traits>
#include <vector>

extern "C" {
// Calls `function` with `count` 32-bit argument words, the stack pointer `offset` bytes past a
// 16-byte boundary at the call; answers eax. Either calling convention: the stack is restored
// from the frame whoever pops the arguments.
uint32_t brvst_CallOffBoundary(const void* function, const uint32_t* words, uint32_t count,
                               uint32_t offset);
// The stack pointer at the call to it, modulo 16.
uint32_t brvst_StackOffsetAtCall();
}

// clang-format off
asm(R"(
    .text
    .p2align 4
    .globl _brvst_CallOffBoundary
    .def _brvst_CallOffBoundary; .scl 2; .type 32; .endef
_brvst_CallOffBoundary:
    pushl %ebp
    movl %esp, %ebp
    pushl %esi
    pushl %edi
    movl 16(%ebp), %ecx
    leal 0(,%ecx,4), %eax
    movl %esp, %edi
    subl %eax, %edi
    subl $32, %edi
    andl $-16, %edi
    addl 20(%ebp), %edi
    movl %edi, %esp
    movl 12(%ebp), %esi
    cld
    rep movsl
    call *8(%ebp)
    leal -8(%ebp), %esp
    popl %edi
    popl %esi
    popl %ebp
    ret

    .p2align 4
    .globl _brvst_StackOffsetAtCall
    .def _brvst_StackOffsetAtCall; .scl 2; .type 32; .endef
_brvst_StackOffsetAtCall:
    leal 4(%esp), %eax
    andl $15, %eax
    ret
)");
// clang-format on

namespace brvst::test {
namespace {

// 0 is the reference every other offset is compared with.
constexpr uint32_t kOffsets[] = {0, 4, 8, 12};

// One 32-bit argument word: integers (opcodes are enumerators), pointers, and floats by their
// bits. Each type in its own way only, so that no integer passes as a float.
template <typename T>
uint32_t ToWord(T value) {
  if constexpr (std::is_same_v<T, float>) {
    return std::bit_cast<uint32_t>(value);
  } else if constexpr (std::is_pointer_v<T> || std::is_null_pointer_v<T>) {
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(value));
  } else {
    static_assert(std::is_integral_v<T> || std::is_enum_v<T>, "no other argument word");
    return static_cast<uint32_t>(value);
  }
}

template <typename Function, typename... Args>
uint32_t CallAt(uint32_t offset, Function* function, Args... args) {
  const uint32_t words[] = {0, ToWord(args)...};  // the first only keeps the array from being empty
  return brvst_CallOffBoundary(reinterpret_cast<const void*>(function), words + 1, sizeof...(args),
                               offset);
}

// A COM method by its slot, as a host calls it.
template <typename Interface>
const void* Slot(Interface* object, int slot) {
  return (*reinterpret_cast<const void* const* const*>(object))[slot];
}

class MisalignedStack : public ::testing::Test {
 protected:
  void SetUp() override {
    for (uint32_t offset : kOffsets)
      ASSERT_EQ(CallAt(offset, brvst_StackOffsetAtCall), offset) << "the stack is not off";
  }
};

TEST_F(MisalignedStack, AdapterExports) {
  const std::string path = BinPath(BRVST_ADAPTER_FILE);
  HMODULE module = LoadLibraryA(path.c_str());
  ASSERT_NE(module, nullptr) << path;
  const auto dllMain = GetProcAddress(module, "DllMain");
  const auto canUnloadNow = GetProcAddress(module, "DllCanUnloadNow");
  const auto init = GetProcAddress(module, "InitAdapterResources");
  const auto release = GetProcAddress(module, "ReleaseAdapterResources");
  ASSERT_TRUE(dllMain && canUnloadNow && init && release);
  for (uint32_t offset : kOffsets) {
    SCOPED_TRACE(offset);
    // Attaching again rebuilds the plug-in list from the module's own path.
    EXPECT_EQ(CallAt(offset, dllMain, module, DLL_PROCESS_ATTACH, nullptr), TRUE);
    EXPECT_EQ(static_cast<HRESULT>(CallAt(offset, canUnloadNow)), S_FALSE);
    CallAt(offset, init);
    WNDCLASSA wc{};
    EXPECT_NE(GetClassInfoA(module, "PanelWndClass", &wc), FALSE);
    EXPECT_EQ(static_cast<HRESULT>(CallAt(offset, release)), S_OK);
    EXPECT_EQ(GetClassInfoA(module, "PanelWndClass", &wc), FALSE);
  }
  FreeLibrary(module);
}

TEST_F(MisalignedStack, FilterComMethods) {
  PluginRecord record = RecordFor(BinPath("probe_effect.dll"));
  FilterPtr filter = MakeFilter(record);
  ASSERT_TRUE(filter);
  IBaseFilter* base = filter.get();
  IPin* input = filter->GetPin(0);
  ASSERT_NE(input, nullptr);
  AudioType stereo(44100, 2), surround(44100, 6);
  // Slots in the published order: IPersist::GetClassID 3, IBaseFilter::QueryFilterInfo 12 and
  // JoinFilterGraph 13, IPin::QueryAccept 11.
  for (uint32_t offset : kOffsets) {
    SCOPED_TRACE(offset);
    CLSID clsid{};
    EXPECT_EQ(static_cast<HRESULT>(CallAt(offset, Slot(base, 3), base, &clsid)), S_OK);
    EXPECT_EQ(clsid, record.FilterClsid);
    const std::wstring name = L"Adapter " + std::to_wstring(offset);
    EXPECT_EQ(static_cast<HRESULT>(CallAt(offset, Slot(base, 13), base, nullptr, name.c_str())),
              S_OK);
    FILTER_INFO info{};
    EXPECT_EQ(static_cast<HRESULT>(CallAt(offset, Slot(base, 12), base, &info)), S_OK);
    EXPECT_EQ(info.achName, name);
    EXPECT_EQ(info.pGraph, nullptr);
    EXPECT_EQ(static_cast<HRESULT>(CallAt(offset, Slot(input, 11), input, &stereo.type)), S_OK);
    EXPECT_EQ(static_cast<HRESULT>(CallAt(offset, Slot(input, 11), input, &surround.type)),
              S_FALSE);
  }
}

// A tempo map of 120 quarters of 960 ticks a minute at 120 bpm less a hundredth.
struct SteadyTempoMap final : IHostTempoMap {
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  LONG STDMETHODCALLTYPE MsFromEventTime(LONG time) override { return time; }
  LONG STDMETHODCALLTYPE TicksFromMs(LONG ms) override { return ms * 2; }
  LONG STDMETHODCALLTYPE TicksPerQuarter() override { return 960; }
  LONG STDMETHODCALLTYPE TempoEntryAt(LONG) override { return 0; }
  HRESULT STDMETHODCALLTYPE Reserved5() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTempoEntry(LONG, LONG* first, LONG* tempo100) override {
    *first = 0;
    *tempo100 = 11999;
    return S_OK;
  }
};

TEST_F(MisalignedStack, HostCallback) {
  ProbeFilter probe("probe_effect.dll");
  SteadyTempoMap tempoMap;
  probe.filter->HostTimeSource = &tempoMap;
  SetFormat(*probe.filter, 0, 44100);
  SetFormat(*probe.filter, 1, 44100);
  probe.filter->StreamPosition = 110250;  // 2500 ms
  vst2::AEffect* effect = probe.plugin().effect;
  for (uint32_t offset : kOffsets) {
    SCOPED_TRACE(offset);
    const auto call = [&](int32_t opcode, intptr_t value, void* ptr, float opt) {
      return CallAt(offset, HostCallback, effect, opcode, 0, value, ptr, opt);
    };
    const auto* info = reinterpret_cast<const vst2::VstTimeInfo*>(
        call(vst2::audioMasterGetTime, vst2::kVstPpqPosValid | vst2::kVstTempoValid, nullptr, 0));
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->samplePos, 110250.0);
    EXPECT_EQ(info->nanoSeconds, 2.5e9);
    EXPECT_EQ(info->ppqPos, 5000.0 / 960.0);
    EXPECT_EQ(info->tempo, 11999 * static_cast<double>(0.01f));
    EXPECT_EQ(call(vst2::audioMasterTempoAt, 0, nullptr, 0), 1199899u);
    EXPECT_EQ(call(vst2::audioMasterGetSampleRate, 0, nullptr, 0), 44100u);
    char canDo[] = "sizeWindow";
    EXPECT_EQ(call(vst2::audioMasterCanDo, 0, canDo, 0.5f), 1u);
  }
  probe.filter->HostTimeSource = nullptr;
}

// VID 84 is called by hosts of every compiler: its entry point, dispatcher, parameters and
// processing, from opening to closing.
TEST_F(MisalignedStack, Vid84FromEntryToClose) {
  PluginModule module("VID 84.dll");
  const auto entry = module.find<vst2::EntryProc>("VSTPluginMain");
  ASSERT_NE(entry, nullptr);
  constexpr int32_t kFrames = 512, kBlocks = 6;
  std::vector<float> in(kFrames);
  uint32_t seed = 7;
  for (float& x : in) {
    seed = seed * 1664525u + 1013904223u;
    x = static_cast<float>(seed >> 8) / 8388608.0f - 1.0f;
  }
  std::vector<float> reference;
  for (uint32_t offset : kOffsets) {
    SCOPED_TRACE(offset);
    auto* effect = reinterpret_cast<vst2::AEffect*>(CallAt(offset, entry, &TestHost));
    ASSERT_NE(effect, nullptr);
    const auto dispatch = [&](int32_t opcode, intptr_t value, float opt) {
      return CallAt(offset, effect->dispatcher, effect, opcode, 0, value, nullptr, opt);
    };
    dispatch(vst2::effOpen, 0, 0);
    dispatch(vst2::effSetSampleRate, 0, 48000.0f);
    dispatch(vst2::effSetBlockSize, kFrames, 0);
    const float values[] = {0.1f, 0.6f, 0.4f, 0.5f, 0.5f, 0.8f};
    for (int32_t i = 0; i < 6; ++i) CallAt(offset, effect->setParameter, effect, i, values[i]);
    dispatch(vst2::effMainsChanged, 1, 0);
    std::vector<float> out(2 * kFrames * kBlocks);
    for (int32_t block = 0; block < kBlocks; ++block) {
      float* inputs[] = {in.data(), in.data()};
      float* outputs[] = {&out[2 * block * kFrames], &out[(2 * block + 1) * kFrames]};
      CallAt(offset, effect->processReplacing, effect, inputs, outputs, kFrames);
    }
    dispatch(vst2::effMainsChanged, 0, 0);
    dispatch(vst2::effClose, 0, 0);
    if (offset == 0) {
      reference = out;
      ASSERT_NE(std::count(out.begin(), out.end(), 0.0f), std::ssize(out)) << "it made no sound";
    } else {
      EXPECT_EQ(out, reference);
    }
  }
}

}  // namespace
}  // namespace brvst::test
