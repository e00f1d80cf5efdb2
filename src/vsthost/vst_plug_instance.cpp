#include "vsthost/vst_plug_instance.h"

#include "com/failure_report.h"
#include "filter/adapter_filter.h"
#include "platform/fault_trap.h"
#include "synth/host_objects.h"
#include "vsthost/host_callback.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace brvst {
namespace {

// Copies at most size - 1 characters of `text` into `out` and terminates it.
void CopyCut(char* out, const char* text, size_t size) {
  size_t length = 0;
  while (length < size - 1 && text[length] != '\0') ++length;
  std::memcpy(out, text, length);
  out[length] = '\0';
}

template <size_t N>
void CopyTerminated(char (&target)[N], const char* text) {
  CopyCut(target, text, N);
}

// The instance whose SetParameter is calling the plug-in's setParameter on this thread: the
// automation the plug-in echoes from inside it is not the user's. Per thread, so an edit on the
// editor's thread is never taken for an echo of a host change on the streaming thread.
thread_local const VstPlugInstance* settingParameterOf = nullptr;

class SettingParameter {
 public:
  explicit SettingParameter(const VstPlugInstance* instance) : previous_(settingParameterOf) {
    settingParameterOf = instance;
  }
  ~SettingParameter() { settingParameterOf = previous_; }
  SettingParameter(const SettingParameter&) = delete;
  SettingParameter& operator=(const SettingParameter&) = delete;

 private:
  const VstPlugInstance* previous_;
};

// A count as the adapter keeps it: negative counts are taken as 0. False when it exceeds `most`.
bool SaneCount(int32_t reported, int32_t most, int32_t& count) {
  count = std::max(reported, 0);
  return count <= most;
}

// The generic panel's random values: a per-thread linear congruential generator that starts at
// 1 in every thread and is never reseeded, so each run repeats the same values.
int32_t NextRandom() {
  thread_local uint32_t state = 1;
  state = state * 214013u + 2531011u;
  return static_cast<int32_t>((state >> 16) & 0x7FFF);
}

// The host's edit object is known only by the position of its methods.
IHostParamEdit* ParamEditObject(const ComPtr<IUnknown>& object) {
  return reinterpret_cast<IHostParamEdit*>(object.get());
}

}  // namespace

vst2::VstTimeInfo InitialTimeInfo() {
  vst2::VstTimeInfo info{};
  info.tempo = 120.0;
  info.timeSigNumerator = 4;
  info.timeSigDenominator = 4;
  return info;
}

char* VstPlugInstance::ScratchText() {
  static thread_local char scratch[kScratchTextSize];
  return scratch;
}

VstPlugInstance::VstPlugInstance(AdapterFilter* ownerFilter)
    : owner(ownerFilter), timeInfo(InitialTimeInfo()) {}

VstPlugInstance::~VstPlugInstance() {
  programNames.reset();
  Unload();
}

intptr_t VstPlugInstance::Dispatch(int32_t opcode, int32_t index, intptr_t value, void* ptr,
                                   float opt) {
  if (effect == nullptr || effect->dispatcher == nullptr) return 0;
  return effect->dispatcher(effect, opcode, index, value, ptr, opt);
}

void VstPlugInstance::Load(const char* path) {
  // A Process call still running on the streaming thread must not see the plug-in change.
  while (busy.load()) Sleep(0);

  loadFailure = LoadFailure::None;
  loaderError = 0;
  seenMagic = 0;
  if (!StorePaths(path)) {
    loadFailure = LoadFailure::PathTooLong;
    ReportLoadFailure();
    return;
  }
  // The loader and the symbol lookup run outside the fault trap: jumping out of the dynamic
  // linker after a fault would leave its lock held, and every later load in the process would
  // hang. A module that faults while it loads is the loader's to refuse.
  module = LoadLibraryA(dllPath);
  effect = nullptr;
  if (module == nullptr) {
    loaderError = GetLastError();
    loadFailure = LoadFailure::ModuleNotLoaded;
    ReportLoadFailure();
    return;
  }
  entry = FindEntry();
  if (entry == nullptr) {
    loadFailure = LoadFailure::NoEntryPoint;
    ReportLoadFailure();
    return;
  }

  OpenProgress progress;
  OpenResult result = OpenResult::Refused;
  platform::Fault fault = platform::Fault::None;
  try {
    fault = platform::FaultTrap([&] { result = OpenPlugin(progress); });
  } catch (...) {
    // Out of memory while reading the plug-in's programs, say.
    result = OpenResult::Refused;
    loadFailure = LoadFailure::OutOfMemory;
  }
  if (fault != platform::Fault::None) {
    loadFailure = LoadFailure::Fault;
    ReportLoadFault();
    return;
  }
  if (result == OpenResult::Opened) {
    effect = progress.effect;
    return;
  }
  // An opened plug-in may have started threads or timers of its own: it is closed before its
  // code is unmapped.
  if (!CloseRefusedPlugin(progress)) {
    loadFailure = LoadFailure::Fault;
    ReportLoadFault();
    return;
  }
  ReportLoadFailure();
}

