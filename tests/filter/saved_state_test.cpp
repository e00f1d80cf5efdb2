// The filter's saved state through IPersistStream: the layout byte for byte, round trips, the
// dirty flag, and streams that are damaged or come from another version of the plug-in.
#include "alloc_counter.h"
#include "host/memory_stream.h"
#include "tests/vsthost/probe_harness.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace brvst::test {

using host::MemoryStream;
namespace {

// Expected stream contents, written out field by field.
struct Bytes {
  Bytes& Prefix(const char* text = "00000000000 ") {
    for (const char* c = text; *c != 0; ++c) v.insert(v.end(), {static_cast<uint8_t>(*c), 0});
    return *this;
  }
  Bytes& U32(uint32_t x) {
    for (int b = 0; b < 4; ++b) v.push_back(static_cast<uint8_t>(x >> (8 * b)));
    return *this;
  }
  Bytes& F32(float f) {
    uint32_t x;
    std::memcpy(&x, &f, 4);
    return U32(x);
  }
  Bytes& Name(const std::string& name) {
    std::vector<uint8_t> field(64, 0);
    std::memcpy(field.data(), name.data(), std::min<size_t>(name.size(), 64));
    v.insert(v.end(), field.begin(), field.end());
    return *this;
  }
  Bytes& Raw(const void* data, size_t size) {
    v.insert(v.end(), static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size);
    return *this;
  }
  std::vector<uint8_t> v;
};

std::vector<uint8_t> SaveState(AdapterFilter& filter, BOOL clearDirty = FALSE) {
  MemoryStream stream;
  EXPECT_EQ(filter.Save(&stream, clearDirty), S_OK);
  return stream.Bytes();
}

HRESULT LoadState(AdapterFilter& filter, std::vector<uint8_t> bytes) {
  MemoryStream stream(std::move(bytes));
  return filter.Load(&stream);
}

// Every program's name and parameters, and the current program.
struct Snapshot {
  explicit Snapshot(VstPlugInstance& plugin) {
    current = plugin.GetProgram();
    for (int32_t p = 0; p < plugin.GetNumPrograms(); ++p) {
      plugin.SetProgram(p);
      char name[64] = {};
      plugin.GetProgramName(p, name);
      names.emplace_back(name);
      for (int32_t k = 0; k < plugin.GetNumParams(); ++k) values.push_back(plugin.GetParameter(k));
    }
    plugin.SetProgram(current);
  }
  bool operator==(const Snapshot&) const = default;
  int32_t current;
  std::vector<std::string> names;
  std::vector<float> values;
};

// Gives every program another name and every parameter another value, then selects `current`.
void ChangeEverything(VstPlugInstance& plugin, int32_t current) {
  for (int32_t p = 0; p < plugin.GetNumPrograms(); ++p) {
    plugin.SetProgram(p);
    plugin.SetProgramName(p, ("Changed " + std::to_string(p)).c_str());
    for (int32_t k = 0; k < plugin.GetNumParams(); ++k)
      plugin.SetParameter(k, 1.0f - plugin.GetParameter(k) / 2);
  }
  plugin.SetProgram(current);
}

TEST(SavedState, ParameterFormIsByteExact) {
  ProbeFilter probe("probe_small.dll");  // 2 programs of 3 parameters
  probe.plugin().SetProgram(1);
  Bytes expected;
  expected.Prefix().U32(180).U32(0).U32(2).U32(3);
  for (int32_t p = 0; p < 2; ++p) {
    expected.Name(p == 0 ? "Init" : "Bright");
    for (int32_t k = 0; k < 3; ++k) expected.F32(probe::ProbeInitialParameter(p, k));
  }
  expected.U32(1).U32(0).U32(0);
  ASSERT_EQ(expected.v.size(), 204u);

  EXPECT_EQ(SaveState(*probe.filter), expected.v);
  EXPECT_EQ(probe.plugin().GetProgram(), 1) << "saving visits every program and comes back";
  ULARGE_INTEGER size{};
  ASSERT_EQ(probe.filter->GetSizeMax(&size), S_OK);
  EXPECT_EQ(size.QuadPart, 204u);
}

TEST(SavedState, ChunkFormIsByteExact) {
  ProbeFilter probe("probe_chunks.dll");
  probe.plugin().SetProgram(2);
  void* chunk = nullptr;
  const int32_t chunkSize = probe.plugin().GetChunk(false, &chunk);
  ASSERT_EQ(chunkSize, 48);  // 3 programs of 4 floats
  Bytes expected;
  expected.Prefix().U32(72).U32(1).U32(48).Raw(chunk, 48).U32(2).U32(0).U32(0);

  EXPECT_EQ(SaveState(*probe.filter), expected.v);
  ULARGE_INTEGER size{};
  ASSERT_EQ(probe.filter->GetSizeMax(&size), S_OK);
  EXPECT_EQ(size.QuadPart, 96u);
}

TEST(SavedState, LoadRestoresEverythingAndTheDirtyFlagFollowsChanges) {
  for (const char* file : {"probe_effect.dll", "probe_chunks.dll"}) {
    SCOPED_TRACE(file);
    ProbeFilter probe(file);
    VstPlugInstance& plugin = probe.plugin();
    plugin.SetProgram(1);
    plugin.SetParameter(2, 0.625f);
    const Snapshot before(plugin);
    EXPECT_EQ(probe.filter->IsDirty(), S_OK) << "a new filter is dirty";
    const std::vector<uint8_t> state = SaveState(*probe.filter, TRUE);
    EXPECT_EQ(probe.filter->IsDirty(), S_FALSE);
    plugin.SetParameter(0, 0.5f);
    EXPECT_EQ(probe.filter->IsDirty(), S_OK) << "until the next parameter change";

    ChangeEverything(plugin, 2);
    // The chunk form keeps no program names: only the parameters and the program come back.
    const bool chunks = plugin.programsAreChunks;
    const Snapshot changed(plugin);
    ASSERT_NE(changed.values, before.values);
    probe.filter->SetDirty(FALSE);
    ASSERT_EQ(LoadState(*probe.filter, state), S_OK);
    Snapshot after(plugin);
    if (chunks) after.names = before.names;
    EXPECT_EQ(after, before);
    EXPECT_EQ(probe.filter->IsDirty(), S_OK) << "a loaded filter reports itself dirty";
  }
}

TEST(SavedState, ADamagedStreamChangesNothingAndAnswersAnError) {
  for (const char* file : {"probe_small.dll", "probe_chunks.dll"}) {
    SCOPED_TRACE(file);
    ProbeFilter probe(file);
    const std::vector<uint8_t> good = SaveState(*probe.filter);
    probe.filter->SetDirty(FALSE);
    // Ends inside the prefix or the body (a stream ending right after the prefix holds no body
    // at all: see below), answering the short read with S_FALSE or with S_OK.
    for (size_t length = 0; length < good.size(); ++length) {
      if (length == 24) continue;
      for (HRESULT shortRead : {S_FALSE, S_OK}) {
        MemoryStream stream(std::vector<uint8_t>(good.begin(), good.begin() + length));
        stream.ShortReadsAnswer(shortRead);
        probe.hold.Reset();
        EXPECT_EQ(probe.filter->Load(&stream), E_FAIL) << length << " bytes";
        EXPECT_EQ(probe.hold.Log().count, 0u) << length << " bytes: the plug-in heard of it";
      }
    }
    MemoryStream failing(good);
    failing.FailFrom(40, STG_E_READFAULT);
    probe.hold.Reset();
    EXPECT_EQ(probe.filter->Load(&failing), STG_E_READFAULT) << "the stream's own error";
    EXPECT_EQ(probe.hold.Log().count, 0u);
    EXPECT_EQ(probe.filter->Load(nullptr), E_POINTER);
    EXPECT_EQ(probe.filter->IsDirty(), S_FALSE);
  }
}

TEST(SavedState, SizesReadFromAStreamAllocateNoMoreThanItHolds) {
  ProbeFilter probe("probe_effect.dll");
  const std::vector<uint8_t> filler(100000, 0x41);
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
  };
  const Case cases[] = {
      {"a 4 GB chunk", Bytes().Prefix().U32(0).U32(1).U32(0xFFFFFFFF).v},
      {"a chunk past the cap", Bytes().Prefix().U32(0).U32(1).U32((256u << 20) + 1).v},
      {"a 200 MB chunk of 100 kB",
       Bytes().Prefix().U32(0).U32(1).U32(200u << 20).Raw(filler.data(), filler.size()).v},
      {"2^31 - 1 programs", Bytes().Prefix().U32(0).U32(0).U32(0x7FFFFFFF).U32(4).v},
      {"programs of 2^31 - 1 parameters", Bytes().Prefix().U32(0).U32(0).U32(2).U32(0x7FFFFFFF).v},
      {"a negative count", Bytes().Prefix().U32(0).U32(0).U32(0xFFFFFFFF).U32(0).U32(0).v},
  };
  for (const Case& c : cases) {
    MemoryStream stream(c.bytes);
    probe.hold.Reset();
    HRESULT hr;
    {
      // Far less than any of the sizes claimed; reading what is there needs no more.
      AllocationFailure failure(1 << 20);
      hr = probe.filter->Load(&stream);
    }
    EXPECT_EQ(hr, E_FAIL) << c.what;
    EXPECT_EQ(probe.hold.Log().count, 0u) << c.what;
  }
}

