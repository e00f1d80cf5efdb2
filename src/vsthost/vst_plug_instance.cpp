#include "vsthost/vst_plug_instance.h"

#include "com/failure_report.h"
#include "filter/adapter_filter.h"
#include "platform/fault_trap.h"
#include "synth/host_objects.h"
#include "vsthost/host_callback.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace brvst {
namespace {

// Copies at most N - 1 characters and always terminates.
template <size_t N>
void CopyTerminated(char (&target)[N], const char* text) {
  size_t length = 0;
  while (length < N - 1 && text[length] != '\0') ++length;
  std::memcpy(target, text, length);
  target[length] = '\0';
}

// Plug-ins write names into buffers whose size the interface merely implies; some write past
// it. Names are read into this much room first and then cut to the size the adapter keeps.
constexpr size_t kScratchTextSize = 512;

// The generic panel's random values: a per-thread linear congruential generator that starts at
// 1 in every thread and is never reseeded, so each run repeats the same values.
int32_t NextRandom() {
  thread_local uint32_t state = 1;
  state = state * 214013u + 2531011u;
  return static_cast<int32_t>((state >> 16) & 0x7FFF);
}

IHostParamEdit* ParamEditObject(AdapterFilter* owner) {
  // The host's edit object is known only by the position of its methods.
  return reinterpret_cast<IHostParamEdit*>(owner->HostObject);
}

}  // namespace

vst2::VstTimeInfo InitialTimeInfo() {
  vst2::VstTimeInfo info{};
  info.tempo = 120.0;
  info.timeSigNumerator = 4;
  info.timeSigDenominator = 4;
  return info;
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

  bool opened = false;
  platform::Fault fault = platform::Fault::None;
  try {
    fault = platform::FaultTrap([&] { opened = OpenPlugin(path); });
  } catch (...) {
    opened = false;  // out of memory while reading the plug-in's programs, say
  }
  if (fault != platform::Fault::None) {
    // The plug-in crashed inside its own code. Its library stays loaded: code of it may still
    // be referenced (threads, callbacks), and unloading a broken library is no safer.
    effect = nullptr;
    numOutputs = numParams = numPrograms = 0;
    ShowSeriousErrorReport(owner->Record != nullptr ? owner->Record->Name : "");
    return;
  }
  if (!opened) ReportLoadFailure();
}

bool VstPlugInstance::OpenPlugin(const char* path) {
  // Step by step as a plug-in expects it; every value read from it is checked before use.
  const size_t pathLength = std::strlen(path);
  if (pathLength >= sizeof dllPath) {
    // A path cut to fit would name another file.
    CopyTerminated(dllPath, path);
    return false;
  }
  std::memcpy(dllPath, path, pathLength + 1);
  std::memcpy(directory, path, pathLength + 1);
  if (char* separator = std::strrchr(directory, kPathSeparator)) separator[1] = '\0';

  module = LoadLibraryA(dllPath);
  effect = nullptr;
  if (module == nullptr) return false;
  entry = ProcAddressAs<vst2::EntryProc>(GetProcAddress(module, "main"));
  if (entry == nullptr) entry = ProcAddressAs<vst2::EntryProc>(GetProcAddress(module, "Main"));
  if (entry == nullptr) return false;

  vst2::AEffect* opened = entry(HostCallback);
  if (opened == nullptr || opened->dispatcher == nullptr) return false;
  // From here on the host callback can find this instance.
  opened->resvd1 = reinterpret_cast<intptr_t>(this);
  if (opened->magic != vst2::kEffectMagic) return false;

  auto dispatch = [opened](int32_t opcode, int32_t index, intptr_t value, void* ptr) {
    return opened->dispatcher(opened, opcode, index, value, ptr, 0.0f);
  };
  dispatch(vst2::effOpen, 0, 0, nullptr);

  canReplacing = (opened->flags & vst2::effFlagsCanReplacing) != 0;
  uniqueId = opened->uniqueID;
  programsAreChunks = (opened->flags & vst2::effFlagsProgramChunks) != 0;
  numOutputs = std::max(opened->numOutputs, 0);
  channelCount = std::max({opened->numInputs, opened->numOutputs, 2});

  bufferStorage = std::make_unique<std::unique_ptr<float[]>[]>(channelCount);
  ownBuffers = std::make_unique<float*[]>(channelCount);
  channelPointers = std::make_unique<float*[]>(channelCount);

  dispatch(vst2::effSetProgram, 0, 0, nullptr);
  numPrograms = std::max(opened->numPrograms, 0);
  programNames = std::make_unique<ProgramName[]>(numPrograms);

  // Plug-ins that answer program 0 by index answer every program that way; the others are
  // read by switching to each program in turn.
  static thread_local char scratch[kScratchTextSize];
  std::memset(scratch, 0, sizeof scratch);
  dispatch(vst2::effGetProgramNameIndexed, 0, -1, scratch);
  hasIndexedProgramNames = scratch[0] != '\0';
  for (int32_t i = 0; i < numPrograms; ++i) {
    std::memset(scratch, 0, sizeof scratch);
    if (hasIndexedProgramNames) {
      dispatch(vst2::effGetProgramNameIndexed, i, -1, scratch);
    } else {
      dispatch(vst2::effSetProgram, i, i, nullptr);
      dispatch(vst2::effGetProgramName, i, i, scratch);
    }
    CopyTerminated(programNames[i], scratch);
  }
  dispatch(vst2::effSetProgram, 0, 0, nullptr);
  numParams = std::max(opened->numParams, 0);

  if (dllPath[0] != '\0') {
    const char* separator = std::strrchr(dllPath, kPathSeparator);
    CopyTerminated(name, separator != nullptr ? separator + 1 : dllPath);
    if (char* dot = std::strchr(name, '.')) *dot = '\0';
  } else {
    name[0] = '\0';
  }
  effect = opened;
  return true;
}

