#include "tests/vsthost/probe_harness.h"

#include "dshow/allocator.h"

#include <cstring>
#include <stdexcept>

namespace brvst::test {

std::string BinPath(const std::string& file) {
  return std::string(BRVST_BIN_DIR) + kPathSeparator + file;
}

PluginRecord RecordFor(const std::string& path, const char* name) {
  // Reports of failed loads come from this executable's resources.
  SetModuleInstance(GetModuleHandleA(nullptr));
  PluginRecord record;
  if (!MakeDefaultRecord("", record)) throw std::runtime_error("no default record");
  std::strncpy(record.DllPath, path.c_str(), sizeof record.DllPath - 1);
  std::strncpy(record.Name, name, sizeof record.Name - 1);
  return record;
}

ModuleHold::ModuleHold(const std::string& path) : module_(LoadLibraryA(path.c_str())) {
  if (module_ == nullptr) throw std::runtime_error("cannot load " + path);
}

ModuleHold::~ModuleHold() {
  FreeLibrary(module_);
}

const probe::ProbeLog& ModuleHold::Log() const {
  auto get =
      ProcAddressAs<probe::ProbeGetLogProc>(GetProcAddress(module_, probe::kProbeGetLogName));
  return *get();
}

probe::ProbeControl& ModuleHold::Control() const {
  auto get = ProcAddressAs<probe::ProbeGetControlProc>(
      GetProcAddress(module_, probe::kProbeGetControlName));
  return *get();
}

void ModuleHold::Reset() const {
  ProcAddressAs<probe::ProbeResetProc>(GetProcAddress(module_, probe::kProbeResetName))();
}

std::vector<int32_t> ModuleHold::DispatchOpcodes() const {
  std::vector<int32_t> opcodes;
  for (const auto& e : Entries(probe::kProbeDispatch)) opcodes.push_back(e.opcode);
  return opcodes;
}

std::vector<probe::ProbeLogEntry> ModuleHold::Entries(int32_t kind) const {
  const probe::ProbeLog& log = Log();
  std::vector<probe::ProbeLogEntry> entries;
  for (uint32_t i = 0; i < log.count; ++i)
    if (log.entries[i].kind == kind) entries.push_back(log.entries[i]);
  return entries;
}

FilterPtr MakeFilter(PluginRecord& record) {
  IBaseFilter* base = nullptr;
  const HRESULT hr =
      CreateAdapterFilter(&record, nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&base));
  if (FAILED(hr) || base == nullptr) throw std::runtime_error("the filter was not built");
  return FilterPtr(static_cast<AdapterFilter*>(base));
}

AudioType::AudioType(DWORD rate, WORD channels, bool isFloat) {
  format.wFormatTag = isFloat ? WAVE_FORMAT_IEEE_FLOAT : WAVE_FORMAT_PCM;
  format.nChannels = channels;
  format.nSamplesPerSec = rate;
  format.wBitsPerSample = isFloat ? 32 : 16;
  format.nBlockAlign = static_cast<WORD>(format.wBitsPerSample / 8 * channels);
  format.nAvgBytesPerSec = rate * format.nBlockAlign;
  type.majortype = MEDIATYPE_Audio;
  type.subtype = isFloat ? MEDIASUBTYPE_IEEE_FLOAT : MEDIASUBTYPE_PCM;
  type.bFixedSizeSamples = TRUE;
  type.lSampleSize = format.nBlockAlign;
  type.formattype = FORMAT_WaveFormatEx;
  type.cbFormat = sizeof format;
  type.pbFormat = reinterpret_cast<BYTE*>(&format);
}

AudioType::~AudioType() = default;

void SetFormat(AdapterFilter& filter, int direction, DWORD rate, WORD channels, bool isFloat) {
  AudioType type(rate, channels, isFloat);
  filter.SetStreamFormat(direction, &type.type);
}

ProbeFilter::ProbeFilter(const std::string& probeFile, const char* recordName)
    : record(RecordFor(BinPath(probeFile), recordName)),
      hold(BinPath(probeFile)),
      filter(MakeFilter(record)) {}

PathFilter::PathFilter(const std::string& path, const char* recordName)
    : record(RecordFor(path, recordName)), filter(MakeFilter(record)) {}

LooseSample::LooseSample(LONG bytes) {
  ALLOCATOR_PROPERTIES wanted{1, bytes, 1, 0}, actual{};
  if (FAILED(CreateMemoryAllocator(allocator.put())) ||
      FAILED(allocator->SetProperties(&wanted, &actual)) || FAILED(allocator->Commit()) ||
      FAILED(allocator->GetBuffer(sample.put(), nullptr, nullptr, 0)))
    throw std::runtime_error("no media sample");
  sample->SetActualDataLength(bytes);
}

LooseSample::~LooseSample() {
  sample = nullptr;
  allocator->Decommit();
}

void Stereo::Process(VstPlugInstance& plugin, vst2::VstEvents* events) {
  vst2::VstEventsBlock<1> none{};
  float* buffers[] = {left.data(), right.data()};
  plugin.Process(buffers, static_cast<int32_t>(left.size()), events ? events : none.get());
}

}  // namespace brvst::test
