#include "filter/adapter_filter.h"

#include "com/class_factory.h"
#include "dshow/setup.h"
#include "filter/adapter_pins.h"
#include "synth/event_scheduler.h"
#include "synth/parameter_automation.h"
#include "vsthost/vst_plug_instance.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <utility>

namespace brvst {
namespace {

// What registration tells the filter mapper: an audio filter with one input and one output.
const AMOVIESETUP_MEDIATYPE kSetupMediaType = {&MEDIATYPE_Audio, &GUID_NULL};
const AMOVIESETUP_PIN kSetupPins[] = {
    {const_cast<LPWSTR>(W16("Input")), FALSE, FALSE, FALSE, FALSE, &CLSID_NULL, W16("Output"), 1,
     &kSetupMediaType},
    {const_cast<LPWSTR>(W16("Output")), FALSE, TRUE, FALSE, FALSE, &CLSID_NULL, W16("Input"), 1,
     &kSetupMediaType},
};

}  // namespace

AMOVIESETUP_FILTER FilterSetupData = {&CLSID_NULL, nullptr, MERIT_DO_NOT_USE, 2, kSetupPins};

bool IsSupportedAudioFormat(const WAVEFORMATEX& format, bool stereoOnly) {
  const bool pcm16 = format.wFormatTag == WAVE_FORMAT_PCM && format.wBitsPerSample == 16;
  const bool float32 = format.wFormatTag == WAVE_FORMAT_IEEE_FLOAT && format.wBitsPerSample == 32;
  const bool channels = format.nChannels == 2 || (format.nChannels == 1 && !stereoOnly);
  return (pcm16 || float32) && channels;
}

HRESULT CreateAdapterFilter(PluginRecord* record, IUnknown* outer, REFIID riid, void** out) {
  CheckPointer(out, E_POINTER);
  *out = nullptr;
  if (outer != nullptr && riid != IID_IUnknown) return CLASS_E_NOAGGREGATION;
  HRESULT hr = S_OK;
  auto* filter = new (std::nothrow) AdapterFilter(record->Name, outer, &record->FilterClsid,
                                                  &record->PageClsid, &hr, record->DllPath, record);
  if (filter == nullptr) return E_OUTOFMEMORY;
  if (FAILED(hr)) {
    delete filter;
    return hr;
  }
  return HandOverNewObject(filter, outer != nullptr, riid, out);
}

bool AudioFormatOf(const AM_MEDIA_TYPE& type, WAVEFORMATEX& format) {
  if (type.pbFormat == nullptr || type.cbFormat < sizeof(WAVEFORMATEX)) return false;
  std::memcpy(&format, type.pbFormat, sizeof format);
  if (format.wFormatTag != WAVE_FORMAT_EXTENSIBLE) return true;
  // Only a whole extensible block whose samples fill their containers stands for a plain
  // format; anything else keeps the extensible tag, which no pin takes.
  constexpr WORD kExtensionSize = sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);
  if (type.cbFormat < sizeof(WAVEFORMATEXTENSIBLE) || format.cbSize < kExtensionSize) return true;
  WAVEFORMATEXTENSIBLE extensible;
  std::memcpy(&extensible, type.pbFormat, sizeof extensible);
  if (extensible.Samples.wValidBitsPerSample != format.wBitsPerSample) return true;
  if (extensible.SubFormat == KSDATAFORMAT_SUBTYPE_PCM)
    format.wFormatTag = WAVE_FORMAT_PCM;
  else if (extensible.SubFormat == KSDATAFORMAT_SUBTYPE_IEEE_FLOAT)
    format.wFormatTag = WAVE_FORMAT_IEEE_FLOAT;
  else
    return true;
  format.cbSize = 0;
  return true;
}

bool IsExtensibleAudioType(const AM_MEDIA_TYPE& type) {
  WAVEFORMATEX format;
  return AudioFormatOf(type, format) && format.wFormatTag != WAVE_FORMAT_EXTENSIBLE &&
         reinterpret_cast<const WAVEFORMATEX*>(type.pbFormat)->wFormatTag == WAVE_FORMAT_EXTENSIBLE;
}

