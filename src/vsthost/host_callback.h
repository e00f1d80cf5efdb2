// The host side of the VST 2 interface: the one callback every plug-in gets.
#pragma once

#include "vst2/vst2.h"

#include <atomic>
#include <cstdint>

namespace brvst {

// Answers a plug-in's request. The instance it belongs to is found through effect->resvd1;
// requests that need an instance and come before Load has set it (from inside the entry point,
// with a null effect) answer 0.
intptr_t HostCallback(vst2::AEffect* effect, int32_t opcode, int32_t index, intptr_t value,
                      void* ptr, float opt);

// Set while an idle pass runs, from a plug-in's audioMasterIdle or the editor timer: passes do
// not nest. Taken with exchange, so two threads cannot both start one.
extern std::atomic<bool> IdleGuard;

inline constexpr char kHostVendor[] = "Fennick Systems";
inline constexpr char kHostProduct[] = "Brimley VST Adapter 4.3";
inline constexpr int32_t kHostVendorVersion = 4;
inline constexpr int32_t kHostVstVersion = 2;
inline constexpr int32_t kHostCurrentId = 0x54455354;  // "TEST"

}  // namespace brvst
