// Fault traps around foreign code: every fault is made inside a module loaded at run time, so the
// trap always catches it in another module than its own, as it catches a plug-in's.
#include "platform/fault_trap.h"

#include "fault_trap_module.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cfenv>
#include <csignal>
#include <cstdlib>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

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

constexpr unsigned kApplicationException = 0xE0425256;
constexpr unsigned kAccessViolation = 0xC0000005;
constexpr unsigned kNonContinuable = 1;

const FaultCase kProcessorFaults[] = {
    {"null write", Fault::AccessViolation, [](const FaultModuleApi& m) { m.writeNull(); }},
    {"division", Fault::DivideByZero, [](const FaultModuleApi& m) { m.divide(1, 0); }},
    {"ud2", Fault::IllegalInstruction, [](const FaultModuleApi& m) { m.illegal(); }},
};

// Unhandled software exceptions, which only structured exceptions have: the trap takes them all,
// whether or not they may be resumed, and whatever their code.
const FaultCase kSoftwareExceptions[] = {
    {"application exception", Fault::SoftwareException,
     [](const FaultModuleApi& m) { m.raise(kApplicationException, 0); }},
    {"C++ throw of another compiler", Fault::SoftwareException,
     [](const FaultModuleApi& m) { m.throwForeignCxx(); }},
    {"access violation raised by software", Fault::SoftwareException,
     [](const FaultModuleApi& m) { m.raise(kAccessViolation, kNonContinuable); }},
};

// Every kind of fault this platform can make at will.
std::vector<FaultCase> FaultCases(const FaultModuleApi& api) {
  std::vector<FaultCase> cases(std::begin(kProcessorFaults), std::end(kProcessorFaults));
  if (api.raise != nullptr)
    cases.insert(cases.end(), std::begin(kSoftwareExceptions), std::end(kSoftwareExceptions));
  return cases;
}

// One kind after another, so that each trap shows the one before left the thread ready for it,
// with the floating-point modes the trap began with. A foreign C++ exception above all must come
// back as a fault, never as an exception of ours.
TEST_F(FaultTrapTest, ReportsEachKindOfFaultAndAbandonsTheBody) {
  for (const FaultCase& c : FaultCases(*api)) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(0, std::fesetround(FE_UPWARD));
    bool ranPastFault = false;
    Fault fault = Fault::None;
    EXPECT_NO_THROW(fault = FaultTrap([&] {
                      std::fesetround(FE_TOWARDZERO);
                      c.make(*api);
                      ranPastFault = true;
                    }));
    const int rounding = std::fegetround();
    std::fesetround(FE_TONEAREST);
    EXPECT_EQ(c.expected, fault);
    EXPECT_FALSE(ranPastFault);
    EXPECT_EQ(FE_UPWARD, rounding);
    bool ran = false;
    EXPECT_EQ(Fault::None, FaultTrap([&] { ran = true; }));
    EXPECT_TRUE(ran);
  }
  EXPECT_EQ(Fault::AccessViolation, FaultTrap([] { api->writeNull(); }));
  EXPECT_EQ(7, api->divide(14, 2));
}

// A software exception is unwound from, so the clean-ups of the foreign frames it leaves run, as
// they would for a handler of the host's; a processor fault abandons them as they stand.
TEST_F(FaultTrapTest, SoftwareExceptionUnwindsForeignFramesAndFaultAbandonsThem) {
  if (api->callUnderCleanup == nullptr) GTEST_SKIP() << "no software exceptions here";
  for (FaultCase c : FaultCases(*api)) {
    SCOPED_TRACE(c.name);
    int cleanups = 0;
    EXPECT_EQ(c.expected, FaultTrap([&] {
                api->callUnderCleanup([](void* p) { static_cast<FaultCase*>(p)->make(*api); }, &c,
                                      &cleanups);
              }));
    EXPECT_EQ(c.expected == Fault::SoftwareException ? 1 : 0, cleanups);
  }
}

// What code raises for a debugger to see and then goes on: debug output (narrow and wide) and a
// thread's name. The trap must not change where each goes: on to the process's unhandled-exception
// filter, which resumes it, unless a vectored handler resumes it before any frame handler is asked
// (as the threads library of our own runtime does with thread names).
TEST_F(FaultTrapTest, DebuggerNotificationsPassThroughTheTrap) {
  if (api->raiseToUnhandledFilter == nullptr) GTEST_SKIP() << "no software exceptions here";
  const std::pair<const char*, unsigned> notifications[] = {
      {"debug output", 0x40010006}, {"wide debug output", 0x4001000A}, {"thread name", 0x406D1388}};
  ASSERT_TRUE(api->raiseToUnhandledFilter(notifications[0].second))
      << "debug output must reach the frame handlers, or this test shows nothing";
  for (const auto& [name, code] : notifications) {
    SCOPED_TRACE(name);
    const bool reachesFilterUntrapped = api->raiseToUnhandledFilter(code);
    bool reachedFilter = false;
    bool wentOn = false;
    EXPECT_EQ(Fault::None, FaultTrap([&] {
                reachedFilter = api->raiseToUnhandledFilter(code);
                wentOn = true;
              }));
    EXPECT_EQ(reachesFilterUntrapped, reachedFilter);
    EXPECT_TRUE(wentOn);
  }
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
  std::thread([&] {
    for (Fault& fault : faults) fault = FaultTrap([] { api->recurse(0); });
  }).join();
  EXPECT_THAT(faults, testing::Each(Fault::StackOverflow));
}