vst2::EntryProc VstPlugInstance::FindEntry() const {
  // Current plug-ins export only "VSTPluginMain"; older ones "main" (or "Main" where a
  // compiler kept that name for programs).
  for (const char* name : {"main", "Main", "VSTPluginMain"}) {
    if (auto found = ProcAddressAs<vst2::EntryProc>(GetProcAddress(module, name))) return found;
  }
  return nullptr;
}

bool VstPlugInstance::StorePaths(const char* path) {
  const size_t pathLength = std::strlen(path);
  if (pathLength >= sizeof dllPath) {
    // A path cut to fit would name another file.
    CopyTerminated(dllPath, path);
    return false;
  }
  std::memcpy(dllPath, path, pathLength + 1);
  std::memcpy(directory, path, pathLength + 1);
  if (char* separator = std::strrchr(directory, kPathSeparator)) separator[1] = '\0';
  return true;
}

VstPlugInstance::OpenResult VstPlugInstance::OpenPlugin(OpenProgress& progress) {
  // Step by step as a plug-in expects it; every value read from it is checked before use.
  vst2::AEffect* opened = entry(HostCallback);
  if (opened == nullptr) {
    loadFailure = LoadFailure::NoEffect;
    return OpenResult::Refused;
  }
  // The magic first: whatever a module that is no VST plug-in returned from its "main" must not
  // be written to, nor its fields taken for a dispatcher.
  if (opened->magic != vst2::kEffectMagic) {
    seenMagic = opened->magic;
    loadFailure = LoadFailure::WrongMagic;
    return OpenResult::Refused;
  }
  if (opened->dispatcher == nullptr) {
    loadFailure = LoadFailure::NoDispatcher;
    return OpenResult::Refused;
  }
  // From here on the host callback can find this instance.
  opened->resvd1 = reinterpret_cast<intptr_t>(this);
  progress.effect = opened;

  auto dispatch = [opened](int32_t opcode, int32_t index, intptr_t value, void* ptr) {
    return opened->dispatcher(opened, opcode, index, value, ptr, 0.0f);
  };
  progress.openSent = true;
  dispatch(vst2::effOpen, 0, 0, nullptr);

  // The counts size what is allocated below and in the filter: read once, checked, then used.
  int32_t inputs = 0, outputs = 0, programs = 0, params = 0;
  if (!SaneCount(opened->numInputs, kMaxChannels, inputs) ||
      !SaneCount(opened->numOutputs, kMaxChannels, outputs) ||
      !SaneCount(opened->numPrograms, kMaxPrograms, programs) ||
      !SaneCount(opened->numParams, kMaxParams, params)) {
    loadFailure = LoadFailure::BadCounts;
    return OpenResult::Refused;
  }

  canReplacing = (opened->flags & vst2::effFlagsCanReplacing) != 0;
  uniqueId = opened->uniqueID;
  programsAreChunks = (opened->flags & vst2::effFlagsProgramChunks) != 0;
  numOutputs = outputs;
  channelCount = std::max({inputs, outputs, 2});

  bufferStorage = std::make_unique<std::unique_ptr<float[]>[]>(channelCount);
  ownBuffers = std::make_unique<float*[]>(channelCount);
  channelPointers = std::make_unique<float*[]>(channelCount);

  dispatch(vst2::effSetProgram, 0, 0, nullptr);
  numPrograms = programs;
  programNames = std::make_unique<ProgramName[]>(numPrograms);

  // Plug-ins that answer program 0 by index answer every program that way; the others are
  // read by switching to each program in turn. Names go into scratch room first: some write
  // past the 64 bytes the interface implies.
  char* scratch = ScratchText();
  std::memset(scratch, 0, sizeof(ProgramName));
  dispatch(vst2::effGetProgramNameIndexed, 0, -1, scratch);
  hasIndexedProgramNames = scratch[0] != '\0';
  for (int32_t i = 0; i < numPrograms; ++i) {
    std::memset(scratch, 0, sizeof(ProgramName));
    if (hasIndexedProgramNames) {
      dispatch(vst2::effGetProgramNameIndexed, i, -1, scratch);
    } else {
      dispatch(vst2::effSetProgram, i, i, nullptr);
      dispatch(vst2::effGetProgramName, i, i, scratch);
    }
    CopyTerminated(programNames[i], scratch);
  }
  dispatch(vst2::effSetProgram, 0, 0, nullptr);
  numParams = params;

  if (dllPath[0] != '\0') {
    const char* separator = std::strrchr(dllPath, kPathSeparator);
    CopyTerminated(name, separator != nullptr ? separator + 1 : dllPath);
    if (char* dot = std::strchr(name, '.')) *dot = '\0';
  } else {
    name[0] = '\0';
  }
  return OpenResult::Opened;
}

