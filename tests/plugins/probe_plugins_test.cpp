// Every probe module is built as its row of the traits table says: the host-side tests take the
// file names, entry names and traits on trust.
#include "platform/fault_trap.h"
#include "plugin_loader.h"
#include "probe_api.h"
#include "probe_variants.h"

#include <gtest/gtest.h>

namespace brvst::test {
namespace {

using platform::Fault;
using platform::FaultTrap;
using probe::EntryResult;

TEST(ProbePlugins, EveryEntryPointAnswersWhatItsTraitsSay) {
  for (const probe::VariantTraits& t : probe::kVariants) {
    SCOPED_TRACE(t.name);
    if (t.faultOnLoad) continue;  // never loads; the loader's tests take it
    if (t.hangInEntry) continue;  // never returns; the scanner's tests take it
    const PluginModule module(std::string(t.name) + ".dll");
    ASSERT_TRUE(module.loaded()) << "not in " BRVST_BIN_DIR;
    const struct {
      const char* name;
      bool exported;
    } entries[] = {{"main", t.lowerMain}, {"Main", t.upperMain}, {"VSTPluginMain", t.pluginMain}};
    for (const auto& [name, exported] : entries) {
      const bool upper = name[0] == 'M';
      const auto entry = module.find<vst2::EntryProc>(name);
      ASSERT_EQ(entry != nullptr, exported) << name;
      if (!entry) continue;

      vst2::AEffect* effect = nullptr;
      EXPECT_EQ(FaultTrap([&] { effect = entry(TestHost); }),
                t.entry == EntryResult::Fault ? Fault::AccessViolation : Fault::None);
      if (t.entry == EntryResult::Null || t.entry == EntryResult::Fault) {
        EXPECT_EQ(effect, nullptr);
        continue;
      }
      ASSERT_NE(effect, nullptr);
      EXPECT_EQ(effect->magic,
                t.entry == EntryResult::WrongMagic ? probe::kProbeWrongMagic : vst2::kEffectMagic);
      EXPECT_EQ(effect->uniqueID, probe::UniqueId(t, upper));
      EXPECT_EQ(effect->numInputs, t.numInputs);
      EXPECT_EQ(effect->numOutputs, t.numOutputs);
      EXPECT_EQ(effect->flags, t.flags);
      EXPECT_EQ(effect->numParams, t.reportedParams);
      EXPECT_EQ(effect->numPrograms, t.reportedPrograms);
      EXPECT_EQ(effect->processReplacing != nullptr,
                (t.flags & probe::kReplacing) != 0 && !t.nullReplacing);
      ASSERT_EQ(effect->dispatcher != nullptr, t.entry != EntryResult::NullDispatcher);
      if (effect->dispatcher) effect->dispatcher(effect, vst2::effClose, 0, 0, nullptr, 0);
    }
  }
}

}  // namespace
}  // namespace brvst::test
