// Stable class ids for listed plug-ins: name-based UUIDs (version 5, SHA-1) in a namespace of
// our own, so a plug-in keeps its filter and page classes across rescans and machines, and a
// host project that names the class keeps finding its plug-in.
#pragma once

#include "platform/platform.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace brvst {

using Sha1Digest = std::array<uint8_t, 20>;

// SHA-1 of `size` bytes at `data`.
Sha1Digest Sha1(const void* data, size_t size);

// The name-based UUID (version 5) of `name` in `nameSpace`: the namespace is hashed in network
// byte order, and the result is stored as the GUID structure holds its fields.
GUID NameBasedUuid(REFGUID nameSpace, std::string_view name);

// The namespace of the adapter's class ids, made once at random.
// {B0A87BC9-96A3-4A54-9CE8-B78C6C0AAE9F}
inline constexpr GUID kClassIdNamespace = {
    0xB0A87BC9, 0x96A3, 0x4A54, {0x9C, 0xE8, 0xB7, 0x8C, 0x6C, 0x0A, 0xAE, 0x9F}};

// The filter and page classes of the plug-in file `fileName` (no folder) with `uniqueId`: the
// UUIDs of "filter:" or "page:", then the file name, ":" and the id in decimal.
GUID FilterClassIdFor(std::string_view fileName, int32_t uniqueId);
GUID PageClassIdFor(std::string_view fileName, int32_t uniqueId);

}  // namespace brvst
