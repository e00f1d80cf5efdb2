// SHA-1 against published vectors, and the name-based class ids built on it.
#include "com/class_id.h"
#include "com/registration.h"

#include <gtest/gtest.h>

#include <string>

namespace brvst {
namespace {

std::string Hex(const Sha1Digest& digest) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (uint8_t byte : digest) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 15];
  }
  return text;
}

std::string HashOf(const std::string& text) {
  return Hex(Sha1(text.data(), text.size()));
}

// FIPS 180 and RFC 3174 vectors, and lengths around the padding's block boundary (55 bytes
// leave room for the length in the last block, 56 do not), checked against another
// implementation.
TEST(Sha1, PublishedVectorsAndThePaddingBoundaries) {
  EXPECT_EQ(HashOf(""), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
  EXPECT_EQ(HashOf("abc"), "a9993e364706816aba3e25717850c26c9cd0d89d");
  EXPECT_EQ(HashOf("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
            "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
  std::string repeated;
  for (int i = 0; i < 80; ++i) repeated += "01234567";
  EXPECT_EQ(HashOf(repeated), "dea356a2cddd90c7a7ecedc5ebb563934f460452");
  EXPECT_EQ(HashOf(std::string(1000000, 'a')), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
  EXPECT_EQ(HashOf(std::string(55, 'x')), "cef734ba81a024479e09eb5a75b6ddae62e6abf1");
  EXPECT_EQ(HashOf(std::string(56, 'x')), "901305367c259952f4e7af8323f480d59f81335b");
  EXPECT_EQ(HashOf(std::string(64, 'x')), "bb2fa3ee7afb9f54c6dfb5d021f14b1ffe40c163");
}

TEST(NameBasedUuid, TheDnsNamespaceExampleAndOurClassIds) {
  // 6ba7b810-9dad-11d1-80b4-00c04fd430c8, the DNS namespace of RFC 4122.
  const GUID dns = {0x6BA7B810, 0x9DAD, 0x11D1, {0x80, 0xB4, 0x00, 0xC0, 0x4F, 0xD4, 0x30, 0xC8}};
  EXPECT_EQ(RegistryForm(NameBasedUuid(dns, "www.example.com")),
            "{2ED6657D-E927-568B-95E1-2665A8AEA6A2}");
  // Fixed forever: host projects name these classes.
  EXPECT_EQ(RegistryForm(FilterClassIdFor("VID 84.dll", 0x50533853)),
            "{2295E2D0-C52D-5AA8-A084-D245B2AC3803}");
  EXPECT_EQ(RegistryForm(PageClassIdFor("VID 84.dll", 0x50533853)),
            "{B501021C-4922-5AD5-911E-4D57FE1B7448}");
  EXPECT_EQ(RegistryForm(FilterClassIdFor("3BandEQ-vst.so", -5)),
            "{214F9284-4008-5F89-A360-2597C3C98AD1}");
  EXPECT_NE(FilterClassIdFor("a.dll", 1), FilterClassIdFor("A.dll", 1));
  EXPECT_NE(FilterClassIdFor("a.dll", 1), FilterClassIdFor("a.dll", 2));
}

}  // namespace
}  // namespace brvst