bool VstPlugInstance::CloseRefusedPlugin(const OpenProgress& progress) {
  ForgetPlugin();
  if (!progress.openSent) return true;
  vst2::AEffect* opened = progress.effect;
  const platform::Fault fault = platform::FaultTrap(
      [opened] { opened->dispatcher(opened, vst2::effClose, 0, 0, nullptr, 0.0f); });
  return fault == platform::Fault::None;
}

void VstPlugInstance::ForgetPlugin() {
  effect = nullptr;
  numOutputs = numParams = numPrograms = 0;
  channelCount = 0;
  canReplacing = programsAreChunks = hasIndexedProgramNames = false;
  uniqueId = 0;
  programNames.reset();
  bufferStorage.reset();
  ownBuffers.reset();
  channelPointers.reset();
}

void VstPlugInstance::ReportLoadFailure() {
  // Without allocating: this also reports running out of memory.
  static constexpr char kText[] = "The following VST plug-in failed to load:-  ";
  char text[sizeof kText + sizeof dllPath];
  std::memcpy(text, kText, sizeof kText - 1);
  CopyCut(text + sizeof kText - 1, dllPath, sizeof dllPath);
  ForgetPlugin();
  MessageBoxA(nullptr, text, "VST Adapter Error", MB_SYSTEMMODAL);
  if (module != nullptr) {
    FreeLibrary(module);
    module = nullptr;
  }
}

void VstPlugInstance::ReportLoadFault() {
  // The plug-in crashed inside its own code. Its library stays loaded: code of it may still be
  // referenced (threads, callbacks), and unloading a broken library is no safer.
  ForgetPlugin();
  ShowSeriousErrorReport(owner->Record != nullptr ? owner->Record->Name : "");
}

bool VstPlugInstance::Unload() {
  if (editorOpen) CloseEditor();
  Suspend();
  if (effect != nullptr) {
    Dispatch(vst2::effClose);
    effect = nullptr;
    FreeLibrary(module);
    module = nullptr;
  }
  ownBuffers.reset();
  bufferStorage.reset();
  channelPointers.reset();
  return true;
}

void VstPlugInstance::Resume(int32_t, int32_t sampleRate, int32_t newBlockSize) {
  if (effect == nullptr || effect->dispatcher == nullptr) return;
  // The new buffers first: without them nothing changes, and a running plug-in goes on at its
  // old block size.
  const int64_t frames = std::max(newBlockSize, 0);
  if (frames * channelCount > kMaxWorkSamples) throw std::bad_alloc();
  auto fresh = std::make_unique<std::unique_ptr<float[]>[]>(channelCount);
  for (int32_t c = 0; c < channelCount; ++c)
    fresh[c] = std::make_unique<float[]>(static_cast<size_t>(frames));  // zero-filled

  Suspend();
  const float rate = static_cast<float>(sampleRate);
  Dispatch(vst2::effSetSampleRate, 0, sampleRate, nullptr, rate);
  Dispatch(vst2::effSetBlockSize, 0, newBlockSize);
  owner->BlockSize = newBlockSize;
  bufferStorage = std::move(fresh);
  for (int32_t c = 0; c < channelCount; ++c) {
    ownBuffers[c] = bufferStorage[c].get();
    channelPointers[c] = ownBuffers[c];
  }
  blockSize = newBlockSize;
  Dispatch(vst2::effMainsChanged, 0, 1);
  running = true;
  Dispatch(vst2::effSetSampleRate, 0, sampleRate, nullptr, rate);
  Dispatch(vst2::effSetBlockSize, 0, newBlockSize);
  OnResumed();
  Dispatch(vst2::effSetSampleRate, 0, sampleRate, nullptr, rate);
}

void VstPlugInstance::OnResumed() {}

void VstPlugInstance::Suspend() {
  if (effect == nullptr || effect->dispatcher == nullptr) return;
  // Only a running plug-in is switched off: some assert that they were switched on first.
  if (running.exchange(false)) Dispatch(vst2::effMainsChanged, 0, 0);
  if (ownBuffers) {
    for (int32_t c = 0; c < channelCount; ++c) {
      bufferStorage[c].reset();
      ownBuffers[c] = nullptr;
    }
  }
}