void VstPlugInstance::ReportLoadFailure() {
  std::string text = "The following VST plug-in failed to load:-  ";
  text += dllPath;
  MessageBoxA(nullptr, text.c_str(), "VST Adapter Error", MB_SYSTEMMODAL);
  effect = nullptr;
  numOutputs = numParams = numPrograms = 0;
  if (module != nullptr) {
    FreeLibrary(module);
    module = nullptr;
  }
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

void VstPlugInstance::OpenEditor(HWND) {
  // Plug-in editors are shown by the editor windows, which this build does not open yet.
}

void VstPlugInstance::CloseEditor() {
  editorOpen = false;
}

void VstPlugInstance::Resume(int32_t, int32_t sampleRate, int32_t newBlockSize) {
  Suspend();
  if (effect == nullptr || effect->dispatcher == nullptr) return;
  const float rate = static_cast<float>(sampleRate);
  Dispatch(vst2::effSetSampleRate, 0, sampleRate, nullptr, rate);
  Dispatch(vst2::effSetBlockSize, 0, newBlockSize);
  owner->BlockSize = newBlockSize;
  const size_t frames = static_cast<size_t>(std::max(newBlockSize, 0));
  for (int32_t c = 0; c < channelCount; ++c) {
    bufferStorage[c] = std::make_unique<float[]>(frames);  // zero-filled
    ownBuffers[c] = bufferStorage[c].get();
    channelPointers[c] = ownBuffers[c];
  }
  blockSize = newBlockSize;
  Dispatch(vst2::effMainsChanged, 0, 1);
  Dispatch(vst2::effSetSampleRate, 0, sampleRate, nullptr, rate);
  Dispatch(vst2::effSetBlockSize, 0, newBlockSize);
  OnResumed();
  Dispatch(vst2::effSetSampleRate, 0, sampleRate, nullptr, rate);
}

void VstPlugInstance::OnResumed() {}

void VstPlugInstance::Suspend() {
  if (effect == nullptr || effect->dispatcher == nullptr) return;
  Dispatch(vst2::effMainsChanged, 0, 0);
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
  if (frames > blockSize)
    Resume(1, static_cast<int32_t>(owner->StreamFormat.nSamplesPerSec), frames);
  // A block without frames carries nothing for the plug-in (and a plug-in never resumed has no
  // work buffers yet).
  if (effect != nullptr && effect->dispatcher != nullptr && frames > 0) {
    if (events->numEvents != 0) Dispatch(vst2::effProcessEvents, 0, 0, events);
    if (canReplacing && effect->processReplacing != nullptr) {
      for (int32_t c = 0; c < channelCount; ++c) channelPointers[c] = buffers[c];
      effect->processReplacing(effect, channelPointers.get(), channelPointers.get(), frames);
    } else if (effect->process != nullptr) {
      // The accumulating call adds into its outputs: give it cleared work buffers and copy
      // the result back.
      const size_t bytes = sizeof(float) * static_cast<size_t>(frames);
      for (int32_t c = 0; c < channelCount; ++c) {
        std::memset(ownBuffers[c], 0, bytes);
        channelPointers[c] = buffers[c];
      }
      effect->process(effect, channelPointers.get(), ownBuffers.get(), frames);
      for (int32_t c = 0; c < channelCount; ++c) std::memcpy(buffers[c], ownBuffers[c], bytes);
    }
  }
  processThread.store(0, std::memory_order_relaxed);
  // Whoever waits for the call to end sees everything it did.
  busy.store(false, std::memory_order_release);
}

void VstPlugInstance::Idle() {
  if (editorOpen && effect != nullptr && effect->dispatcher != nullptr &&
      (effect->flags & vst2::effFlagsHasEditor) != 0) {
    Dispatch(vst2::effEditIdle);
    Dispatch(vst2::effIdle);
  }
  if (captureCountdown != 0) {
    --captureCountdown;
    if (captureCountdown == 0 && capturedParam >= 0) {
      if (owner->HostObject != nullptr) {
        LONG index = capturedParam;
        ParamEditObject(owner)->EndParamEdit(&index, 1);
      }
      capturedParam = -1;
    }
  }
}

void VstPlugInstance::RandomizeParameters() {
  for (int32_t i = 0; i < GetNumParams(); ++i)
    SetParameter(i, static_cast<float>(NextRandom()) * 3.0518509e-05f);
}

void VstPlugInstance::SizeWindow(int32_t, int32_t) {}

void VstPlugInstance::OnEditorResized() {}

void VstPlugInstance::ParameterAutomated(int32_t index, float value) {
  if (index < 0 || index >= numParams || suppressAutomation || owner->HostObject == nullptr) return;
  IHostParamEdit* edit = ParamEditObject(owner);
  if (capturedParam >= 0 && capturedParam != index) {
    LONG captured = capturedParam;
    edit->EndParamEdit(&captured, 1);
    capturedParam = -1;
  }
  LONG changed = index;
  if (capturedParam < 0) {
    edit->BeginParamEdit(&changed, 1);
    capturedParam = index;
  }
  float changedValue = value;
  edit->ParamEdited(&changed, 1, &changedValue);
  captureCountdown = 5;
}

int32_t VstPlugInstance::GetNumPrograms() {
  return effect != nullptr ? numPrograms : 0;
}

void VstPlugInstance::SetProgram(int32_t index) {
  if (effect != nullptr && index >= 0 && index < effect->numPrograms)
    Dispatch(vst2::effSetProgram, index, index);
  if (HWND page = owner->AttachedPageWindow()) InvalidateRect(page, nullptr, TRUE);
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
    Dispatch(vst2::effGetProgramNameIndexed, index, -1, out);
  else
    std::memcpy(out, programNames[index], sizeof(ProgramName));
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
  return effect != nullptr ? effect->numParams : 0;
}

float VstPlugInstance::GetParameter(int32_t index) {
  if (effect == nullptr || effect->getParameter == nullptr || index < 0 ||
      index >= effect->numParams)
    return 0.0f;
  return effect->getParameter(effect, index);
}

void VstPlugInstance::GetParamName(int32_t index, char* out) {
  std::memset(out, 0, vst2::kParamTextSize);
  if (index >= 0 && index < numParams) Dispatch(vst2::effGetParamName, index, 0, out);
}

void VstPlugInstance::GetParamDisplay(int32_t index, char* out) {
  if (index >= 0 && index < numParams) Dispatch(vst2::effGetParamDisplay, index, 0, out);
}

void VstPlugInstance::GetParamLabel(int32_t index, char* out) {
  if (index >= 0 && index < numParams) Dispatch(vst2::effGetParamLabel, index, 0, out);
}

void VstPlugInstance::SetParameter(int32_t index, float value) {
  suppressAutomation = true;
  if (effect != nullptr && effect->setParameter != nullptr && index >= 0 &&
      index < effect->numParams) {
    effect->setParameter(effect, index, value);
    if (panel != nullptr) panel->ShowParameter(index, value);
  }
  suppressAutomation = false;
  owner->SetDirty(TRUE);
}

// Preset and bank files are read and written by the file commands, which this build does not
// offer yet; the operations exist for their callers and leave the plug-in alone.
void VstPlugInstance::LoadPreset(FILE*) {}
void VstPlugInstance::LoadBank(FILE*) {}
void VstPlugInstance::SavePreset(FILE*) {}
void VstPlugInstance::SaveBank(FILE*) {}

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
