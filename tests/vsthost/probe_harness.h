// A filter owning a plug-in instance for one probe plug-in, and the probe's record of calls.
#pragma once

#include "com/plugin_list.h"
#include "dshow/com_ptr.h"
#include "filter/adapter_filter.h"
#include "vsthost/vst_plug_instance.h"

#include "tests/fixtures/plugins/probe_api.h"

#include <memory>
#include <string>
#include <vector>

namespace brvst::test {

// Full path of a module built into the bin folder, e.g. BinPath("probe_effect.dll").
std::string BinPath(const std::string& file);

// A record like the adapter's own, for the plug-in at `path`.
PluginRecord RecordFor(const std::string& path, const char* name = "Probe Record");

// Keeps a module loaded while the test runs, so that a probe's record of calls outlives the
// instance that unloads it.
class ModuleHold {
 public:
  explicit ModuleHold(const std::string& path);
  ~ModuleHold();
  ModuleHold(const ModuleHold&) = delete;
  ModuleHold& operator=(const ModuleHold&) = delete;

  HMODULE module() const { return module_; }
  const probe::ProbeLog& Log() const;
  probe::ProbeControl& Control() const;
  void Reset() const;

  // The dispatcher calls in the log, in order, as opcodes.
  std::vector<int32_t> DispatchOpcodes() const;
  // The log entries of one kind.
  std::vector<probe::ProbeLogEntry> Entries(int32_t kind) const;

 private:
  HMODULE module_;
};

// A filter holding one reference of the caller's.
struct FilterRelease {
  void operator()(AdapterFilter* filter) const { filter->Release(); }
};
using FilterPtr = std::unique_ptr<AdapterFilter, FilterRelease>;

// A filter for `record`, built as the filter factory builds one.
FilterPtr MakeFilter(PluginRecord& record);

// An audio media type: 16-bit PCM or 32-bit float.
struct AudioType {
  explicit AudioType(DWORD rate, WORD channels = 2, bool isFloat = true);
  ~AudioType();
  AudioType(const AudioType&) = delete;
  AudioType& operator=(const AudioType&) = delete;
  AM_MEDIA_TYPE type{};
  WAVEFORMATEX format{};
};

// Sets a format on the filter as a pin does when it connects (0 input, 1 output).
void SetFormat(AdapterFilter& filter, int direction, DWORD rate, WORD channels = 2,
               bool isFloat = true);

// A filter for a probe (the instance's owner), built as the filter factory builds one.
struct ProbeFilter {
  explicit ProbeFilter(const std::string& probeFile, const char* recordName = "Probe Record");
  PluginRecord record;
  ModuleHold hold;  // loaded before the filter, so the log is there from the first call
  FilterPtr filter;
  VstPlugInstance& plugin() const { return *filter->Plugin; }
};

// A filter for the plug-in at `path`, whatever it is, with the record it points to.
struct PathFilter {
  explicit PathFilter(const std::string& path, const char* recordName = "Probe Record");
  PluginRecord record;
  FilterPtr filter;
  VstPlugInstance& plugin() const { return *filter->Plugin; }
};

// A media sample of `bytes` bytes from an allocator of its own, for handing straight to a
// filter's processing, without a graph.
struct LooseSample {
  explicit LooseSample(LONG bytes);
  ~LooseSample();
  LooseSample(const LooseSample&) = delete;
  LooseSample& operator=(const LooseSample&) = delete;
  IMediaSample* get() const { return sample.get(); }
  ComPtr<IMemAllocator> allocator;
  ComPtr<IMediaSample> sample;
};

// Two channels of audio, each filled with one value, processed in place as the filter does.
struct Stereo {
  explicit Stereo(size_t frames, float leftValue = 0, float rightValue = 0)
      : left(frames, leftValue), right(frames, rightValue) {}
  // Processes every frame, handing `events` (none by default) over first.
  void Process(VstPlugInstance& plugin, vst2::VstEvents* events = nullptr);
  std::vector<float> left, right;
};

// One note-on (key 60, velocity 100) `deltaFrames` into a block, as the events for Process.
struct NoteOn {
  explicit NoteOn(int32_t deltaFrames) {
    note.type = vst2::kVstMidiType;
    note.byteSize = sizeof note;
    note.deltaFrames = deltaFrames;
    note.midiData[0] = static_cast<char>(0x90);
    note.midiData[1] = 60;
    note.midiData[2] = 100;
    block.events[0] = reinterpret_cast<vst2::VstEvent*>(&note);
    block.numEvents = 1;
  }
  NoteOn(const NoteOn&) = delete;
  NoteOn& operator=(const NoteOn&) = delete;
  vst2::VstEvents* get() { return block.get(); }
  vst2::VstMidiEvent note{};
  vst2::VstEventsBlock<1> block{};
};

// A host object whose reference count nobody owns: IUnknown answered for interface I.
template <class I>
class Unowned : public I {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override {
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
};

}  // namespace brvst::test