AdapterFilter::AdapterFilter(const char* name, IUnknown* outer, const GUID* filterClsid,
                             const GUID* pageClsid, HRESULT* phr, const char* dllPath,
                             PluginRecord* record)
    : CBaseFilter(name, outer, &FilterLock, *filterClsid),
      CPersistStream(outer, phr),
      DllPath(dllPath),
      FilterClsid(filterClsid),
      PageClsid(pageClsid),
      Record(record) {
  AddLiveObject();
  AutomationCursor = AutomationPoints.end();
  try {
    Construct(phr);
  } catch (const std::bad_alloc&) {
    if (phr != nullptr) *phr = E_OUTOFMEMORY;
  }
}

void AdapterFilter::Construct(HRESULT* phr) {
  mediaParams_ = std::make_unique<FilterMediaParams>(*this);
  CreatePins(phr);
  Events = std::make_unique<EventScheduler>(Keys, schedulerRate_);
  Events->SetTempoMap(nullptr);
  Events->SetTimeConverter(nullptr);
  if (RegistrationInProgress == 0) RebuildProgramBanks();

  midiBlocks_ = std::make_unique<vst2::VstMidiEvent[]>(kMidiEventSlots);
  for (int i = 0; i < kMidiEventSlots; ++i)
    MidiEvents.events[i] = reinterpret_cast<vst2::VstEvent*>(&midiBlocks_[i]);
  MidiEvents.numEvents = 0;

  // The processing converts into the first two buffers whatever the plug-in reports, so there
  // are always at least two, also when the plug-in failed to load.
  if (RegistrationInProgress == 0)
    AllocateChannelBuffers(std::max(Plugin->channelCount, 2), kInitialChannelBufferFrames);
  ChannelBufferFrames = kInitialChannelBufferFrames;
  TransportStopped = 1;
  TransportChanged = 0;
  NrpnMsb = NrpnLsb = 0;
  SetDirty(TRUE);
}

void AdapterFilter::CreatePins(HRESULT* phr) {
  InputPin = new AdapterInputPin("InputPin", this, phr, W16("Input Pin"));
  OutputPins[0] = new AdapterOutputPin("Out 1", this, phr, W16("Primary Out"));
  OutputPins[0]->NonDelegatingAddRef();
  OutputPinCount = 1;
  if (RegistrationInProgress != 0) return;

  Plugin = std::make_unique<VstPlugInstance>(this);
  Plugin->Load(DllPath);
  if (Plugin->numOutputs <= 2) return;
  // One pin per stereo pair of outputs, and one for an odd last output, which is heard on both
  // sides as a one-output plug-in is; no more pins than the table holds.
  const int pins = std::min((Plugin->numOutputs + 1) / 2, kMaxOutputPins);
  for (int k = 1; k < pins; ++k) {
    char label[64];
    Plugin->GetOutputLabel(2 * k, label);
    WCHAR pinName[129] = {};
    MultiByteToWideChar(CP_ACP, 0, label, -1, pinName, 128);
    OutputPins[k] = new AdapterOutputPin(label, this, phr, pinName);
    OutputPins[k]->NonDelegatingAddRef();
    OutputPinCount = k + 1;
  }
}

void AdapterFilter::AllocateChannelBuffers(int32_t count, int32_t frames) {
  // Zero-filled: channels the plug-in reads but the input does not fill start silent.
  auto storage = std::make_unique<std::unique_ptr<float[]>[]>(count);
  auto pointers = std::make_unique<float*[]>(count);
  for (int32_t c = 0; c < count; ++c) {
    storage[c] = std::make_unique<float[]>(static_cast<size_t>(frames));
    pointers[c] = storage[c].get();
  }
  channelStorage_ = std::move(storage);
  ChannelBuffers = std::move(pointers);
  ChannelBufferCount = count;
  ChannelBufferFrames = frames;
}

