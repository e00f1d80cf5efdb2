// AdapterFilter: the DirectShow audio filter for one wrapped VST plug-in.
//
// A CBaseFilter with one input pin and one or more output pins. Each media sample that arrives
// is converted to the plug-in's float channels, processed by the plug-in together with the
// soft-synth events due in it, and delivered on every connected output pin.
#pragma once

#include "com/plugin_list.h"
#include "dshow/base_filter.h"
#include "dshow/persist_stream.h"
#include "filter/private_interfaces.h"
#include "platform/directshow.h"
#include "synth/channel_tables.h"
#include "synth/name_list.h"
#include "synth/synth_instrument.h"
#include "vst2/vst2.h"

#include <atomic>
#include <cstdint>
#include <list>
#include <memory>
#include <vector>

namespace brvst {

class AdapterInputPin;
class AdapterOutputPin;
class EventScheduler;
class FilterMediaParams;
class VstPlugInstance;
struct IHostTempoMap;

// The adapter's own property page as the filter sees it while one is attached.
class AttachedPageView {
 public:
  virtual HWND PageWindow() const = 0;

 protected:
  ~AttachedPageView() = default;
};

// One point of a host automation envelope: at `time` (100-ns units) set parameter `index`.
// Times keep all 64 bits, so renders longer than 2^32 units (about 429.5 s) automate too.
struct AutomationPoint {
  int64_t time;
  int32_t index;
  float value;
};

class AdapterFilter : public CBaseFilter,
                      public CPersistStream,
                      public IFilterPageLink,
                      public ISpecifyPropertyPages,
                      public IHostObjectSink,
                      public INotifySink {
 public:
  static constexpr int kMaxOutputPins = 64;
  static constexpr int kMidiEventSlots = 512;
  static constexpr int kMaxMidiEventsPerBuffer = kMidiEventSlots - 1;
  static constexpr int32_t kInitialChannelBufferFrames = 32768;

  // As the filter factory builds it. A failure to build leaves its code in *phr; the caller
  // then destroys the object.
  AdapterFilter(const char* name, IUnknown* outer, const GUID* filterClsid, const GUID* pageClsid,
                HRESULT* phr, const char* dllPath, PluginRecord* record);
  ~AdapterFilter() override;

  DECLARE_IUNKNOWN
  STDMETHODIMP NonDelegatingQueryInterface(REFIID riid, void** ppv) override;

  // IPersist (IBaseFilter's and IPersistStream's): the record's filter class.
  STDMETHODIMP GetClassID(CLSID* clsid) override;
  // IMediaFilter. Stop also refuses samples from then on; Pause and Run take them again.
  STDMETHODIMP Stop() override;
  STDMETHODIMP Pause() override;
  STDMETHODIMP Run(REFERENCE_TIME start) override;
  STDMETHODIMP QueryVendorInfo(LPWSTR* vendorInfo) override;
  // IFilterPageLink
  STDMETHODIMP AttachPage(AttachedPageView* page, void** filter) override;
  // ISpecifyPropertyPages
  STDMETHODIMP GetPages(CAUUID* pages) override;
  // IHostObjectSink
  STDMETHODIMP SetHostObject(IUnknown* object) override;
  // CPersistStream: the saved state (synth/saved_state.cpp). A damaged stream is refused with
  // the plug-in and the dirty flag untouched.
  int SizeMax() override;
  HRESULT WriteToStream(IStream* stream) override;
  HRESULT ReadFromStream(IStream* stream) override;
  // INotifySink: taken and ignored.
  STDMETHODIMP Notify1(DWORD, DWORD, DWORD, DWORD) override { return S_OK; }
  STDMETHODIMP Notify2(DWORD, DWORD, DWORD, DWORD) override { return S_OK; }

  // CBaseFilter
  int GetPinCount() override;
  CBasePin* GetPin(int n) override;
  const AMOVIESETUP_FILTER* GetSetupData() override;

  // Formats. `direction` is 0 for the input pin, 1 for an output pin. Sample rates from
  // kMinSampleRate to kMaxSampleRate are taken.
  static constexpr DWORD kMinSampleRate = 1;
  static constexpr DWORD kMaxSampleRate = 768000;
  HRESULT CheckAudioType(int direction, const AM_MEDIA_TYPE* type) const;
  HRESULT CheckTransform(const AM_MEDIA_TYPE* input, const AM_MEDIA_TYPE* output) const;
  // Makes a newly set type the stream's format and resumes the plug-in at its rate.
  HRESULT SetStreamFormat(int direction, const AM_MEDIA_TYPE* type);
  // A type that arrived with a sample: the input is read as it says from that sample on. The
  // plug-in is resumed only when the rate changes, so a change of sample format is seamless.
  HRESULT SetInputFormat(const AM_MEDIA_TYPE& type);
  // The input's new segment: positions of later samples are `start` plus their times.
  void BeginSegment(REFERENCE_TIME start);

  // Processing of one media sample, called by the input pin's Receive: VFW_E_WRONG_STATE once
  // the filter is stopped, S_FALSE while the input flushes (the sample is dropped), else S_OK.
  // `readOnly`: the sample's buffer must not be written. `typeChanged`: it carried a type, which
  // must not travel on downstream. May throw std::bad_alloc, with nothing delivered.
  HRESULT ProcessSample(IMediaSample* sample, bool readOnly = false, bool typeChanged = false);
  void ProcessBuffer(BYTE* data, LONG byteCount, IMediaSample* sample, bool readOnly,
                     bool typeChanged);
  // At the first sample of a stream: resumes the plug-in for the largest block the sample's
  // buffers can carry, when that is more than it has.
  void ReserveBlockFor(IMediaSample* sample);

  // Streaming state.
  void ResetStreaming();
  void StartStreaming();

  // Rebuilds the program-name lists handed to hosts from the plug-in's programs.
  void RebuildProgramBanks();
  // The window of the attached property page, or null.
  HWND AttachedPageWindow() const;
  // HostObject with a reference of the caller's: the host may replace it from another thread
  // while the plug-in's automation reports to it.
  ComPtr<IUnknown> HostObjectRef() const;
  // Sample rates for readers on other threads (the plug-in's time and rate queries).
  uint32_t StreamSampleRate() const { return streamRate_.load(std::memory_order_relaxed); }
  uint32_t OutputSampleRate() const { return outputRate_.load(std::memory_order_relaxed); }
  BOOL Dirty() const { return mPS_fDirty; }

  AdapterInputPin* InputPinObject() const { return InputPin; }
  AdapterOutputPin* OutputPinObject(int k) const { return OutputPins[k]; }
  int OutputPinTotal() const { return OutputPinCount; }

  // The fields other parts read and write, under their names.
  CCritSec FilterLock;
  AdapterInputPin* InputPin = nullptr;
  AdapterOutputPin* OutputPins[kMaxOutputPins] = {};
  WAVEFORMATEX OutputFormat{};
  int OutputPinCount = 0;
  // Written under StreamLock by Connect and Disconnect; the plug-in's time queries read it from
  // other threads too.
  std::atomic<IHostTempoMap*> HostTimeSource{nullptr};
  IUnknown* HostObject = nullptr;  // replaced under hostObjectLock_
  CCritSec StreamLock;
  const char* const DllPath;
  const GUID* const FilterClsid;
  const GUID* const PageClsid;
  PluginRecord* const Record;
  AttachedPageView* AttachedPage = nullptr;
  std::unique_ptr<VstPlugInstance> Plugin;
  std::unique_ptr<EventScheduler> Events;
  std::atomic<int32_t> StreamPosition{0};
  std::atomic<int32_t> StreamOrigin{0};
  vst2::VstEventsBlock<kMidiEventSlots> MidiEvents{};
  WAVEFORMATEX StreamFormat{};
  // One buffer per plug-in channel (at least two), ChannelBufferFrames floats each.
  std::unique_ptr<float*[]> ChannelBuffers;
  int32_t ChannelBufferCount = 0;
  int32_t ChannelBufferFrames = 0;
  int32_t Streaming = 0;
  std::atomic<uint8_t> TransportStopped{1};
  std::atomic<int32_t> TransportChanged{0};
  int32_t NrpnMsb = 0;
  int32_t NrpnLsb = 0;
  int32_t CurrentBank = 0;
  std::list<AutomationPoint> AutomationPoints;
  std::list<AutomationPoint>::iterator AutomationCursor;
  int64_t AutomationClock = 0;
  ChannelKeyTables Keys;  // ChannelMute, VelocityOffsetA/B, KeyOffsetA/B
  int32_t BlockSize = 64;
  ProgramBankList ProgramBanks;
  SynthInstrument Synth{*this};  // ISynthInstrument, IChannelSettings

 private:
  void Construct(HRESULT* phr);
  void CreatePins(HRESULT* phr);
  void AllocateChannelBuffers(int32_t count, int32_t frames);
  void ProcessEvents(int32_t frames, int32_t& remaining);
  void QueueMidi(const uint8_t* msg, uint32_t channelKey, int32_t deltaFrames);
  void ApplyAutomation(IMediaSample* sample, int32_t remaining);
  // After a new segment: every parameter takes the value its envelope has at `position`, and
  // the cursor moves to the first point at or after it.
  void RepositionAutomation(int64_t position);
  // Output buffers of the first pin that the plug-in does not write.
  void CompleteOutputs(int32_t frames);
  void Deliver(IMediaSample* sample, int32_t frames, bool readOnly, bool typeChanged);

  mutable CCritSec hostObjectLock_;
  // IMediaParamInfo and IMediaParams.
  std::unique_ptr<FilterMediaParams> mediaParams_;
  std::unique_ptr<vst2::VstMidiEvent[]> midiBlocks_;
  std::unique_ptr<std::unique_ptr<float[]>[]> channelStorage_;
  // The input pin's format: what the incoming data is read as.
  WAVEFORMATEX inputFormat_{};
  // The scheduler's sample rate (read under StreamLock) and its mirrors for other threads.
  DWORD schedulerRate_ = 0;
  // Set under StreamLock by Stop, cleared by Pause and Run; read under StreamLock by every
  // sample, so none is processed once Stop has passed the lock.
  std::atomic<bool> stopped_{true};
  // The current segment's start (100-ns units), and whether the next sample must first move the
  // automation there; under StreamLock.
  REFERENCE_TIME segmentStart_ = 0;
  bool segmentMoved_ = false;
  // Parameters already set while moving the automation to a new position (one flag each).
  std::vector<uint8_t> repositioned_;
  std::atomic<uint32_t> streamRate_{0};
  std::atomic<uint32_t> outputRate_{0};
};

// What GetSetupData answers: the filter mapper's description of the filter, whose class id and
// name registration points at the record it registers.
extern AMOVIESETUP_FILTER FilterSetupData;

// Makes a filter for `record` as the filter class factory does and queries it for `riid`
// (aggregated: IID_IUnknown only). A failure to build or to answer `riid` destroys the new
// object; *out is then null.
HRESULT CreateAdapterFilter(PluginRecord* record, IUnknown* outer, REFIID riid, void** out);

// True for 16-bit PCM or 32-bit float with one or two channels (two only for stereo-only
// records): the formats the filter converts.
bool IsSupportedAudioFormat(const WAVEFORMATEX& format, bool stereoOnly);

// The wave format of a media type as the filter reads it. A whole WAVEFORMATEXTENSIBLE carrying
// PCM or IEEE float with every bit of its containers valid (as real sources deliver float audio)
// is folded into the plain tag; any other extensible block keeps tag 0xFFFE. False when the type
// has no wave format block.
bool AudioFormatOf(const AM_MEDIA_TYPE& type, WAVEFORMATEX& format);
// True when the type is a WAVEFORMATEXTENSIBLE that AudioFormatOf folds into a plain format.
bool IsExtensibleAudioType(const AM_MEDIA_TYPE& type);

}  // namespace brvst