void VstPlugInstance::Process(float** buffers, int32_t frames, vst2::VstEvents* events) {
  busy.store(true);
  // Only this thread compares the id with its own; another thread's id never matches whatever
  // it reads, so no ordering is needed.
  processThread.store(GetCurrentThreadId(), std::memory_order_relaxed);
  // Whichever way the call ends (a larger block may find no memory), it is over.
  struct CallEnd {
    VstPlugInstance& instance;
    ~CallEnd() {
      instance.processThread.store(0, std::memory_order_relaxed);
      // Whoever waits for the call to end sees everything it did.
      instance.busy.store(false, std::memory_order_release);
    }
  } callEnd{*this};

  if (frames > blockSize)
    Resume(1, static_cast<int32_t>(owner->StreamFormat.nSamplesPerSec), frames);
  // A block without frames carries nothing for the plug-in, and a plug-in that is not running
  // has no work buffers and must not be processed.
  if (effect == nullptr || effect->dispatcher == nullptr || frames <= 0 || !running) return;
  if (events->numEvents != 0) Dispatch(vst2::effProcessEvents, 0, 0, events);
  if (canReplacing && effect->processReplacing != nullptr) {
    for (int32_t c = 0; c < channelCount; ++c) channelPointers[c] = buffers[c];
    effect->processReplacing(effect, channelPointers.get(), channelPointers.get(), frames);
  } else if (effect->process != nullptr) {
    // The accumulating call adds into its outputs: give it cleared work buffers and copy the
    // result back.
    const size_t bytes = sizeof(float) * static_cast<size_t>(frames);
    for (int32_t c = 0; c < channelCount; ++c) {
      std::memset(ownBuffers[c], 0, bytes);
      channelPointers[c] = buffers[c];
    }
    effect->process(effect, channelPointers.get(), ownBuffers.get(), frames);
    for (int32_t c = 0; c < channelCount; ++c) std::memcpy(buffers[c], ownBuffers[c], bytes);
  }
}

void VstPlugInstance::Idle() {
  if (editorOpen && effect != nullptr && effect->dispatcher != nullptr && ShowsOwnEditor()) {
    Dispatch(vst2::effEditIdle);
    Dispatch(vst2::effIdle);
  }
  // The window thread never waits here: while a gesture is being reported the countdown
  // waits for the next pass, which the report sets back to five anyway.
  std::unique_lock<std::recursive_mutex> lock(automationLock, std::try_to_lock);
  if (!lock.owns_lock()) return;
  const int32_t countdown = captureCountdown.load(std::memory_order_relaxed);
  if (countdown == 0) return;
  captureCountdown.store(countdown - 1, std::memory_order_relaxed);
  const int32_t captured = capturedParam.load(std::memory_order_relaxed);
  if (countdown == 1 && captured >= 0) {
    if (const ComPtr<IUnknown> host = owner->HostObjectRef()) {
      LONG index = captured;
      ParamEditObject(host)->EndParamEdit(&index, 1);
    }
    capturedParam.store(-1, std::memory_order_relaxed);
  }
}

void VstPlugInstance::RandomizeParameters() {
  for (int32_t i = 0; i < GetNumParams(); ++i)
    SetParameter(i, static_cast<float>(NextRandom()) * 3.0518509e-05f);
}

void VstPlugInstance::SizeWindow(int32_t, int32_t) {}

void VstPlugInstance::OnEditorResized() {}

void VstPlugInstance::ParameterAutomated(int32_t index, float value) {
  if (index < 0 || index >= numParams || settingParameterOf == this) return;
  const ComPtr<IUnknown> host = owner->HostObjectRef();
  if (!host) return;
  // The editor's thread and the streaming thread may both automate while the window thread
  // idles: one gesture at a time reaches the host, whole.
  std::lock_guard<std::recursive_mutex> lock(automationLock);
  IHostParamEdit* edit = ParamEditObject(host);
  const int32_t captured = capturedParam.load(std::memory_order_relaxed);
  if (captured >= 0 && captured != index) {
    LONG ended = captured;
    edit->EndParamEdit(&ended, 1);
    capturedParam.store(-1, std::memory_order_relaxed);
  }
  LONG changed = index;
  if (capturedParam.load(std::memory_order_relaxed) < 0) {
    edit->BeginParamEdit(&changed, 1);
    capturedParam.store(index, std::memory_order_relaxed);
  }
  float changedValue = value;
  edit->ParamEdited(&changed, 1, &changedValue);
  captureCountdown.store(5, std::memory_order_relaxed);
}