AdapterFilter::~AdapterFilter() {
  if (RegistrationInProgress == 0 && Plugin) {
    ChannelBuffers.reset();
    channelStorage_.reset();
    Plugin->Unload();
    Plugin.reset();
  }
  if (HostObject != nullptr) HostObject->Release();
  if (IHostTempoMap* tempoMap = HostTimeSource.load()) tempoMap->Release();
  if (Events && Events->TimeConverter() != nullptr) Events->TimeConverter()->Release();
  Events.reset();
  // Pins a host may still hold must not reach into this filter: the output pins are cut loose
  // and lose the filter's reference; the input pin counts on the filter, so no host holds it.
  for (int k = 0; k < OutputPinCount; ++k) {
    if (OutputPins[k] == nullptr) continue;
    OutputPins[k]->Orphan();
    OutputPins[k]->NonDelegatingRelease();
    OutputPins[k] = nullptr;
  }
  delete InputPin;
  InputPin = nullptr;
  midiBlocks_.reset();
  RemoveLiveObject();
}

STDMETHODIMP AdapterFilter::NonDelegatingQueryInterface(REFIID riid, void** ppv) {
  CheckPointer(ppv, E_POINTER);
  if (riid == IID_IFilterPageLink) return GetInterface(static_cast<IFilterPageLink*>(this), ppv);
  if (riid == IID_ISpecifyPropertyPages)
    return GetInterface(static_cast<ISpecifyPropertyPages*>(this), ppv);
  if (riid == IID_IPersistStream) return GetInterface(static_cast<IPersistStream*>(this), ppv);
  if (riid == IID_IMediaParams && mediaParams_)
    return GetInterface(static_cast<IMediaParams*>(mediaParams_.get()), ppv);
  if (riid == IID_IMediaParamInfo && mediaParams_)
    return GetInterface(static_cast<IMediaParamInfo*>(mediaParams_.get()), ppv);
  if (riid == IID_IHostObjectSink) return GetInterface(static_cast<IHostObjectSink*>(this), ppv);
  if (riid == IID_INotifySink) return GetInterface(static_cast<INotifySink*>(this), ppv);
  if (riid == IID_ISynthInstrument) return GetInterface(Synth.Instrument(), ppv);
  if (riid == IID_IChannelSettings) return GetInterface(Synth.ChannelSettings(), ppv);
  return CBaseFilter::NonDelegatingQueryInterface(riid, ppv);
}

STDMETHODIMP AdapterFilter::GetClassID(CLSID* clsid) {
  CheckPointer(clsid, E_POINTER);
  *clsid = *FilterClsid;
  return S_OK;
}

STDMETHODIMP AdapterFilter::QueryVendorInfo(LPWSTR*) {
  return E_NOTIMPL;
}

STDMETHODIMP AdapterFilter::AttachPage(AttachedPageView* page, void** filter) {
  AttachedPage = page;
  if (filter != nullptr) *filter = this;
  return S_OK;
}

STDMETHODIMP AdapterFilter::GetPages(CAUUID* pages) {
  CheckPointer(pages, E_POINTER);
  pages->cElems = 1;
  pages->pElems = static_cast<GUID*>(CoTaskMemAlloc(sizeof(GUID)));
  if (pages->pElems == nullptr) return E_OUTOFMEMORY;
  pages->pElems[0] = *PageClsid;
  return S_OK;
}

STDMETHODIMP AdapterFilter::SetHostObject(IUnknown* object) {
  if (object != nullptr) object->AddRef();
  IUnknown* previous;
  {
    CAutoLock lock(&hostObjectLock_);
    previous = std::exchange(HostObject, object);
  }
  // Outside the lock: the host's object may call back while it goes.
  if (previous != nullptr) previous->Release();
  return S_OK;
}

ComPtr<IUnknown> AdapterFilter::HostObjectRef() const {
  CAutoLock lock(&hostObjectLock_);
  return ComPtr<IUnknown>(HostObject);
}

int AdapterFilter::GetPinCount() {
  return OutputPinCount + 1;
}

