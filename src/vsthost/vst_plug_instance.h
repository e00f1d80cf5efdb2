// VstPlugInstance: owns one loaded VST 2 plug-in. Every call into the plug-in goes through its
// operations; the plug-in calls back through HostCallback, which finds the instance through the
// AEffect's resvd1 field.
#pragma once

#include "platform/platform.h"
#include "vst2/vst2.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>

namespace brvst {

class AdapterFilter;

// Something that shows parameter values (the generic parameter panel).
class ParameterView {
 public:
  virtual void ShowParameter(int32_t index, float value) = 0;

 protected:
  ~ParameterView() = default;
};

// The window that holds an open editor (the editor area of the property page).
class EditorWindow;

class VstPlugInstance {
 public:
  using ProgramName = char[64];

  // `owner` is the filter that creates the instance; it is never null.
  explicit VstPlugInstance(AdapterFilter* owner);
  virtual ~VstPlugInstance();

  VstPlugInstance(const VstPlugInstance&) = delete;
  VstPlugInstance& operator=(const VstPlugInstance&) = delete;

  // Loads and opens the plug-in at `dllPath`. Failures are reported to the user; afterwards
  // `effect` is null and every operation answers harmlessly.
  virtual void Load(const char* dllPath);
  // Closes the editor, suspends, closes the plug-in and frees its library. Always true.
  virtual bool Unload();
  virtual void OpenEditor(HWND parent);
  virtual void CloseEditor();
  // Suspends, then brings the plug-in into the running state with fresh work buffers.
  virtual void Resume(int32_t mode, int32_t sampleRate, int32_t blockSize);
  virtual void OnResumed();
  virtual void Suspend();
  // Processes `frames` frames in place in `channelCount` buffers, with `events` handed over
  // first when there are any. Raises the block size first when `frames` exceeds it.
  virtual void Process(float** buffers, int32_t frames, vst2::VstEvents* events);
  virtual void Idle();
  virtual void RandomizeParameters();
  virtual vst2::VstTimeInfo* GetTimeInfo(int32_t requestMask);
  virtual void SizeWindow(int32_t width, int32_t height);
  virtual void OnEditorResized();
  // The plug-in reports that its user moved a parameter.
  virtual void ParameterAutomated(int32_t index, float value);
  virtual int32_t GetNumPrograms();
  virtual void SetProgram(int32_t index);
  virtual int32_t GetProgram();
  // `out` holds at least 64 bytes.
  virtual void GetProgramName(int32_t index, char* out);
  virtual void SetProgramName(int32_t index, const char* name);
  virtual int32_t SetChunk(bool isPreset, int32_t size, void* data);
  virtual int32_t GetChunk(bool isPreset, void** data);
  virtual int32_t GetNumParams();
  virtual float GetParameter(int32_t index);
  // `out` holds at least 32 bytes (plug-ins that write more need more).
  virtual void GetParamName(int32_t index, char* out);
  virtual void GetParamDisplay(int32_t index, char* out);
  virtual void GetParamLabel(int32_t index, char* out);
  // Sets a parameter on the host's behalf, without reporting it back as automation.
  virtual void SetParameter(int32_t index, float value);
  virtual void LoadPreset(FILE* stream);
  virtual void LoadBank(FILE* stream);
  virtual void SavePreset(FILE* stream);
  virtual void SaveBank(FILE* stream);
  // `out` holds at least 64 bytes.
  virtual void GetOutputLabel(int32_t index, char* out);

  // Sends one dispatcher call; 0 with no plug-in.
  intptr_t Dispatch(int32_t opcode, int32_t index = 0, intptr_t value = 0, void* ptr = nullptr,
                    float opt = 0.0f);

  // The state other parts read, under the names they use.
  ParameterView* panel = nullptr;
  EditorWindow* plugWindow = nullptr;
  AdapterFilter* const owner;
  HWND wrapperWindow = nullptr;
  bool editorOpen = false;
  int32_t redrawCountdown = 0;
  char dllPath[260] = {};
  char name[260] = {};
  char directory[260] = {};
  int32_t numOutputs = 0;
  int32_t numParams = 0;
  int32_t numPrograms = 0;
  std::unique_ptr<ProgramName[]> programNames;
  bool canReplacing = false;
  bool programsAreChunks = false;
  int32_t uniqueId = 0;
  bool hasIndexedProgramNames = false;
  HMODULE module = nullptr;
  vst2::EntryProc entry = nullptr;
  vst2::AEffect* effect = nullptr;
  std::atomic<bool> busy{false};
  // Work buffers of blockSize floats (null entries while suspended), as the pointer array
  // handed to the plug-in; bufferStorage owns them.
  std::unique_ptr<float*[]> ownBuffers;
  std::unique_ptr<float*[]> channelPointers;
  int32_t blockSize = 0;
  int32_t channelCount = 0;
  vst2::VstTimeInfo timeInfo;
  bool suppressAutomation = false;
  int32_t capturedParam = -1;
  int32_t captureCountdown = 0;

 private:
  // Steps of Load that run inside the fault trap. No local may own a resource here: a fault
  // abandons the frame without running destructors.
  bool OpenPlugin(const char* path);
  void ReportLoadFailure();
  // The time record to fill for the calling thread (see GetTimeInfo).
  vst2::VstTimeInfo& TimeRecordForThisThread();

  std::unique_ptr<std::unique_ptr<float[]>[]> bufferStorage;
  // The thread inside Process, while it is there: its time queries use `timeInfo`.
  std::atomic<DWORD> processThread{0};
};

// The initial content of a time record: all zero but 120 beats per minute in 4/4.
vst2::VstTimeInfo InitialTimeInfo();

}  // namespace brvst
