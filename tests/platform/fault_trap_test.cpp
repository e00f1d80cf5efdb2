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

namespace brvst::platform {
namespace {

// Faults made by this file's own code. Sanitizers would report them before the processor does.
volatile int* volatile nullTarget = nullptr;
volatile int zero = 0;

[[gnu::noinline, gnu::no_sanitize("address", "undefined")]] void WriteNull() {
  *nullTarget = 1;
}

[[gnu::noinline, gnu::no_sanitize("undefined")]] void DivideByZero() {
  volatile int numerator = 1;  // a constant 1 / x needs no division instruction
  volatile int quotient = numerator / zero;
  (void)quotient;
}

class FaultTrapTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    module = LoadLibraryA(BRVST_BIN_DIR "/" BRVST_FAULT_MODULE);
    auto getApi = reinterpret_cast<FaultModuleGetApiFn>(reinterpret_cast<void*>(
        module != nullptr ? GetProcAddress(module, "FaultModuleGetApi") : nullptr));
    api = getApi != nullptr ? getApi() : nullptr;
  }
  static void TearDownTestSuite() {
    if (module != nullptr) FreeLibrary(module);
    module = nullptr;
    api = nullptr;
  }

  void SetUp() override { ASSERT_NE(nullptr, api) << "cannot load " BRVST_FAULT_MODULE; }

  static inline HMODULE module = nullptr;
  static inline const FaultModuleApi* api = nullptr;
};

struct FaultCase {
  const char* name;
  Fault expected;
  void (*make)(const FaultModuleApi&);
};

const FaultCase kFaultCases[] = {
    {"null write here", Fault::AccessViolation, [](const FaultModuleApi&) { WriteNull(); }},
    {"division here", Fault::DivideByZero, [](const FaultModuleApi&) { DivideByZero(); }},
    {"ud2 here", Fault::IllegalInstruction, [](const FaultModuleApi&) { __builtin_trap(); }},
    {"null write in module", Fault::AccessViolation,
     [](const FaultModuleApi& m) { m.writeNull(); }},
    {"division in module", Fault::DivideByZero, [](const FaultModuleApi& m) { m.divide(1, 0); }},
    {"ud2 in module", Fault::IllegalInstruction, [](const FaultModuleApi& m) { m.illegal(); }},
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
              DivideByZero();
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
        WriteNull();
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
  EXPECT_EQ(Fault::AccessViolation, FaultTrap([] { WriteNull(); }));

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
    WriteNull();
  });
  const int rounding = std::fegetround();
  std::fesetround(FE_TONEAREST);
  EXPECT_EQ(Fault::AccessViolation, fault);
  EXPECT_EQ(FE_UPWARD, rounding);
}

// Each death test runs in a fresh process, where the handlers in place before the first trap are
// the ones the test sets.
class FaultTrapDeathTest : public FaultTrapTest {
 protected:
  void SetUp() override {
    FaultTrapTest::SetUp();
    GTEST_FLAG_SET(death_test_style, "threadsafe");
  }
};

TEST_F(FaultTrapDeathTest, FaultAfterTrapReachesEarlierHandler) {
  constexpr int kHandlerExit = 42;
  EXPECT_EXIT(
      {
        std::signal(SIGSEGV, [](int) { std::_Exit(kHandlerExit); });
        FaultTrap([] {});
        WriteNull();
      },
      testing::ExitedWithCode(kHandlerExit), "");
}

// How our process-wide handler passes on what it does not take.
class FaultTrapSignalDeathTest : public FaultTrapDeathTest {
 protected:
  void SetUp() override {
    FaultTrapDeathTest::SetUp();
    if (!api->faultsAreSignals) GTEST_SKIP() << "faults are not signals here";
  }
};

TEST_F(FaultTrapSignalDeathTest, EarlierSiginfoHandlerGetsTheFaultsDetails) {
  constexpr int kHandlerExit = 44;
  EXPECT_EXIT(
      {
        if (!api->installSiginfoHandler(kHandlerExit)) std::_Exit(2);
        FaultTrap([] {});
        api->writeNull();
      },
      testing::ExitedWithCode(kHandlerExit), "");
}

TEST_F(FaultTrapSignalDeathTest, DefaultActionEndsProcess) {
  EXPECT_DEATH(
      {
        std::signal(SIGSEGV, SIG_DFL);
        FaultTrap([] {});
        WriteNull();
      },
      "");
}

// A raised signal is no processor fault: an ignored one stays ignored, inside a trap too.
TEST_F(FaultTrapSignalDeathTest, RaisedSignalIsNoFault) {
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
  EXPECT_EXIT(
      {
        api->catchUnhandled(kApplicationException, kHandlerExit);
        FaultTrap([] { api->raise(kApplicationException, 0); });
        std::_Exit(1);
      },
      testing::ExitedWithCode(kHandlerExit), "");
  EXPECT_EXIT(
      {
        api->catchUnhandled(kAccessViolation, kHandlerExit);
        FaultTrap([] { api->raise(kAccessViolation, kNonContinuable); });
        std::_Exit(1);
      },
      testing::ExitedWithCode(kHandlerExit), "");
}

}  // namespace
}  // namespace brvst::platform
