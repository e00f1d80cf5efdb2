// Fault traps around foreign code: every fault is made inside a module loaded at run time, so the
// trap always catches it in another module than its own, as it catches a plug-in's.
#include "platform/fault_trap.h"

#include "fault_trap_module.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cfenv>
#include <csignal>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>

namespace brvst::platform {
namespace {

class FaultTrapTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    HMODULE module = LoadLibraryA(BRVST_BIN_DIR "/" BRVST_FAULT_MODULE);
    auto getApi = ProcAddressAs<FaultModuleGetApiFn>(
        module != nullptr ? GetProcAddress(module, "FaultModuleGetApi") : nullptr);
    api = getApi != nullptr ? getApi() : nullptr;
    GTEST_FLAG_SET(death_test_style, "threadsafe");
  }
  void SetUp() override { ASSERT_NE(nullptr, api) << "cannot load " BRVST_FAULT_MODULE; }

  static inline const FaultModuleApi* api = nullptr;
};

struct FaultCase {
  const char* name;
  Fault expected;
  void (*make)(const FaultModuleApi&);
};

const FaultCase kFaultCases[] = {
    {"null write", Fault::AccessViolation, [](const FaultModuleApi& m) { m.writeNull(); }},
    {"division", Fault::DivideByZero, [](const FaultModuleApi& m) { m.divide(1, 0); }},
    {"ud2", Fault::IllegalInstruction, [](const FaultModuleApi& m) { m.illegal(); }},
};

// One kind after another, so that each trap shows the one before left the thread ready for it.
TEST_F(FaultTrapTest, ReportsEachKindOfFaultAndAbandonsTheBody) {
  for (const FaultCase& c : kFaultCases) {
    SCOPED_TRACE(c.name);
    bool ranPastFault = false;
    EXPECT_EQ(c.expected, FaultTrap([&] {
                c.make(*api);
                ranPastFault = true;
              }));
    EXPECT_FALSE(ranPastFault);
    bool ran = false;
    EXPECT_EQ(Fault::None, FaultTrap([&] { ran = true; }));
    EXPECT_TRUE(ran);
  }
  EXPECT_EQ(7, api->divide(14, 2));
}

TEST_F(FaultTrapTest, BusError) {
  if (api->mapPastEnd == nullptr) GTEST_SKIP() << "no way to make a bus error at will here";
  void* unbacked = api->mapPastEnd();
  ASSERT_NE(nullptr, unbacked);
  EXPECT_EQ(Fault::BusError, FaultTrap([&] { api->read(unbacked); }));
  api->unmap(unbacked);
}

// Twice on one thread: the first overflow must leave a guard for the second.
TEST_F(FaultTrapTest, StackOverflow) {
  if (!api->stackOverflowRecoverable)
    GTEST_SKIP() << "the system ends a thread whose stack overflows before any handler runs";
  Fault faults[2] = {Fault::None, Fault::None};
  std::thread worker([&] {
    for (Fault& fault : faults) fault = FaultTrap([] { api->recurse(0); });
  });
  worker.join();
  EXPECT_EQ(Fault::StackOverflow, faults[0]);
  EXPECT_EQ(Fault::StackOverflow, faults[1]);
}

TEST_F(FaultTrapTest, NestedTrapsReportToTheInnermost) {
  Fault inner = Fault::None;
  int levelsFinished = 0;
  EXPECT_EQ(Fault::None, FaultTrap([&] {
              EXPECT_EQ(Fault::None, FaultTrap([&] {
                          inner = FaultTrap([] { api->illegal(); });
                          ++levelsFinished;
                        }));
              ++levelsFinished;
            }));
  EXPECT_EQ(Fault::IllegalInstruction, inner);
  EXPECT_EQ(2, levelsFinished);

  // An inner trap that ends normally hands the thread back to the outer one.
  inner = Fault::AccessViolation;
  EXPECT_EQ(Fault::DivideByZero, FaultTrap([&] {
              inner = FaultTrap([] {});
              api->divide(1, 0);
            }));
  EXPECT_EQ(Fault::None, inner);
}

// Many faults, nested, from two threads at once: each thread keeps its own chain of traps.
TEST_F(FaultTrapTest, ManyFaultsFromTwoThreadsAtOnce) {
  constexpr int kRounds = 600;
  std::atomic<int> ready{0};
  auto work = [&](int* caught) {
    ready.fetch_add(1);
    while (ready.load() < 2) std::this_thread::yield();
    for (int i = 0; i < kRounds; ++i) {
      const FaultCase& c = kFaultCases[i % std::size(kFaultCases)];
      Fault inner = Fault::None;
      const Fault outer = FaultTrap([&] {
        inner = FaultTrap([&] { c.make(*api); });
        api->writeNull();
      });
      if (inner == c.expected && outer == Fault::AccessViolation) ++*caught;
    }
  };
  int caught[2] = {0, 0};
  std::thread first(work, &caught[0]);
  std::thread second(work, &caught[1]);
  first.join();
  second.join();
  EXPECT_EQ(kRounds, caught[0]);
  EXPECT_EQ(kRounds, caught[1]);
}

