#include "tools/scan/binary_kind.h"
#include "tools/scan/scan_platform.h"

#include <cstdio>
#include <fstream>
#include <vector>

namespace brvst::scan {

namespace {

constexpr uint16_t kElfI386 = 3;
constexpr uint16_t kElfX86_64 = 62;
constexpr uint16_t kElfArm = 40;
constexpr uint16_t kElfAarch64 = 183;
constexpr uint16_t kPeI386 = 0x014C;
constexpr uint16_t kPeX86_64 = 0x8664;
constexpr uint16_t kPeArm64 = 0xAA64;

uint16_t Read16(const unsigned char* p, bool bigEndian) {
  return bigEndian ? static_cast<uint16_t>(p[0] << 8 | p[1])
                   : static_cast<uint16_t>(p[1] << 8 | p[0]);
}

uint32_t Read32Le(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

std::string MachineName(BinaryFormat format, uint16_t machine) {
  if (format == BinaryFormat::Elf) {
    switch (machine) {
      case kElfI386:
        return "i386";
      case kElfX86_64:
        return "x86_64";
      case kElfArm:
        return "arm";
      case kElfAarch64:
        return "aarch64";
    }
  } else {
    switch (machine) {
      case kPeI386:
        return "i386";
      case kPeX86_64:
        return "x86_64";
      case kPeArm64:
        return "arm64";
    }
  }
  char text[32];
  std::snprintf(text, sizeof text, "machine 0x%X", machine);
  return text;
}

BinaryCheck Judge(BinaryFormat format, bool is64Bit, uint16_t machine, const NativeBinary& native) {
  BinaryCheck check;
  check.description = DescribeBinary({format, is64Bit, machine});
  const bool same =
      format == native.format && is64Bit == native.is64Bit && machine == native.machine;
  check.kind = same ? BinaryKind::Native : BinaryKind::OtherMachine;
  return check;
}

}  // namespace

std::string DescribeBinary(const NativeBinary& binary) {
  return std::string(binary.format == BinaryFormat::Elf ? "ELF " : "PE ") +
         (binary.is64Bit ? "64-bit " : "32-bit ") + MachineName(binary.format, binary.machine);
}

BinaryCheck CheckBinaryHeader(const unsigned char* head, std::size_t size,
                              const NativeBinary& native) {
  BinaryCheck notModule{BinaryKind::NotModule, "not an ELF or PE file"};
  if (size >= 20 && head[0] == 0x7F && head[1] == 'E' && head[2] == 'L' && head[3] == 'F') {
    const unsigned char elfClass = head[4];  // 1: 32-bit, 2: 64-bit
    const unsigned char data = head[5];      // 1: little-endian, 2: big-endian
    if ((elfClass != 1 && elfClass != 2) || (data != 1 && data != 2)) {
      return {BinaryKind::NotModule, "a damaged ELF header"};
    }
    return Judge(BinaryFormat::Elf, elfClass == 2, Read16(head + 18, data == 2), native);
  }
  if (size >= 0x40 && head[0] == 'M' && head[1] == 'Z') {
    const uint32_t peOffset = Read32Le(head + 0x3C);
    // Signature, machine, and the optional header's magic after the 20-byte file header.
    if (peOffset > size || size - peOffset < 24 + 2)
      return {BinaryKind::NotModule, "a DOS program"};
    const unsigned char* pe = head + peOffset;
    if (pe[0] != 'P' || pe[1] != 'E' || pe[2] != 0 || pe[3] != 0) {
      return {BinaryKind::NotModule, "a DOS program"};
    }
    const uint16_t machine = Read16(pe + 4, false);
    const uint16_t magic = Read16(pe + 24, false);  // 0x10B PE32, 0x20B PE32+
    return Judge(BinaryFormat::Pe, magic == 0x20B, machine, native);
  }
  return notModule;
}

BinaryCheck CheckBinaryFile(const std::string& path, const NativeBinary& native) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return {BinaryKind::NotModule, "the file cannot be read"};
  std::vector<unsigned char> head(4096);
  file.read(reinterpret_cast<char*>(head.data()), static_cast<std::streamsize>(head.size()));
  const auto got = static_cast<std::size_t>(file.gcount());
  // A PE whose headers start further in than the first block.
  if (got >= 0x40 && head[0] == 'M' && head[1] == 'Z') {
    const uint32_t peOffset = Read32Le(head.data() + 0x3C);
    if (peOffset + 26 > got && peOffset < (1u << 20)) {
      head.resize(peOffset + 26);
      file.clear();
      file.seekg(0);
      file.read(reinterpret_cast<char*>(head.data()), static_cast<std::streamsize>(head.size()));
      return CheckBinaryHeader(head.data(), static_cast<std::size_t>(file.gcount()), native);
    }
  }
  return CheckBinaryHeader(head.data(), got, native);
}

NativeBinary ThisBuildsBinary() {
  // The processor from the compiler; the format is the platform's (scan_platform_*.cpp).
#if defined(__x86_64__)
  constexpr bool is64Bit = true;
  constexpr uint16_t elf = kElfX86_64, pe = kPeX86_64;
#elif defined(__i386__)
  constexpr bool is64Bit = false;
  constexpr uint16_t elf = kElfI386, pe = kPeI386;
#elif defined(__aarch64__)
  constexpr bool is64Bit = true;
  constexpr uint16_t elf = kElfAarch64, pe = kPeArm64;
#else
#error "unknown processor"
#endif
  const BinaryFormat format = NativeModuleFormat();
  return {format, is64Bit, format == BinaryFormat::Elf ? elf : pe};
}

}  // namespace brvst::scan
