// Preset (FXP) and bank (FXB) files: the standard exchange format of VST 2 programs, big-endian
// throughout.
//
// A file is read into memory and checked to its end before anything is handed to the plug-in,
// so a damaged file changes nothing. Memory follows the bytes that actually arrive, never a size
// field: a file that claims gigabytes and holds a few bytes costs a few bytes.
#include "filter/adapter_filter.h"
#include "vsthost/vst_plug_instance.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <vector>

namespace brvst {
namespace {

constexpr uint32_t kChunkMagic = vst2::FourCC('C', 'c', 'n', 'K');
constexpr uint32_t kPresetParams = vst2::FourCC('F', 'x', 'C', 'k');
constexpr uint32_t kPresetChunk = vst2::FourCC('F', 'P', 'C', 'h');
constexpr uint32_t kBankMagic = vst2::FourCC('F', 'x', 'B', 'k');

// A preset record: 14 words of header with the name, then the values or the chunk.
constexpr size_t kPresetHeader = 56;
constexpr size_t kPresetName = 28;
constexpr size_t kPresetNameAt = 28;
// A bank: 7 words, 128 reserved bytes, then the records or the chunk.
constexpr size_t kBankHeader = 156;
// Besides its chunk, a file holds at most a bank's header and a chunk size.
constexpr size_t kMaxFileBytes = VstPlugInstance::kMaxFileChunkBytes + kBankHeader + 4;

constexpr char kCaption[] = "VST Adapter Error";

enum class Verdict {
  Valid,
  NotPreset,       // no "CcnK" at the start of a preset record
  NotPresetKind,   // neither "FxCk" nor "FPCh"
  OtherPlugIn,     // a preset's or bank's fxID is not the plug-in's
  NotBank,         // no "CcnK" at the start of a bank
  DamagedOrShort,  // ends early, or carries sizes or values no sound file has
};

void Tell(Verdict verdict) {
  const char* text = nullptr;
  switch (verdict) {
    case Verdict::Valid:
      return;
    case Verdict::NotPreset:
      text = "The effect file you tried to load is not a valid VST Preset file (#1).";
      break;
    case Verdict::NotPresetKind:
      text = "The effect file you tried to load is not a valid VST Preset file (#2).";
      break;
    case Verdict::OtherPlugIn:
      text = "The effect file you tried to load is not for this plug-in.";
      break;
    case Verdict::NotBank:
      text = "The effect file you tried to load is not a valid VST Bank file.";
      break;
    case Verdict::DamagedOrShort:
      text = "The file is damaged or incomplete.";
      break;
  }
  MessageBoxA(nullptr, text, kCaption, MB_OK);
}

// The bytes of a file as far as they have been read. Reads only what a caller asks to have, so
// the stream stops right after a record, and keeps its memory in step with what arrived.
class FileBytes {
 public:
  explicit FileBytes(FILE* stream) : stream_(stream) {}

  // True when the `count` bytes from `at` are here, reading them if need be; false when the
  // stream ends first or they lie beyond what any sound file holds.
  bool Have(size_t at, size_t count) {
    if (at > kMaxFileBytes || count > kMaxFileBytes - at) return false;
    const size_t wanted = at + count;
    while (bytes_.size() < wanted) {
      const size_t had = bytes_.size();
      const size_t piece = std::min(wanted - had, kReadPiece);
      if (bytes_.capacity() < had + piece)
        bytes_.reserve(std::min(std::max(had + piece, 2 * bytes_.capacity()), kMaxFileBytes));
      bytes_.resize(had + piece);
      const size_t got = std::fread(bytes_.data() + had, 1, piece, stream_);
      bytes_.resize(had + got);
      if (got < piece) return false;
    }
    return true;
  }

  // A big-endian word that Have() has made present.
  uint32_t Word(size_t at) const {
    const uint8_t* b = bytes_.data() + at;
    return uint32_t{b[0]} << 24 | uint32_t{b[1]} << 16 | uint32_t{b[2]} << 8 | b[3];
  }
  uint8_t* Data(size_t at) { return bytes_.data() + at; }

