// Preset (FXP) and bank (FXB) files: the bytes written, the files read back, and files that are
// not what they claim, against probe plug-ins.
#include "tests/vsthost/preset_file_support.h"
#include "tests/vsthost/probe_harness.h"

#include "alloc_counter.h"
#include "desktop_script.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace brvst::test {
namespace {

using ::testing::ElementsAre;

const char kNotPreset[] = "The effect file you tried to load is not a valid VST Preset file (#1).";
const char kNotPresetKind[] =
    "The effect file you tried to load is not a valid VST Preset file (#2).";
const char kOtherPlugIn[] = "The effect file you tried to load is not for this plug-in.";
const char kNotBank[] = "The effect file you tried to load is not a valid VST Bank file.";
const char kDamaged[] = "The file is damaged or incomplete.";

constexpr int32_t kSmallId = vst2::FourCC('P', 'r', 'b', 'T');
constexpr int32_t kChunksId = vst2::FourCC('P', 'r', 'b', 'C');
constexpr int32_t kEffectId = vst2::FourCC('P', 'r', 'b', 'E');

// The texts of the message boxes shown, each checked for the adapter's caption.
std::vector<std::string> Messages(const DesktopScript& desktop) {
  std::vector<std::string> texts;
  for (const Shown& shown : desktop.shown()) {
    EXPECT_EQ(shown.kind, Shown::Kind::Box);
    EXPECT_EQ(shown.caption, "VST Adapter Error");
    texts.push_back(shown.text);
  }
  return texts;
}

// A probe's parameter record of `program`, as a preset record carries it.
Bytes ValueRecord(int32_t id, const char* name, const std::vector<float>& values) {
  BigEndian b;
  b.Tag("CcnK").Word(48 + 4 * values.size()).Tag("FxCk").Word(1).Word(id).Word(1);
  b.Word(values.size()).Name(name);
  for (float v : values) b.Float(v);
  return b.bytes;
}

// The chunk of probe_chunks: its parameters as the floats of its own memory.
Bytes NativeFloats(const std::vector<float>& values) {
  Bytes bytes(values.size() * sizeof(float));
  std::memcpy(bytes.data(), values.data(), bytes.size());
  return bytes;
}

Bytes BankHeader(uint32_t byteSize, int32_t id, uint32_t programs) {
  BigEndian b;
  b.Tag("CcnK").Word(byteSize).Tag("FxBk").Word(1).Word(id).Word(1).Word(programs).Zeros(128);
  return b.bytes;
}

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

std::vector<float> Values(VstPlugInstance& plugin) {
  std::vector<float> values;
  for (int32_t i = 0; i < plugin.GetNumParams(); ++i) values.push_back(plugin.GetParameter(i));
  return values;
}

std::vector<float> Initial(int32_t program, int32_t count) {
  std::vector<float> values;
  for (int32_t i = 0; i < count; ++i) values.push_back(probe::ProbeInitialParameter(program, i));
  return values;
}

// Whether the probe got any call that changes it since its log was reset.
bool AnythingChanged(const ModuleHold& hold) {
  if (!hold.Entries(probe::kProbeSetParameter).empty()) return true;
  for (int32_t opcode : hold.DispatchOpcodes()) {
    if (opcode == vst2::effSetProgram || opcode == vst2::effSetProgramName ||
        opcode == vst2::effSetChunk)
      return true;
  }
  return false;
}

TEST(PresetFileLayout, APresetOfThreeParametersIs68BytesAndAChunkPresetCarriesItsChunk) {
  DesktopScript desktop;
  ProbeFilter small("probe_small.dll");
  small.plugin().SetParameter(1, 0.75f);
  const Bytes values = SaveWith(&VstPlugInstance::SavePreset, small.plugin());
  EXPECT_EQ(values, ValueRecord(kSmallId, "Init", {0.10f, 0.75f, 0.30f}));
  EXPECT_EQ(values.size(), 68u);
  EXPECT_EQ(BigEndianWord(values, 4), 60u);

  ProbeFilter chunks("probe_chunks.dll");
  chunks.plugin().SetProgram(2);
  BigEndian expected;
  expected.Tag("CcnK").Word(16 + 52).Tag("FPCh").Word(1).Word(kChunksId).Word(1).Word(4);
  expected.Name("Dark").Word(16).Raw(NativeFloats(Initial(2, 4)));
  EXPECT_EQ(SaveWith(&VstPlugInstance::SavePreset, chunks.plugin()), expected.bytes);
  EXPECT_TRUE(desktop.shown().empty());
}

TEST(PresetFileLayout, ABankOfTwoProgramsIs292BytesAndSavingEndsOnTheProgramItStartedFrom) {
  ProbeFilter small("probe_small.dll");
  VstPlugInstance& plugin = small.plugin();
  plugin.SetProgram(1);
  const Bytes bank = SaveWith(&VstPlugInstance::SaveBank, plugin);
  EXPECT_EQ(bank, Join({BankHeader(284, kSmallId, 2), ValueRecord(kSmallId, "Init", Initial(0, 3)),
                        ValueRecord(kSmallId, "Bright", Initial(1, 3))}));
  EXPECT_EQ(bank.size(), 292u);
  EXPECT_EQ(plugin.GetProgram(), 1);

  ProbeFilter chunks("probe_chunks.dll");
  chunks.plugin().SetProgram(1);
  std::vector<float> all;
  for (int32_t p = 0; p < 3; ++p)
    for (float v : Initial(p, 4)) all.push_back(v);
  BigEndian chunk;
  chunk.Word(48).Raw(NativeFloats(all));
  EXPECT_EQ(SaveWith(&VstPlugInstance::SaveBank, chunks.plugin()),
            Join({BankHeader(48 + 152, kChunksId, 3), chunk.bytes}));
  EXPECT_EQ(chunks.plugin().GetProgram(), 1);
}

TEST(PresetFileLayout, SavedNamesStopAtTheirEndAndAProgramWithoutANameSavesAnEmptyOne) {
  ProbeFilter probe("probe_small.dll");
  VstPlugInstance& plugin = probe.plugin();
  plugin.SetProgramName(0, "A much longer name than this");
  plugin.SetProgramName(0, "Short");
  EXPECT_EQ(SaveWith(&VstPlugInstance::SavePreset, plugin),
            ValueRecord(kSmallId, "Short", Initial(0, 3)));

  // The plug-in is on a program it does not report: the file carries an empty name.
  plugin.Dispatch(vst2::effSetProgram, 2, 2);
  EXPECT_EQ(SaveWith(&VstPlugInstance::SavePreset, plugin),
            ValueRecord(kSmallId, "", Initial(2, 3)));
}

// A plug-in whose chunk has a size but no address, as a faulty plug-in may answer.
class AddresslessChunk : public VstPlugInstance {
 public:
  using VstPlugInstance::VstPlugInstance;
  int32_t GetChunk(bool, void** data) override {
    *data = nullptr;
    return 100;
  }
};

TEST(PresetFileLayout, AChunkWithoutAnAddressIsSavedAsAnEmptyChunkSoTheFileStaysWhole) {
  ProbeFilter probe("probe_chunks.dll");
  AddresslessChunk plugin(probe.filter.get());
  plugin.Load(probe.record.DllPath);
  ASSERT_TRUE(plugin.programsAreChunks);
  const Bytes preset = SaveWith(&VstPlugInstance::SavePreset, plugin);
  ASSERT_EQ(preset.size(), 60u);
  EXPECT_EQ(std::pair(BigEndianWord(preset, 4), BigEndianWord(preset, 56)), std::pair(52u, 0u));
  const Bytes bank = SaveWith(&VstPlugInstance::SaveBank, plugin);
  ASSERT_EQ(bank.size(), 160u);
  EXPECT_EQ(std::pair(BigEndianWord(bank, 4), BigEndianWord(bank, 156)), std::pair(152u, 0u));
}

TEST(PresetFileRoundTrip, APresetComesBackInBothLayoutsAndMarksTheFilterDirty) {
  for (const char* file : {"probe_effect.dll", "probe_chunks.dll"}) {
    SCOPED_TRACE(file);
    DesktopScript desktop;
    ProbeFilter probe(file);
    VstPlugInstance& plugin = probe.plugin();
    plugin.SetProgram(1);
    plugin.SetProgramName(1, "Saved");
    plugin.SetParameter(0, 0.5f);
    plugin.SetParameter(3, 0.25f);
    const std::vector<float> saved = Values(plugin);
    const Bytes preset = SaveWith(&VstPlugInstance::SavePreset, plugin);

    plugin.SetProgramName(1, "Changed");
    for (int32_t i = 0; i < 4; ++i) plugin.SetParameter(i, 0.875f);
    probe.filter->SetDirty(FALSE);
    LoadWith(&VstPlugInstance::LoadPreset, plugin, preset);
    EXPECT_EQ(Values(plugin), saved);
    EXPECT_STREQ(plugin.programNames[1], "Saved");
    EXPECT_EQ(plugin.GetProgram(), 1);
    EXPECT_TRUE(probe.filter->Dirty());
    EXPECT_TRUE(desktop.shown().empty());
  }
}

TEST(PresetFileRoundTrip, ABankComesBackInBothLayoutsAndEndsOnTheProgramThatWasCurrent) {
  for (const char* file : {"probe_effect.dll", "probe_chunks.dll", "probe_unindexed.dll"}) {
    SCOPED_TRACE(file);
    DesktopScript desktop;
    ProbeFilter probe(file);
    VstPlugInstance& plugin = probe.plugin();
    std::vector<std::vector<float>> saved;
    for (int32_t p = 0; p < 3; ++p) {
      plugin.SetProgram(p);
      plugin.SetParameter(p, 0.125f * static_cast<float>(p + 1));
      saved.push_back(Values(plugin));
    }
    const Bytes bank = SaveWith(&VstPlugInstance::SaveBank, plugin);

    for (int32_t p = 0; p < 3; ++p) {
      plugin.SetProgram(p);
      plugin.SetProgramName(p, "Changed");
      for (int32_t i = 0; i < 4; ++i) plugin.SetParameter(i, 0.875f);
    }
    plugin.SetProgram(1);
    // The probe's bank chunk holds no names: the cache takes what the plug-in reports after it.
    const bool chunks = plugin.programsAreChunks;
    if (chunks)
      for (int32_t p = 0; p < 3; ++p) std::strcpy(plugin.programNames[p], "Stale");
    probe.filter->SetDirty(FALSE);
    LoadWith(&VstPlugInstance::LoadBank, plugin, bank);
    EXPECT_EQ(plugin.GetProgram(), 1);
    const char* names[] = {"Init", "Bright", "Dark"};
    for (int32_t p = 0; p < 3; ++p) {
      plugin.SetProgram(p);
      EXPECT_EQ(Values(plugin), saved[p]) << "program " << p;
      EXPECT_STREQ(plugin.programNames[p], chunks ? "Changed" : names[p]);
    }
    // Every layout leaves the filter dirty, a bank chunk too: its programs are new.
    EXPECT_TRUE(probe.filter->Dirty());
    EXPECT_TRUE(desktop.shown().empty());
  }
}

TEST(PresetFileReading, TheMagicOnlyHasToBeOneOfTheTwoThePlugInDecidesTheLayout) {
  ProbeFilter values("probe_small.dll");
  Bytes record = ValueRecord(kSmallId, "Init", {0.5f, 0.25f, 0.125f});
  std::memcpy(record.data() + 8, "FPCh", 4);
  LoadWith(&VstPlugInstance::LoadPreset, values.plugin(), record);
  EXPECT_THAT(Values(values.plugin()), ElementsAre(0.5f, 0.25f, 0.125f));

  ProbeFilter chunks("probe_chunks.dll");
  const std::vector<float> wanted = {0.5f, 0.25f, 0.125f, 1.0f};
  BigEndian b;
  b.Tag("CcnK").Word(68).Tag("FxCk").Word(1).Word(kChunksId).Word(1).Word(4).Name("Init");
  b.Word(16).Raw(NativeFloats(wanted));
  LoadWith(&VstPlugInstance::LoadPreset, chunks.plugin(), b.bytes);
  EXPECT_EQ(Values(chunks.plugin()), wanted);
}

TEST(PresetFileReading, ANameOf28CharactersWithoutANulIsTakenWhole) {
  ProbeFilter probe("probe_unindexed.dll");
  BigEndian b;
  b.Tag("CcnK").Word(48).Tag("FxCk").Word(1).Word(vst2::FourCC('P', 'r', 'b', 'I')).Word(1);
  b.Word(0).Raw(Bytes(28, 'n'));
  LoadWith(&VstPlugInstance::LoadPreset, probe.plugin(), b.bytes);
  EXPECT_EQ(std::string(probe.plugin().programNames[0]), std::string(28, 'n'));
}

TEST(PresetFileReading, NamesALongWindedPlugInReportsAreCutToTheCacheAndNothingBesideIt) {
  ProbeFilter probe("probe_long_texts.dll");
  VstPlugInstance& plugin = probe.plugin();
  const std::string neighbour = plugin.programNames[1];
  LoadWith(&VstPlugInstance::LoadPreset, plugin,
           ValueRecord(vst2::FourCC('P', 'r', 'b', 'W'), "Loaded", {}));
  // The plug-in answers a 100-character name: the cache keeps 63 and its terminator.
  EXPECT_EQ(std::string(plugin.programNames[0]), "Loaded" + std::string(57, '~'));
  EXPECT_EQ(plugin.programNames[1], neighbour);
}

TEST(PresetFileReading, ABankWithFewerRecordsLeavesTheRestAndExtraRecordsLandOnTheLastProgram) {
  ProbeFilter probe("probe_small.dll");  // reports 2 programs
  VstPlugInstance& plugin = probe.plugin();
  LoadWith(&VstPlugInstance::LoadBank, plugin,
           Join({BankHeader(0, kSmallId, 1), ValueRecord(kSmallId, "One", {0.5f, 0.5f, 0.5f})}));
  EXPECT_THAT(Values(plugin), ElementsAre(0.5f, 0.5f, 0.5f));
  plugin.SetProgram(1);
  EXPECT_EQ(Values(plugin), Initial(1, 3));
  EXPECT_STREQ(plugin.programNames[1], "Bright");

  plugin.SetProgram(0);
  LoadWith(&VstPlugInstance::LoadBank, plugin,
           Join({BankHeader(0, kSmallId, 3), ValueRecord(kSmallId, "A", {0.25f, 0.25f, 0.25f}),
                 ValueRecord(kSmallId, "B", {0.5f, 0.5f, 0.5f}),
                 ValueRecord(kSmallId, "C", {0.75f, 0.75f, 0.75f})}));
  EXPECT_THAT(Values(plugin), ElementsAre(0.25f, 0.25f, 0.25f));
  plugin.SetProgram(1);
  EXPECT_THAT(Values(plugin), ElementsAre(0.75f, 0.75f, 0.75f));
  EXPECT_STREQ(plugin.programNames[1], "C");
}

TEST(PresetFileReading, ABankRecordThatFailsItsChecksIsReportedAndTheNextRecordStillLoads) {
  DesktopScript desktop;
  ProbeFilter probe("probe_effect.dll");
  VstPlugInstance& plugin = probe.plugin();
  Bytes notPreset = ValueRecord(kEffectId, "X", {0.5f});
  std::memcpy(notPreset.data(), "Junk", 4);
  LoadWith(&VstPlugInstance::LoadBank, plugin,
           Join({BankHeader(0, kEffectId, 3), ValueRecord(kSmallId, "Foreign", {0.5f, 0.5f}),
                 notPreset, ValueRecord(kEffectId, "Mine", {0.625f})}));
  EXPECT_THAT(Messages(desktop), ElementsAre(kOtherPlugIn, kNotPreset));
  plugin.SetProgram(0);
  EXPECT_EQ(Values(plugin), Initial(0, 4));
  EXPECT_STREQ(plugin.programNames[1], "Bright");
  plugin.SetProgram(2);
  EXPECT_EQ(Values(plugin)[0], 0.625f);
  EXPECT_STREQ(plugin.programNames[2], "Mine");
}

// A file that fails a check, with the message it gets.
struct BadFile {
  const char* what;
  Bytes bytes;
  const char* message;
};

Bytes Patched(Bytes bytes, size_t at, const char* tag) {
  std::memcpy(bytes.data() + at, tag, 4);
  return bytes;
}

// Lengths that cut `file` inside each of its 32-bit words, and the empty file. (Every length
// would do; under Windows each refusal is a real message box, so one per word.)
std::vector<size_t> CutsOf(const Bytes& file) {
  std::vector<size_t> lengths = {0};
  for (size_t length = 3; length < file.size(); length += 4) lengths.push_back(length);
  return lengths;
}

// Loads `file` with `load` and checks its one message and that the plug-in saw no change.
void ExpectRefused(ProbeFilter& probe, void (VstPlugInstance::*load)(FILE*), const BadFile& file) {
  SCOPED_TRACE(file.what);
  VstPlugInstance& plugin = probe.plugin();
  const std::vector<float> before = Values(plugin);
  const int32_t program = plugin.GetProgram();
  probe.filter->SetDirty(FALSE);
  probe.hold.Reset();
  DesktopScript desktop;
  LoadWith(load, plugin, file.bytes);
  EXPECT_THAT(Messages(desktop), ElementsAre(file.message));
  EXPECT_FALSE(AnythingChanged(probe.hold));
  EXPECT_EQ(plugin.GetProgram(), program);
  EXPECT_EQ(Values(plugin), before);
  EXPECT_FALSE(probe.filter->Dirty());
}

TEST(PresetFileChecks, APresetThatIsNoneOrAnothersOrDamagedChangesNothing) {
  ProbeFilter probe("probe_small.dll");
  const Bytes good = ValueRecord(kSmallId, "Good", {0.5f, 0.5f, 0.5f});
  Bytes withNan = good;
  BigEndian nan;
  nan.Float(std::numeric_limits<float>::quiet_NaN());
  std::copy(nan.bytes.begin(), nan.bytes.end(), withNan.end() - 4);
  const BadFile files[] = {
      {"not CcnK", Patched(good, 0, "CcnX"), kNotPreset},
      {"not CcnK and short", Bytes{'R', 'I', 'F', 'F', 0}, kNotPreset},
      {"neither FxCk nor FPCh", Patched(good, 8, "FxBk"), kNotPresetKind},
      {"another plug-in's", ValueRecord(kEffectId, "Good", {0.5f, 0.5f, 0.5f}), kOtherPlugIn},
      {"empty", Bytes{}, kDamaged},
      {"a value that is no number", withNan, kDamaged},
  };
  for (const BadFile& file : files) ExpectRefused(probe, &VstPlugInstance::LoadPreset, file);
  EXPECT_STREQ(probe.plugin().programNames[0], "Init");
  // Cut inside any of its words, the record is incomplete.
  for (size_t length : CutsOf(good)) {
    ExpectRefused(probe, &VstPlugInstance::LoadPreset,
                  {"cut", Bytes(good.begin(), good.begin() + length), kDamaged});
  }
}

TEST(PresetFileChecks, ABankThatIsNoneOrAnothersOrDamagedChangesNothingNotEvenTheProgram) {
  ProbeFilter probe("probe_small.dll");
  probe.plugin().SetProgram(1);
  const Bytes good =
      Join({BankHeader(284, kSmallId, 2), ValueRecord(kSmallId, "A", {0.5f, 0.5f, 0.5f}),
            ValueRecord(kSmallId, "B", {0.5f, 0.5f, 0.5f})});
  Bytes tooMany = good;
  tooMany[27] = 3;  // three records, two present
  Bytes hugeCount = ValueRecord(kSmallId, "A", {});
  hugeCount[27] = 0xFF;  // values the file does not hold
  const BadFile files[] = {
      {"not CcnK", Patched(good, 0, "RIFF"), kNotBank},
      {"another plug-in's", Patched(good, 16, "PrbE"), kOtherPlugIn},
      {"more records than present", tooMany, kDamaged},
      {"a record's count past its end", Join({BankHeader(0, kSmallId, 1), hugeCount}), kDamaged},
  };
  for (const BadFile& file : files) ExpectRefused(probe, &VstPlugInstance::LoadBank, file);
  for (size_t length : CutsOf(good)) {
    ExpectRefused(probe, &VstPlugInstance::LoadBank,
                  {"cut", Bytes(good.begin(), good.begin() + length), kDamaged});
  }
}

// The largest single allocation while it is installed, on this thread.
std::atomic<size_t> largestAllocation{0};
bool Observe(size_t size) {
  if (size > largestAllocation.load()) largestAllocation.store(size);
  return false;
}

TEST(PresetFileChecks, ChunksClaimingMoreThanIsThereChangeNothingAndCostOnlyWhatWasRead) {
  ProbeFilter probe("probe_chunks.dll");
  auto preset = [](uint32_t chunkSize, size_t present) {
    BigEndian b;
    b.Tag("CcnK").Word(chunkSize + 52).Tag("FPCh").Word(1).Word(kChunksId).Word(1).Word(4);
    b.Name("Init").Word(chunkSize).Zeros(present);
    return b.bytes;
  };
  auto bank = [](uint32_t chunkSize, size_t present) {
    BigEndian b;
    b.Raw(BankHeader(chunkSize + 152, kChunksId, 3)).Word(chunkSize).Zeros(present);
    return b.bytes;
  };
  largestAllocation = 0;
  SetAllocationVeto(Observe);
  const BadFile presets[] = {{"4 GB", preset(0xFFFFFFFF, 64), kDamaged},
                             {"200 MB, 1000 bytes there", preset(200u << 20, 1000), kDamaged},
                             {"cut", preset(16, 15), kDamaged}};
  for (const BadFile& file : presets) ExpectRefused(probe, &VstPlugInstance::LoadPreset, file);
  const BadFile banks[] = {{"4 GB", bank(0xFFFFFFFF, 64), kDamaged},
                           {"cut", bank(48, 47), kDamaged}};
  for (const BadFile& file : banks) ExpectRefused(probe, &VstPlugInstance::LoadBank, file);
  SetAllocationVeto(nullptr);
  EXPECT_LT(largestAllocation.load(), size_t{1} << 20);
}

TEST(PresetFileChecks, ANullStreamIsIgnoredByAllFourOperations) {
  DesktopScript desktop;
  ProbeFilter probe("probe_effect.dll");
  probe.hold.Reset();
  for (auto operation : {&VstPlugInstance::LoadPreset, &VstPlugInstance::LoadBank,
                         &VstPlugInstance::SavePreset, &VstPlugInstance::SaveBank})
    (probe.plugin().*operation)(nullptr);
  EXPECT_EQ(probe.hold.Log().count, 0u);
  EXPECT_TRUE(desktop.shown().empty());
}

}  // namespace
}  // namespace brvst::test
