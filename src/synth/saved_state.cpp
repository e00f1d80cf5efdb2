// The filter's saved state, as hosts keep it in their projects: after the version prefix, the
// body's size, the form, then the plug-in's bank chunk or every program's name and parameter
// values, then the current program and two reserved words. All integers little-endian.
//
// A state is read whole and checked before anything of it reaches the plug-in, so a damaged one
// changes nothing. Sizes read from a stream decide no allocation: bytes are stored as they
// arrive, and no chunk or program block beyond kMaxStateBlock is taken.
#include "filter/adapter_filter.h"
#include "vsthost/vst_plug_instance.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>
#include <vector>

namespace brvst {
namespace {

constexpr uint32_t kNameBytes = 64;
constexpr int64_t kTrailerBytes = 12;
// The body around the chunk (bodySize, isChunk, chunkSize, the trailer) and around the
// programs (bodySize, isChunk, the two counts, the trailer).
constexpr int64_t kChunkBodyBytes = 12 + kTrailerBytes;
constexpr int64_t kProgramsBodyBytes = 16 + kTrailerBytes;
constexpr uint32_t kMaxStateBlock = 256u << 20;
constexpr uint32_t kReadPiece = 64u << 10;

void StoreU32(uint8_t* out, uint32_t value) {
  for (int b = 0; b < 4; ++b) out[b] = static_cast<uint8_t>(value >> (8 * b));
}

uint32_t LoadU32(const uint8_t* in) {
  return uint32_t{in[0]} | uint32_t{in[1]} << 8 | uint32_t{in[2]} << 16 | uint32_t{in[3]} << 24;
}

uint32_t FloatBits(float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

float BitsFloat(uint32_t bits) {
  float value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

// Writes fields in order and keeps the first failure; nothing is written after it.
class StateWriter {
 public:
  explicit StateWriter(IStream* stream) : stream_(stream) {}
  void Bytes(const void* data, uint32_t size) {
    if (SUCCEEDED(hr_) && size != 0) hr_ = WriteExact(stream_, data, size);
  }
  void U32(uint32_t value) {
    uint8_t bytes[4];
    StoreU32(bytes, value);
    Bytes(bytes, sizeof bytes);
  }
  HRESULT Result() const { return hr_; }

 private:
  IStream* stream_;
  HRESULT hr_ = S_OK;
};

HRESULT ReadU32(IStream* stream, uint32_t& value) {
  uint8_t bytes[4];
  const HRESULT hr = ReadExact(stream, bytes, sizeof bytes);
  if (SUCCEEDED(hr)) value = LoadU32(bytes);
  return hr;
}

// `size` bytes into `bytes`, which grows only as they arrive: a stream need not know its length
// (Stat), and one that claims more than it holds costs no more memory than it held.
HRESULT ReadBlock(IStream* stream, uint32_t size, std::vector<uint8_t>& bytes) {
  bytes.clear();
  while (bytes.size() < size) {
    const size_t have = bytes.size();
    const auto piece = static_cast<ULONG>(std::min<size_t>(size - have, kReadPiece));
    bytes.resize(have + piece);
    const HRESULT hr = ReadExact(stream, bytes.data() + have, piece);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

struct SavedState {
  bool bodyPresent = false;
  bool isChunk = false;
  int32_t numPrograms = 0;
  int32_t numParams = 0;
  std::vector<uint8_t> block;  // the chunk, or the program records
  int32_t currentProgram = 0;
};

HRESULT ReadState(IStream* stream, SavedState& state) {
  // A stream that ends right after the version prefix holds no body at all: it restores
  // nothing but program 0. One that ends inside its body is damaged.
  uint8_t bytes[4];
  ULONG got = 0;
  HRESULT hr = stream->Read(bytes, sizeof bytes, &got);
  if (FAILED(hr)) return hr;
  if (got == 0) return S_OK;
  if (got != sizeof bytes) return E_FAIL;
  state.bodyPresent = true;

  uint32_t isChunk = 0;
  if (FAILED(hr = ReadU32(stream, isChunk))) return hr;
  state.isChunk = isChunk != 0;
  if (state.isChunk) {
    uint32_t chunkSize = 0;
    if (FAILED(hr = ReadU32(stream, chunkSize))) return hr;
    if (chunkSize > kMaxStateBlock) return E_FAIL;
    if (FAILED(hr = ReadBlock(stream, chunkSize, state.block))) return hr;
  } else {
    uint32_t programs = 0, params = 0;
    if (FAILED(hr = ReadU32(stream, programs)) || FAILED(hr = ReadU32(stream, params))) return hr;
    state.numPrograms = static_cast<int32_t>(programs);
    state.numParams = static_cast<int32_t>(params);
    // No writer produces negative counts.
    if (state.numPrograms < 0 || state.numParams < 0) return E_FAIL;
    const int64_t record = kNameBytes + 4 * int64_t{state.numParams};
    if (state.numPrograms != 0 && record > kMaxStateBlock / state.numPrograms) return E_FAIL;
    const auto size = static_cast<uint32_t>(state.numPrograms * record);
    if (FAILED(hr = ReadBlock(stream, size, state.block))) return hr;
  }
  uint8_t trailer[kTrailerBytes];
  if (FAILED(hr = ReadExact(stream, trailer, sizeof trailer))) return hr;
  state.currentProgram = static_cast<int32_t>(LoadU32(trailer));
  return S_OK;
}

}  // namespace

int AdapterFilter::SizeMax() {
  CAutoLock lock(&StreamLock);
  if (!Plugin) return static_cast<int>(kProgramsBodyBytes);
  int64_t size;
  if (Plugin->programsAreChunks) {
    void* data = nullptr;
    size = kChunkBodyBytes + std::max(Plugin->GetChunk(false, &data), 0);
  } else {
    size = kProgramsBodyBytes +
           int64_t{Plugin->GetNumPrograms()} * (kNameBytes + 4 * int64_t{Plugin->GetNumParams()});
  }
  return static_cast<int>(std::min<int64_t>(size, INT_MAX));
}

HRESULT AdapterFilter::WriteToStream(IStream* stream) {
  CheckPointer(stream, E_POINTER);
  CAutoLock lock(&StreamLock);
  // Whatever happens, the state in the stream is not the object's any more.
  SetDirty(TRUE);
  if (!Plugin) {
    // A registration shell has no plug-in: an empty bank.
    StateWriter out(stream);
    for (uint32_t word : {uint32_t{kProgramsBodyBytes}, 0u, 0u, 0u, 0u, 0u, 0u}) out.U32(word);
    return out.Result();
  }
  VstPlugInstance& plugin = *Plugin;
  try {
    StateWriter out(stream);
    const bool chunks = plugin.programsAreChunks;
    // The chunk is asked for once, so its size and the body's agree.
    void* chunk = nullptr;
    int32_t chunkSize = 0;
    int32_t programs = 0, params = 0;
    int64_t bodySize = chunks ? kChunkBodyBytes : kProgramsBodyBytes;
    if (chunks) {
      chunkSize = plugin.GetChunk(false, &chunk);
      // A chunk we could not read back is refused now, not found missing when the project opens.
      if (chunkSize < 0 || (chunkSize > 0 && chunk == nullptr) ||
          static_cast<uint32_t>(chunkSize) > kMaxStateBlock)
        return E_FAIL;
      bodySize += chunkSize;
    } else {
      programs = plugin.GetNumPrograms();
      params = plugin.GetNumParams();
      const int64_t block = int64_t{programs} * (kNameBytes + 4 * int64_t{params});
      if (block > kMaxStateBlock) return E_FAIL;
      bodySize += block;
    }
    out.U32(static_cast<uint32_t>(bodySize));
    out.U32(chunks ? 1 : 0);

    const int32_t saved = plugin.GetProgram();
    if (chunks) {
      out.U32(static_cast<uint32_t>(chunkSize));
      out.Bytes(chunk, static_cast<uint32_t>(chunkSize));
    } else {
      out.U32(static_cast<uint32_t>(programs));
      out.U32(static_cast<uint32_t>(params));
      std::vector<uint8_t> record(kNameBytes + 4 * static_cast<size_t>(params));
      for (int32_t p = 0; p < programs && SUCCEEDED(out.Result()); ++p) {
        std::fill(record.begin(), record.end(), uint8_t{0});
        // Some plug-ins name only their current program.
        plugin.SetProgram(p);
        plugin.GetProgramName(p, reinterpret_cast<char*>(record.data()));
        for (int32_t k = 0; k < params; ++k)
          StoreU32(&record[kNameBytes + 4 * static_cast<size_t>(k)],
                   FloatBits(plugin.GetParameter(k)));
        out.Bytes(record.data(), static_cast<uint32_t>(record.size()));
      }
    }
    plugin.SetProgram(saved);
    out.U32(static_cast<uint32_t>(saved));
    out.U32(0);
    out.U32(0);
    return out.Result();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
}

HRESULT AdapterFilter::ReadFromStream(IStream* stream) {
  CheckPointer(stream, E_POINTER);
  CAutoLock lock(&StreamLock);
  SavedState state;
  try {
    const HRESULT hr = ReadState(stream, state);
    if (FAILED(hr)) return hr;
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  if (Plugin) {
    VstPlugInstance& plugin = *Plugin;
    if (state.bodyPresent && state.isChunk) {
      // A plug-in may take a pointer even to an empty chunk.
      uint8_t none = 0;
      plugin.SetChunk(false, static_cast<int32_t>(state.block.size()),
                      state.block.empty() ? &none : state.block.data());
    } else if (state.bodyPresent) {
      const size_t record = kNameBytes + 4 * static_cast<size_t>(state.numParams);
      // Programs the plug-in lacks are skipped: selecting one is ignored, so their values would
      // land on the program selected before.
      const int32_t programs = std::min(state.numPrograms, plugin.GetNumPrograms());
      for (int32_t p = 0; p < programs; ++p) {
        const uint8_t* in = &state.block[record * static_cast<size_t>(p)];
        // The plug-in gets a terminated name, whatever the stream holds.
        char name[kNameBytes];
        std::memcpy(name, in, kNameBytes);
        name[kNameBytes - 1] = '\0';
        plugin.SetProgram(p);
        plugin.SetProgramName(p, name);
        for (int32_t k = 0; k < state.numParams; ++k)
          plugin.SetParameter(k, BitsFloat(LoadU32(in + kNameBytes + 4 * static_cast<size_t>(k))));
      }
    }
    plugin.SetProgram(state.currentProgram);
  }
  RebuildProgramBanks();
  SetDirty(TRUE);
  return S_OK;
}

}  // namespace brvst