 private:
  static constexpr size_t kReadPiece = 64 * 1024;
  FILE* stream_;
  std::vector<uint8_t> bytes_;
};

// Where one preset record's parts lie, once read.
struct PresetRecord {
  Verdict verdict = Verdict::Valid;  // the first of its own checks that failed
  size_t at = 0;
  size_t payloadAt = 0;  // the values, or the chunk
  uint32_t count = 0;    // values, or chunk bytes
  size_t end = 0;        // just past it
};

// Reads the preset record at `at` in the layout the plug-in uses (chunk or values). With
// `stopAtFailure` the first failed check ends the reading and is the answer (a file on its own);
// without it the record is read to its end whatever its checks say, so that a bank goes on
// with the record after it. DamagedOrShort when its own sizes cannot be met.
Verdict ReadPresetRecord(FileBytes& file, size_t at, bool chunks, int32_t uniqueId,
                         bool stopAtFailure, PresetRecord& record) {
  record = PresetRecord{};
  record.at = at;
  auto fail = [&](Verdict verdict) {
    if (record.verdict == Verdict::Valid) record.verdict = verdict;
    return stopAtFailure;
  };
  if (!file.Have(at, 4)) return Verdict::DamagedOrShort;
  if (file.Word(at) != kChunkMagic && fail(Verdict::NotPreset)) return record.verdict;
  if (!file.Have(at, 12)) return Verdict::DamagedOrShort;
  const uint32_t kind = file.Word(at + 8);
  if (kind != kPresetParams && kind != kPresetChunk && fail(Verdict::NotPresetKind))
    return record.verdict;
  if (!file.Have(at, 20)) return Verdict::DamagedOrShort;
  if (static_cast<int32_t>(file.Word(at + 16)) != uniqueId && fail(Verdict::OtherPlugIn))
    return record.verdict;
  if (!file.Have(at, kPresetHeader)) return Verdict::DamagedOrShort;

  size_t payloadBytes = 0;
  if (chunks) {
    if (!file.Have(at + kPresetHeader, 4)) return Verdict::DamagedOrShort;
    record.count = file.Word(at + kPresetHeader);
    if (record.count > VstPlugInstance::kMaxFileChunkBytes) return Verdict::DamagedOrShort;
    record.payloadAt = at + kPresetHeader + 4;
    payloadBytes = record.count;
  } else {
    record.count = file.Word(at + 24);
    if (record.count > VstPlugInstance::kMaxFileChunkBytes / 4) return Verdict::DamagedOrShort;
    record.payloadAt = at + kPresetHeader;
    payloadBytes = size_t{record.count} * 4;
  }
  if (!file.Have(record.payloadAt, payloadBytes)) return Verdict::DamagedOrShort;
  // Parameter values are normalised; no sound file carries a NaN or an infinity.
  if (!chunks) {
    for (uint32_t i = 0; i < record.count; ++i)
      if (!std::isfinite(std::bit_cast<float>(file.Word(record.payloadAt + 4 * size_t{i}))))
        return Verdict::DamagedOrShort;
  }
  record.end = record.payloadAt + payloadBytes;
  return record.verdict;
}

// A program's name as the plug-in reports it, into its cached buffer. Asked into the scratch
// room: plug-ins write past the 64 bytes the interface implies.
void RefreshCachedName(VstPlugInstance& plugin, char* scratch, int32_t program, int32_t opcode,
                       intptr_t value) {
  char* cached = plugin.programNames[program];
  std::memset(scratch, 0, sizeof(VstPlugInstance::ProgramName));
  plugin.Dispatch(opcode, program, value, scratch);
  const size_t length = strnlen(scratch, sizeof(VstPlugInstance::ProgramName) - 1);
  std::memcpy(cached, scratch, length);
  std::memset(cached + length, 0, sizeof(VstPlugInstance::ProgramName) - length);
}

// Hands one checked record to the plug-in's current program.
void ApplyPreset(VstPlugInstance& plugin, FileBytes& file, const PresetRecord& record,
                 char* scratch) {
  // The name field need not end in a NUL: all 28 characters are the name then.
  std::memcpy(scratch, file.Data(record.at + kPresetNameAt), kPresetName);
  scratch[kPresetName] = '\0';
  const int32_t program = plugin.GetProgram();
  plugin.SetProgramName(program, scratch);
  if (plugin.programsAreChunks) {
    plugin.SetChunk(true, static_cast<int32_t>(record.count), file.Data(record.payloadAt));
  } else {
    const uint32_t applied = std::min(record.count, static_cast<uint32_t>(plugin.GetNumParams()));
    for (uint32_t i = 0; i < applied; ++i) {
      plugin.SetParameter(static_cast<int32_t>(i),
                          std::bit_cast<float>(file.Word(record.payloadAt + 4 * size_t{i})));
    }
  }
  if (plugin.effect != nullptr && program >= 0 && program < plugin.numPrograms)
    RefreshCachedName(plugin, scratch, program, vst2::effGetProgramName, program);
  plugin.owner->RebuildProgramBanks();
  if (HWND page = plugin.owner->AttachedPageWindow()) InvalidateRect(page, nullptr, FALSE);
}

// Writes big-endian words and bytes; after a failed write it writes nothing more.
class FileWriter {
 public:
  explicit FileWriter(FILE* stream) : stream_(stream) {}
  void Word(uint32_t value) {
    const uint8_t b[4] = {static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16),
                          static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
    Bytes(b, sizeof b);
  }
  void Bytes(const void* data, size_t size) {
    if (ok_ && size != 0) ok_ = std::fwrite(data, 1, size, stream_) == size;
  }
  bool ok() const { return ok_; }