int32_t VstPlugInstance::GetNumPrograms() {
  return effect != nullptr ? numPrograms : 0;
}

void VstPlugInstance::SetProgram(int32_t index) {
  if (effect != nullptr && index >= 0 && index < effect->numPrograms)
    Dispatch(vst2::effSetProgram, index, index);
  if (HWND page = owner->AttachedPageWindow()) InvalidateRect(page, nullptr, TRUE);
  std::lock_guard<std::mutex> lock(panelLock);
  if (panel != nullptr)
    for (int32_t i = 0; i < numParams; ++i) panel->ShowParameter(i, GetParameter(i));
}

int32_t VstPlugInstance::GetProgram() {
  return effect != nullptr ? static_cast<int32_t>(Dispatch(vst2::effGetProgram)) : 0;
}

void VstPlugInstance::GetProgramName(int32_t index, char* out) {
  if (index < 0 || index >= numPrograms) {
    out[0] = '\0';
    return;
  }
  if (hasIndexedProgramNames)
    AskText(vst2::effGetProgramNameIndexed, index, -1, out, sizeof(ProgramName));
  else
    std::memcpy(out, programNames[index], sizeof(ProgramName));
}

void VstPlugInstance::AskText(int32_t opcode, int32_t index, intptr_t value, char* out,
                              size_t size) {
  // Plug-ins write past the sizes the interface implies; the caller's buffer never meets them.
  char* scratch = ScratchText();
  std::memset(scratch, 0, size);
  Dispatch(opcode, index, value, scratch);
  CopyCut(out, scratch, size);
}

void VstPlugInstance::SetProgramName(int32_t index, const char* newName) {
  if (index >= 0 && index < numPrograms) {
    CopyTerminated(programNames[index], newName);
    if (effect != nullptr)
      Dispatch(vst2::effSetProgramName, index, index, const_cast<char*>(newName));
  }
  owner->SetDirty(TRUE);
  owner->RebuildProgramBanks();
}

int32_t VstPlugInstance::SetChunk(bool isPreset, int32_t size, void* data) {
  if (effect == nullptr) return 0;
  return static_cast<int32_t>(Dispatch(vst2::effSetChunk, isPreset ? 1 : 0, size, data));
}

int32_t VstPlugInstance::GetChunk(bool isPreset, void** data) {
  if (effect == nullptr) return 0;
  return static_cast<int32_t>(Dispatch(vst2::effGetChunk, isPreset ? 1 : 0, 0, data));
}

int32_t VstPlugInstance::GetNumParams() {
  // Read afresh (plug-ins may change it), but never negative nor beyond what load accepted.
  return effect != nullptr ? std::clamp(effect->numParams, 0, kMaxParams) : 0;
}

float VstPlugInstance::GetParameter(int32_t index) {
  if (effect == nullptr || effect->getParameter == nullptr || index < 0 ||
      index >= effect->numParams)
    return 0.0f;
  return effect->getParameter(effect, index);
}

void VstPlugInstance::GetParamName(int32_t index, char* out) {
  std::memset(out, 0, vst2::kParamTextSize);
  if (index >= 0 && index < numParams)
    AskText(vst2::effGetParamName, index, 0, out, vst2::kParamTextSize);
}

void VstPlugInstance::GetParamDisplay(int32_t index, char* out) {
  if (index >= 0 && index < numParams)
    AskText(vst2::effGetParamDisplay, index, 0, out, vst2::kParamTextSize);
}

void VstPlugInstance::GetParamLabel(int32_t index, char* out) {
  if (index >= 0 && index < numParams)
    AskText(vst2::effGetParamLabel, index, 0, out, vst2::kParamTextSize);
}

void VstPlugInstance::SetParameter(int32_t index, float value) {
  if (effect != nullptr && effect->setParameter != nullptr && index >= 0 &&
      index < effect->numParams) {
    {
      SettingParameter setting(this);
      effect->setParameter(effect, index, value);
    }
    std::lock_guard<std::mutex> lock(panelLock);
    if (panel != nullptr) panel->ShowParameter(index, value);
  }
  owner->SetDirty(TRUE);
}

void VstPlugInstance::GetOutputLabel(int32_t index, char* out) {
  out[0] = '\0';
  if (effect == nullptr) return;
  vst2::VstPinProperties properties{};
  if (Dispatch(vst2::effGetOutputProperties, index, index, &properties) != 0) {
    properties.label[sizeof properties.label - 1] = '\0';
    std::memcpy(out, properties.label, sizeof properties.label);
  }
}

}  // namespace brvst