TEST(SavedState, APrefixAloneOrAnotherVersionsStreamLoadsAsFarAsItGoes) {
  ProbeFilter probe("probe_effect.dll");  // 3 programs of 4 parameters
  VstPlugInstance& plugin = probe.plugin();
  plugin.SetProgram(2);
  probe.hold.Reset();
  ASSERT_EQ(LoadState(*probe.filter, Bytes().Prefix().v), S_OK);
  EXPECT_EQ(plugin.GetProgram(), 0) << "no body: program 0 and nothing else";
  EXPECT_TRUE(probe.hold.Entries(probe::kProbeSetParameter).empty());
  for (const auto& e : probe.hold.Entries(probe::kProbeDispatch))
    EXPECT_TRUE(e.opcode != vst2::effSetChunk && e.opcode != vst2::effSetProgramName) << e.opcode;

  // 5 programs of 6 parameters: what the plug-in has room for is taken, the rest ignored (the
  // programs it lacks must not land on its last one). A name fills all 64 bytes without a
  // terminator.
  Bytes foreign;
  foreign.Prefix().U32(0).U32(0).U32(5).U32(6);
  for (int p = 0; p < 5; ++p) {
    foreign.Name(p == 2 ? std::string(64, 'x') : "Foreign " + std::to_string(p));
    for (int k = 0; k < 6; ++k) foreign.F32(static_cast<float>(p * 6 + k) / 64);
  }
  foreign.U32(2).U32(0).U32(0);
  probe.hold.Reset();
  ASSERT_EQ(LoadState(*probe.filter, foreign.v), S_OK);
  const Snapshot loaded(plugin);
  EXPECT_EQ(loaded.current, 2);
  EXPECT_EQ(loaded.names,
            (std::vector<std::string>{"Foreign 0", "Foreign 1", std::string(63, 'x')}));
  const std::vector<float> values = {0 / 64.f,  1 / 64.f,  2 / 64.f,  3 / 64.f,
                                     6 / 64.f,  7 / 64.f,  8 / 64.f,  9 / 64.f,
                                     12 / 64.f, 13 / 64.f, 14 / 64.f, 15 / 64.f};
  EXPECT_EQ(loaded.values, values);
  size_t longest = 0;
  for (const auto& e : probe.hold.Entries(probe::kProbeDispatch))
    if (e.opcode == vst2::effSetProgramName) longest = std::max(longest, std::strlen(e.text));
  EXPECT_EQ(longest, 63u) << "the plug-in gets a terminated name";
}

TEST(SavedState, AFailedWriteIsReportedAndLeavesTheFilterDirty) {
  ProbeFilter probe("probe_effect.dll");
  probe.plugin().SetProgram(1);
  probe.filter->SetDirty(FALSE);
  for (size_t failAt : {size_t{40}, size_t{200}}) {  // in the body
    MemoryStream stream;
    stream.FailFrom(failAt, STG_E_WRITEFAULT);
    EXPECT_EQ(probe.filter->Save(&stream, TRUE), STG_E_WRITEFAULT) << failAt;
    EXPECT_EQ(probe.filter->IsDirty(), S_OK) << failAt;
    EXPECT_EQ(probe.plugin().GetProgram(), 1) << failAt;
  }
  EXPECT_EQ(probe.filter->Save(nullptr, TRUE), E_POINTER);
}

}  // namespace
}  // namespace brvst::test