 private:
  FILE* stream_;
  bool ok_ = true;
};

// The plug-in's chunk; an empty one when it gives no address or a negative size, so the size
// written always matches the bytes that follow it.
struct Chunk {
  void* data = nullptr;
  uint32_t size = 0;
};
Chunk ChunkOf(VstPlugInstance& plugin, bool isPreset) {
  Chunk chunk;
  const int32_t size = plugin.GetChunk(isPreset, &chunk.data);
  if (chunk.data == nullptr || size < 0) return {};
  chunk.size = static_cast<uint32_t>(size);
  return chunk;
}

void WriteChunk(FileWriter& out, const Chunk& chunk) {
  out.Word(chunk.size);
  out.Bytes(chunk.data, chunk.size);
}

}  // namespace

void VstPlugInstance::LoadPreset(FILE* stream) {
  if (stream == nullptr) return;
  FileBytes file(stream);
  PresetRecord record;
  const Verdict verdict = ReadPresetRecord(file, 0, programsAreChunks, uniqueId, true, record);
  if (verdict != Verdict::Valid) return Tell(verdict);
  ApplyPreset(*this, file, record, ScratchText());
}

void VstPlugInstance::LoadBank(FILE* stream) {
  if (stream == nullptr) return;
  FileBytes file(stream);
  if (!file.Have(0, 4)) return Tell(Verdict::DamagedOrShort);
  if (file.Word(0) != kChunkMagic) return Tell(Verdict::NotBank);
  if (!file.Have(0, 20)) return Tell(Verdict::DamagedOrShort);
  if (static_cast<int32_t>(file.Word(16)) != uniqueId) return Tell(Verdict::OtherPlugIn);
  if (!file.Have(0, kBankHeader)) return Tell(Verdict::DamagedOrShort);

  // The whole bank is read and measured before the plug-in sees any of it. Records that fail
  // their own checks are passed over whole, so the next record is read where it begins.
  const bool chunks = programsAreChunks;
  uint32_t chunkSize = 0;
  uint32_t records = 0;
  if (chunks) {
    if (!file.Have(kBankHeader, 4)) return Tell(Verdict::DamagedOrShort);
    chunkSize = file.Word(kBankHeader);
    if (chunkSize > kMaxFileChunkBytes || !file.Have(kBankHeader + 4, chunkSize))
      return Tell(Verdict::DamagedOrShort);
  } else {
    records = file.Word(24);
    if (records > static_cast<uint32_t>(INT32_MAX)) return Tell(Verdict::DamagedOrShort);
    PresetRecord record;
    size_t at = kBankHeader;
    for (uint32_t i = 0; i < records; ++i, at = record.end) {
      if (ReadPresetRecord(file, at, false, uniqueId, false, record) == Verdict::DamagedOrShort)
        return Tell(Verdict::DamagedOrShort);
    }
  }

  char* scratch = ScratchText();
  const int32_t remembered = GetProgram();
  if (chunks) {
    SetChunk(false, static_cast<int32_t>(chunkSize), file.Data(kBankHeader + 4));
    for (int32_t i = 0; i < numPrograms; ++i) {
      if (hasIndexedProgramNames) {
        RefreshCachedName(*this, scratch, i, vst2::effGetProgramNameIndexed, -1);
      } else {
        Dispatch(vst2::effSetProgram, i, i);
        RefreshCachedName(*this, scratch, i, vst2::effGetProgramName, i);
      }
    }
    // The plug-in's programs are new: a host that saves only what is dirty must keep them.
    owner->SetDirty(TRUE);
  } else {
    PresetRecord record;
    size_t at = kBankHeader;
    for (uint32_t i = 0; i < records; ++i, at = record.end) {
      ReadPresetRecord(file, at, false, uniqueId, false, record);
      SetProgram(static_cast<int32_t>(i));
      if (record.verdict != Verdict::Valid)
        Tell(record.verdict);
      else
        ApplyPreset(*this, file, record, scratch);
    }
  }
  owner->RebuildProgramBanks();
  SetProgram(remembered);
}

void VstPlugInstance::SavePreset(FILE* stream) {
  if (stream == nullptr) return;
  FileWriter out(stream);
  const bool chunks = programsAreChunks;
  const Chunk chunk = chunks ? ChunkOf(*this, true) : Chunk{};
  const uint32_t params = static_cast<uint32_t>(GetNumParams());
  out.Word(kChunkMagic);
  out.Word(chunks ? chunk.size + 52 : 4 * params + 48);
  out.Word(chunks ? kPresetChunk : kPresetParams);
  out.Word(1);
  out.Word(static_cast<uint32_t>(uniqueId));
  out.Word(1);
  out.Word(params);
  // The name up to its NUL, padded with zeros: whatever an earlier, longer name left behind
  // in the cache stays out of the file. No cached name (no such program) gives an empty one.
  char name[kPresetName] = {};
  const int32_t program = GetProgram();
  if (program >= 0 && program < numPrograms)
    std::memcpy(name, programNames[program], strnlen(programNames[program], kPresetName));
  out.Bytes(name, kPresetName);
  if (chunks) {
    WriteChunk(out, chunk);
  } else {
    for (uint32_t i = 0; i < params && out.ok(); ++i)
      out.Word(std::bit_cast<uint32_t>(GetParameter(static_cast<int32_t>(i))));
  }
}

void VstPlugInstance::SaveBank(FILE* stream) {
  if (stream == nullptr) return;
  FileWriter out(stream);
  const bool chunks = programsAreChunks;
  const Chunk chunk = chunks ? ChunkOf(*this, false) : Chunk{};
  const uint32_t programs = static_cast<uint32_t>(GetNumPrograms());
  const uint32_t params = static_cast<uint32_t>(GetNumParams());
  out.Word(kChunkMagic);
  out.Word(chunks ? chunk.size + 152 : 4 * (params + 14) * programs + 148);
  out.Word(kBankMagic);
  out.Word(1);
  out.Word(static_cast<uint32_t>(uniqueId));
  out.Word(1);
  out.Word(programs);
  const int32_t remembered = GetProgram();
  static constexpr uint8_t kFuture[128] = {};
  out.Bytes(kFuture, sizeof kFuture);
  if (chunks) {
    WriteChunk(out, chunk);
  } else {
    for (uint32_t i = 0; i < programs && out.ok() && !std::ferror(stream); ++i) {
      SetProgram(static_cast<int32_t>(i));
      SavePreset(stream);
    }
  }
  SetProgram(remembered);
}

}  // namespace brvst
