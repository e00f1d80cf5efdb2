// A small module of foreign code that faults on request. The fault trap's tests load it at run
// time, so that each fault happens in another module than the trap's. Its one export,
// FaultModuleGetApi, hands out this table; what a platform lacks is null there.
#pragma once

struct FaultModuleApi {
  void (*writeNull)();
  int (*divide)(int numerator, int denominator);  // faults for a denominator of 0
  void (*illegal)();                              // an undefined instruction
  int (*recurse)(int depth);                      // until the stack runs out
  int (*read)(const void* address);               // one byte

  // Faults are process-wide signals; else structured exceptions that code may handle itself.
  bool faultsAreSignals;
  // False where the system ends a thread whose stack overflows before any handler runs.
  bool stackOverflowRecoverable;

  // Signals only. An address whose read raises a bus error, and its release.
  void* (*mapPastEnd)();
  void (*unmap)(void* address);
  // Signals only. Takes SIGSEGV with a three-argument handler that ends the process with exitCode
  // if it was handed the details of a null write.
  bool (*installSiginfoHandler)(int exitCode);

  // Exceptions only. Makes an access violation that the system code it calls handles itself;
  // true when it was handled there.
  bool (*makeHandledFault)();
  // Exceptions only. Ends the process with exitCode once an exception of this code goes
  // unhandled; raises a software exception.
  void (*catchUnhandled)(unsigned code, int exitCode);
  void (*raise)(unsigned code, unsigned flags);
  // Exceptions only. Throws a C++ exception the way another compiler's runtime does: code
  // 0xE06D7363, not continuable, with the object and its type description as arguments.
  void (*throwForeignCxx)();
  // Exceptions only. Raises this code (continuable, with the arguments a debugger would read)
  // under a process-wide unhandled-exception filter that resumes it; true when the filter saw it.
  bool (*raiseToUnhandledFilter)(unsigned code);
  // Exceptions only. Runs inner(context) in a frame of ours whose clean-up, like a destructor or
  // finally block, adds one to *cleanups whenever an exception unwinds the frame.
  void (*callUnderCleanup)(void (*inner)(void* context), void* context, int* cleanups);
};

extern "C" {
using FaultModuleGetApiFn = const FaultModuleApi* (*)();
}

// The platform's part of the table, from fault_trap_module_<platform>.cpp.
void FillPlatformPart(FaultModuleApi& api);