CBasePin* AdapterFilter::GetPin(int n) {
  if (n == 0) return InputPin;
  if (n >= 1 && n <= OutputPinCount) return OutputPins[n - 1];
  return nullptr;
}

const AMOVIESETUP_FILTER* AdapterFilter::GetSetupData() {
  return &FilterSetupData;
}

HWND AdapterFilter::AttachedPageWindow() const {
  return AttachedPage != nullptr ? AttachedPage->PageWindow() : nullptr;
}

HRESULT AdapterFilter::CheckAudioType(int, const AM_MEDIA_TYPE* type) const {
  CheckPointer(type, E_POINTER);
  WAVEFORMATEX format;
  if (type->majortype != MEDIATYPE_Audio || type->bTemporalCompression ||
      !AudioFormatOf(*type, format))
    return VFW_E_TYPE_NOT_ACCEPTED;
  // Rates past any real device's would only make the plug-in size its buffers for nothing.
  if (format.nSamplesPerSec < kMinSampleRate || format.nSamplesPerSec > kMaxSampleRate)
    return VFW_E_TYPE_NOT_ACCEPTED;
  return IsSupportedAudioFormat(format, Record->StereoOnly != 0) ? S_OK : VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT AdapterFilter::CheckTransform(const AM_MEDIA_TYPE* input,
                                      const AM_MEDIA_TYPE* output) const {
  CheckPointer(input, E_POINTER);
  CheckPointer(output, E_POINTER);
  HRESULT hr = CheckAudioType(0, input);
  if (FAILED(hr)) return hr;
  hr = CheckAudioType(1, output);
  if (FAILED(hr)) return hr;
  WAVEFORMATEX in, out;
  AudioFormatOf(*input, in);
  AudioFormatOf(*output, out);
  if (in.nSamplesPerSec != out.nSamplesPerSec || in.nChannels != out.nChannels)
    return VFW_E_TYPE_NOT_ACCEPTED;
  return S_OK;
}

HRESULT AdapterFilter::SetStreamFormat(int direction, const AM_MEDIA_TYPE* type) {
  CheckPointer(type, E_POINTER);
  // Under the stream lock: the plug-in is resumed and the formats change between buffers,
  // never while one is processed.
  CAutoLock lock(&StreamLock);
  if (AudioFormatOf(*type, StreamFormat)) {
    schedulerRate_ = StreamFormat.nSamplesPerSec;
    streamRate_.store(StreamFormat.nSamplesPerSec, std::memory_order_relaxed);
    if (direction == 0) inputFormat_ = StreamFormat;
  }
  if (Plugin) Plugin->Resume(1, static_cast<int32_t>(StreamFormat.nSamplesPerSec), BlockSize);
  const HRESULT hr = CheckAudioType(direction, type);
  if (FAILED(hr)) return hr;
  if (direction == 1) {
    OutputFormat = StreamFormat;
    outputRate_.store(OutputFormat.nSamplesPerSec, std::memory_order_relaxed);
  }
  return S_OK;
}

HRESULT AdapterFilter::SetInputFormat(const AM_MEDIA_TYPE& type) {
  WAVEFORMATEX format;
  if (!AudioFormatOf(type, format)) return VFW_E_INVALIDMEDIATYPE;
  CAutoLock lock(&StreamLock);
  const bool newRate = format.nSamplesPerSec != StreamFormat.nSamplesPerSec;
  StreamFormat = format;
  inputFormat_ = format;
  schedulerRate_ = format.nSamplesPerSec;
  streamRate_.store(format.nSamplesPerSec, std::memory_order_relaxed);
  if (newRate && Plugin) Plugin->Resume(1, static_cast<int32_t>(format.nSamplesPerSec), BlockSize);
  return S_OK;
}

void AdapterFilter::BeginSegment(REFERENCE_TIME start) {
  CAutoLock lock(&StreamLock);
  segmentStart_ = start;
  segmentMoved_ = true;
}

}  // namespace brvst