TEST_F(FaultTrapTest, CppExceptionsPassThroughUntouched) {
  EXPECT_THROW(FaultTrap([] { throw std::runtime_error("from the body"); }), std::runtime_error);
  EXPECT_EQ(Fault::AccessViolation, FaultTrap([] { api->writeNull(); }));

  std::string caught;
  EXPECT_EQ(Fault::None, FaultTrap([&] {
              try {
                FaultTrap([] { throw std::logic_error("inside"); });
              } catch (const std::logic_error& e) {
                caught = e.what();
              }
            }));
  EXPECT_EQ("inside", caught);
}

TEST_F(FaultTrapTest, FaultHandledByCodeInsideIsLeftToIt) {
  if (api->makeHandledFault == nullptr)
    GTEST_SKIP() << "a fault handler is process-wide here; code cannot keep its faults to itself";
  bool handled = false;
  EXPECT_EQ(Fault::None, FaultTrap([&] { handled = api->makeHandledFault(); }));
  EXPECT_TRUE(handled);
}

TEST_F(FaultTrapTest, FaultLeavesFloatingPointModesAsTheyWere) {
  ASSERT_EQ(0, std::fesetround(FE_UPWARD));
  const Fault fault = FaultTrap([] {
    std::fesetround(FE_TOWARDZERO);
    api->writeNull();
  });
  const int rounding = std::fegetround();
  std::fesetround(FE_TONEAREST);
  EXPECT_EQ(Fault::AccessViolation, fault);
  EXPECT_EQ(FE_UPWARD, rounding);
}

// Each death test runs in a fresh process, where the handlers in place before the first trap are
// the ones the test sets.
using FaultTrapDeathTest = FaultTrapTest;

TEST_F(FaultTrapDeathTest, FaultAfterTrapReachesEarlierHandler) {
  constexpr int kHandlerExit = 42;
  EXPECT_EXIT(
      {
        std::signal(SIGSEGV, [](int) { std::_Exit(kHandlerExit); });
        FaultTrap([] {});
        api->writeNull();
      },
      testing::ExitedWithCode(kHandlerExit), "");
}

// How our process-wide signal handler passes on what it does not take: with the fault's details
// to a three-argument handler, to the default action, and not at all for an ignored signal that
// was raised rather than a processor fault, inside a trap too.
TEST_F(FaultTrapDeathTest, SignalsNotTakenGoToTheEarlierDisposition) {
  if (!api->faultsAreSignals) GTEST_SKIP() << "faults are not signals here";
  constexpr int kSiginfoExit = 44;
  EXPECT_EXIT(
      {
        if (!api->installSiginfoHandler(kSiginfoExit)) std::_Exit(2);
        FaultTrap([] {});
        api->writeNull();
      },
      testing::ExitedWithCode(kSiginfoExit), "");
  EXPECT_DEATH(
      {
        std::signal(SIGSEGV, SIG_DFL);
        FaultTrap([] {});
        api->writeNull();
      },
      "");
  constexpr int kNoFault = 43;
  EXPECT_EXIT(
      {
        std::signal(SIGSEGV, SIG_IGN);
        const Fault fault = FaultTrap([] { std::raise(SIGSEGV); });
        std::_Exit(fault == Fault::None ? kNoFault : 1);
      },
      testing::ExitedWithCode(kNoFault), "");
}

// Software exceptions go on past the trap to whoever handles them further out, even one that
// carries a fault's code but cannot be resumed.
TEST_F(FaultTrapDeathTest, SoftwareExceptionPassesThroughTrap) {
  if (api->raise == nullptr) GTEST_SKIP() << "no software exceptions here";
  constexpr unsigned kApplicationException = 0xE0425256;
  constexpr unsigned kAccessViolation = 0xC0000005;
  constexpr unsigned kNonContinuable = 1;
  constexpr int kHandlerExit = 45;
  for (const auto& [code, flags] :
       {std::pair{kApplicationException, 0u}, std::pair{kAccessViolation, kNonContinuable}}) {
    EXPECT_EXIT(
        {
          api->catchUnhandled(code, kHandlerExit);
          FaultTrap([&] { api->raise(code, flags); });
          std::_Exit(1);
        },
        testing::ExitedWithCode(kHandlerExit), "")
        << std::hex << code;
  }
}

}  // namespace
}  // namespace brvst::platform
