// Preset and bank files for tests: hand-made big-endian bytes, and files saved and loaded
// through a plug-in instance.
#pragma once

#include "vsthost/vst_plug_instance.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace brvst::test {

using Bytes = std::vector<uint8_t>;

// Builds a file as the format has it: 32-bit words and floats big-endian, tags as their bytes.
struct BigEndian {
  BigEndian& Word(uint64_t value);  // the low 32 bits
  BigEndian& Float(float value);
  BigEndian& Tag(const char (&tag)[5]);
  BigEndian& Name(const std::string& name);  // a preset's 28-byte name field, zero-padded
  BigEndian& Zeros(size_t count);
  BigEndian& Raw(const Bytes& more);
  Bytes bytes;
};

// The big-endian word at `at`.
uint32_t BigEndianWord(const Bytes& bytes, size_t at);

// What `save` writes to a fresh file opened "wb", as the preset commands open one.
Bytes SaveWith(void (VstPlugInstance::*save)(FILE*), VstPlugInstance& plugin);
// Hands `bytes` to `load` in a file opened "rb".
void LoadWith(void (VstPlugInstance::*load)(FILE*), VstPlugInstance& plugin, const Bytes& bytes);

}  // namespace brvst::test
