// What kind of module a file is, read from its header before anything loads it: an ELF shared
// object or a PE image, and for which machine.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace brvst::scan {

enum class BinaryFormat { Elf, Pe };

struct NativeBinary {
  BinaryFormat format;
  bool is64Bit;
  uint16_t machine;  // ELF e_machine or PE machine field
};

enum class BinaryKind {
  Native,        // a module for this build's system and processor
  OtherMachine,  // a module, but for another system or processor
  NotModule,     // neither an ELF nor a PE file (or a damaged one)
};

struct BinaryCheck {
  BinaryKind kind = BinaryKind::NotModule;
  std::string description;  // "ELF 32-bit i386", "PE x86_64", "not an ELF or PE file"...
};

// Judges the first `size` bytes of a file (a PE's headers may lie further in: give at least the
// first 4 KiB, or the whole file when it is smaller).
BinaryCheck CheckBinaryHeader(const unsigned char* head, std::size_t size,
                              const NativeBinary& native);

// Reads the head of the file at `path` and judges it; a file that cannot be read is NotModule
// with the reason.
BinaryCheck CheckBinaryFile(const std::string& path, const NativeBinary& native);

// "ELF 64-bit x86_64", "PE 32-bit i386"...
std::string DescribeBinary(const NativeBinary& binary);

// The kind of module this build loads.
NativeBinary ThisBuildsBinary();

}  // namespace brvst::scan
