#include "com/class_id.h"

#include <string>

namespace brvst {
namespace {

uint32_t RotateLeft(uint32_t value, int bits) {
  return (value << bits) | (value >> (32 - bits));
}

void CompressBlock(uint32_t (&state)[5], const uint8_t* block) {
  uint32_t w[80];
  for (int i = 0; i < 16; ++i)
    w[i] = uint32_t{block[4 * i]} << 24 | uint32_t{block[4 * i + 1]} << 16 |
           uint32_t{block[4 * i + 2]} << 8 | uint32_t{block[4 * i + 3]};
  for (int i = 16; i < 80; ++i) w[i] = RotateLeft(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
  for (int i = 0; i < 80; ++i) {
    uint32_t f, k;
    if (i < 20) {
      f = (b & c) | (~b & d);
      k = 0x5A827999;
    } else if (i < 40) {
      f = b ^ c ^ d;
      k = 0x6ED9EBA1;
    } else if (i < 60) {
      f = (b & c) | (b & d) | (c & d);
      k = 0x8F1BBCDC;
    } else {
      f = b ^ c ^ d;
      k = 0xCA62C1D6;
    }
    const uint32_t next = RotateLeft(a, 5) + f + e + k + w[i];
    e = d;
    d = c;
    c = RotateLeft(b, 30);
    b = a;
    a = next;
  }
  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
  state[4] += e;
}

std::string ClassName(const char* kind, std::string_view fileName, int32_t uniqueId) {
  std::string name(kind);
  name.append(fileName);
  name += ':';
  name += std::to_string(uniqueId);
  return name;
}

}  // namespace

Sha1Digest Sha1(const void* data, size_t size) {
  uint32_t state[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
  const auto* bytes = static_cast<const uint8_t*>(data);
  size_t whole = size - size % 64;
  for (size_t offset = 0; offset < whole; offset += 64) CompressBlock(state, bytes + offset);
  // The tail, the 0x80 marker and the message length in bits fill one or two last blocks.
  uint8_t tail[128] = {};
  const size_t rest = size - whole;
  for (size_t i = 0; i < rest; ++i) tail[i] = bytes[whole + i];
  tail[rest] = 0x80;
  const size_t tailSize = rest < 56 ? 64 : 128;
  const uint64_t bits = uint64_t{size} * 8;
  for (int i = 0; i < 8; ++i) tail[tailSize - 1 - i] = static_cast<uint8_t>(bits >> (8 * i));
  for (size_t offset = 0; offset < tailSize; offset += 64) CompressBlock(state, tail + offset);
  Sha1Digest digest;
  for (int i = 0; i < 20; ++i) digest[i] = static_cast<uint8_t>(state[i / 4] >> (24 - 8 * (i % 4)));
  return digest;
}

GUID NameBasedUuid(REFGUID nameSpace, std::string_view name) {
  std::string input(16 + name.size(), '\0');
  const uint32_t d1 = nameSpace.Data1;
  const uint8_t prefix[8] = {
      static_cast<uint8_t>(d1 >> 24),
      static_cast<uint8_t>(d1 >> 16),
      static_cast<uint8_t>(d1 >> 8),
      static_cast<uint8_t>(d1),
      static_cast<uint8_t>(nameSpace.Data2 >> 8),
      static_cast<uint8_t>(nameSpace.Data2),
      static_cast<uint8_t>(nameSpace.Data3 >> 8),
      static_cast<uint8_t>(nameSpace.Data3),
  };
  for (int i = 0; i < 8; ++i) input[i] = static_cast<char>(prefix[i]);
  for (int i = 0; i < 8; ++i) input[8 + i] = static_cast<char>(nameSpace.Data4[i]);
  for (size_t i = 0; i < name.size(); ++i) input[16 + i] = name[i];
  const Sha1Digest h = Sha1(input.data(), input.size());
  GUID id;
  id.Data1 = uint32_t{h[0]} << 24 | uint32_t{h[1]} << 16 | uint32_t{h[2]} << 8 | h[3];
  id.Data2 = static_cast<uint16_t>(h[4] << 8 | h[5]);
  id.Data3 = static_cast<uint16_t>(((h[6] & 0x0F) | 0x50) << 8 | h[7]);
  for (int i = 0; i < 8; ++i) id.Data4[i] = h[8 + i];
  id.Data4[0] = static_cast<uint8_t>((id.Data4[0] & 0x3F) | 0x80);  // the RFC 4122 variant
  return id;
}

GUID FilterClassIdFor(std::string_view fileName, int32_t uniqueId) {
  return NameBasedUuid(kClassIdNamespace, ClassName("filter:", fileName, uniqueId));
}

GUID PageClassIdFor(std::string_view fileName, int32_t uniqueId) {
  return NameBasedUuid(kClassIdNamespace, ClassName("page:", fileName, uniqueId));
}

}  // namespace brvst