// Three deep: the innermost trap takes the fault, the ones outside go on; a trap that ends
// normally hands the thread back to the one outside it.
TEST_F(FaultTrapTest, NestedTrapsReportToTheInnermost) {
  for (const FaultCase& c : FaultCases(*api)) {
    SCOPED_TRACE(c.name);
    Fault inner = Fault::None;
    Fault middle = Fault::AccessViolation;
    EXPECT_EQ(Fault::DivideByZero, FaultTrap([&] {
                middle = FaultTrap([&] { inner = FaultTrap([&] { c.make(*api); }); });
                EXPECT_EQ(Fault::None, FaultTrap([] {}));
                api->divide(1, 0);
              }));
    EXPECT_EQ(c.expected, inner);
    EXPECT_EQ(Fault::None, middle);
  }
}

// Many faults, nested, from two threads at once: each thread keeps its own chain of traps.
TEST_F(FaultTrapTest, ManyFaultsFromTwoThreadsAtOnce) {
  constexpr int kRounds = 600;
  const std::vector<FaultCase> cases = FaultCases(*api);
  std::atomic<int> ready{0};
  auto work = [&](int* caught) {
    ready.fetch_add(1);
    while (ready.load() < 2) std::this_thread::yield();
    for (int i = 0; i < kRounds; ++i) {
      const FaultCase& c = cases[i % cases.size()];
      Fault inner = Fault::None;
      const Fault outer = FaultTrap([&] {
        inner = FaultTrap([&] { c.make(*api); });
        api->writeNull();
      });
      if (inner == c.expected && outer == Fault::AccessViolation) ++*caught;
    }
  };
  int caught[2] = {0, 0};
  std::thread first(work, &caught[0]), second(work, &caught[1]);
  first.join();
  second.join();
  EXPECT_THAT(caught, testing::Each(kRounds));
}

// Where our own C++ exceptions are structured exceptions too (x86_64 Windows), none may pass for
// a fault: one the body throws reaches the caller as itself, one caught inside the body is no
// fault at all.
TEST_F(FaultTrapTest, OwnCppExceptionsAreNeverFaults) {
  using testing::ThrowsMessage;
  EXPECT_THAT([] { FaultTrap([] { throw std::runtime_error("from the body"); }); },
              ThrowsMessage<std::runtime_error>("from the body"));
  EXPECT_EQ(Fault::AccessViolation, FaultTrap([] { api->writeNull(); }));
  EXPECT_EQ(Fault::None, FaultTrap([] {
              EXPECT_THAT([] { FaultTrap([] { throw std::logic_error("inside"); }); },
                          ThrowsMessage<std::logic_error>("inside"));
            }));
}

TEST_F(FaultTrapTest, FaultHandledByCodeInsideIsLeftToIt) {
  if (api->makeHandledFault == nullptr)
    GTEST_SKIP() << "a fault handler is process-wide here; code cannot keep its faults to itself";
  bool handled = false;
  EXPECT_EQ(Fault::None, FaultTrap([&] { handled = api->makeHandledFault(); }));
  EXPECT_TRUE(handled);
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

// A C++ exception of ours that leaves a body without FaultTrap's net is our own error, not a fault
// of foreign code: it meets RunFaultTrapped's noexcept and ends the process.
TEST_F(FaultTrapDeathTest, OwnCppExceptionLeavingABareBodyIsNoFault) {
  EXPECT_DEATH(
      RunFaultTrapped([](void*) { throw std::runtime_error("from a bare body"); }, nullptr),
      "from a bare body");
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

// The trap takes a software exception before the process's unhandled-exception filter, which
// would otherwise end the process here, can see it.
TEST_F(FaultTrapDeathTest, SoftwareExceptionIsTrappedBeforeTheUnhandledFilter) {
  if (api->raise == nullptr) GTEST_SKIP() << "no software exceptions here";
  constexpr int kHandlerExit = 45;
  constexpr int kTrappedExit = 46;
  for (const auto& [code, flags] :
       {std::pair{kApplicationException, 0u}, std::pair{kAccessViolation, kNonContinuable}}) {
    EXPECT_EXIT(
        {
          api->catchUnhandled(code, kHandlerExit);
          const Fault fault = FaultTrap([&] { api->raise(code, flags); });
          std::_Exit(fault == Fault::SoftwareException ? kTrappedExit : 1);
        },
        testing::ExitedWithCode(kTrappedExit), "")
        << std::hex << code;
  }
}

}  // namespace
}  // namespace brvst::platform
