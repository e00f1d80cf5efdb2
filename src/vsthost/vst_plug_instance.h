// VstPlugInstance: owns one loaded VST 2 plug-in. Every call into the plug-in goes through its
// operations; the plug-in calls back through HostCallback, which finds the instance through the
// AEffect's resvd1 field.
#pragma once

#include "platform/platform.h"
#include "vst2/vst2.h"

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>

namespace brvst {

class AdapterFilter;

// Something that shows parameter values (the generic parameter panel).
class ParameterView {
 public:
  virtual ~ParameterView() = default;
  // Any thread that sets parameters calls it, under the instance's panelLock.
  virtual void ShowParameter(int32_t index, float value) = 0;
};

// The window that holds an open editor (the editor area of the property page).
class PlugWnd;

class VstPlugInstance {
 public:
  using ProgramName = char[64];

  // The most a plug-in may report. More is taken for a corrupt effect and refused at load: the
  // counts size what the adapter allocates. 14-bit MIDI addressing (bank select with program
  // change, NRPN) reaches 16384 programs; parameters do not size anything per block.
  static constexpr int32_t kMaxChannels = 256;
  static constexpr int32_t kMaxParams = 65536;
  static constexpr int32_t kMaxPrograms = 16384;
  // All work buffers together hold at most this many floats (256 MiB): a longer block is
  // refused as out of memory (std::bad_alloc) rather than taken from the system.
  static constexpr int64_t kMaxWorkSamples = int64_t{1} << 26;
  // Room plug-ins get for a name or text: far more than they are meant to write.
  static constexpr size_t kScratchTextSize = 1024;
  // The largest chunk a preset or bank file may carry, and so the most such a file may hold
  // besides its headers. A larger size is taken for damage, not allocated.
  static constexpr uint32_t kMaxFileChunkBytes = uint32_t{256} << 20;

  // Why the last load failed, for hosts that tell their user more than the message box does.
  enum class LoadFailure {
    None,             // the last load succeeded, or there was none
    PathTooLong,      // the path does not fit dllPath
    ModuleNotLoaded,  // the system's loader refused the module: loaderError says why
    NoEntryPoint,     // it exports none of "main", "Main" and "VSTPluginMain"
    NoEffect,         // the entry point returned null
    WrongMagic,       // the entry point returned no VST 2 effect: seenMagic holds its first field
    NoDispatcher,     // the effect has no dispatcher
    BadCounts,        // it reported more channels, programs or parameters than kMax*
    OutOfMemory,      // what its counts size could not be allocated
    Fault,            // it crashed in its entry point or while it was opened or closed
  };

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
  // Opens the plug-in's editor in `parent`, or the generic parameter panel where the plug-in has
  // no editor or the platform cannot show it (editor_windows.cpp).
  virtual void OpenEditor(HWND parent);
  virtual void CloseEditor();
  // Whether the plug-in's own editor is what OpenEditor shows.
  bool ShowsOwnEditor() const;
  // The editor area's window (PlugWndClass) while the editor is open, else null.
  HWND EditorWindowHandle() const;
  // Brings the plug-in into the running state with fresh work buffers (suspending it first when
  // it runs). Throws std::bad_alloc when the buffers cannot be had; the plug-in is then left
  // exactly as it was.
  virtual void Resume(int32_t mode, int32_t sampleRate, int32_t blockSize);
  virtual void OnResumed();
  virtual void Suspend();
  // Processes `frames` frames in place in `channelCount` buffers, with `events` handed over
  // first when there are any. Raises the block size first when `frames` exceeds it; that may
  // throw std::bad_alloc (see Resume), and the buffers are then left unprocessed.
  virtual void Process(float** buffers, int32_t frames, vst2::VstEvents* events);
  virtual void Idle();
  virtual void RandomizeParameters();
  // The answer to a full time query: reports a transport or tempo change once and clears it.
  // The record is this instance's own for the calling thread and lives as long as the instance.
  virtual vst2::VstTimeInfo* GetTimeInfo(int32_t requestMask);
  virtual void SizeWindow(int32_t width, int32_t height);
  virtual void OnEditorResized();
  // The plug-in reports that its user moved a parameter.
  virtual void ParameterAutomated(int32_t index, float value);
  virtual int32_t GetNumPrograms();
  virtual void SetProgram(int32_t index);
  virtual int32_t GetProgram();
  // `out` holds at least 64 bytes; at most 63 characters and the terminator are written.
  virtual void GetProgramName(int32_t index, char* out);
  virtual void SetProgramName(int32_t index, const char* name);
  virtual int32_t SetChunk(bool isPreset, int32_t size, void* data);
  virtual int32_t GetChunk(bool isPreset, void** data);
  virtual int32_t GetNumParams();
  virtual float GetParameter(int32_t index);
  // `out` holds at least 32 bytes; at most 31 characters and the terminator are written.
  virtual void GetParamName(int32_t index, char* out);
  virtual void GetParamDisplay(int32_t index, char* out);
  virtual void GetParamLabel(int32_t index, char* out);
  // Sets a parameter on the host's behalf, without reporting it back as automation.
  virtual void SetParameter(int32_t index, float value);
  // Preset (FXP) and bank (FXB) files, at the stream's position; a null stream is ignored. A
  // file is read whole and checked before anything in the plug-in changes: a file that is not
  // one, is another plug-in's, or is damaged or incomplete is reported to the user and changes
  // nothing. Reading throws std::bad_alloc when memory runs out, having changed nothing. Writing
  // stops at the first failed write: the stream's error indicator tells the caller.
  virtual void LoadPreset(FILE* stream);
  virtual void LoadBank(FILE* stream);
  virtual void SavePreset(FILE* stream);
  virtual void SaveBank(FILE* stream);
  // `out` holds at least 64 bytes.
  virtual void GetOutputLabel(int32_t index, char* out);

  // Sends one dispatcher call; 0 with no plug-in.
  intptr_t Dispatch(int32_t opcode, int32_t index = 0, intptr_t value = 0, void* ptr = nullptr,
                    float opt = 0.0f);
  // The tempo now, for audioMasterTempoAt: read from the host's tempo map when there is one,
  // else the last one a time query saw (120 at first). Reports and clears nothing.
  double TempoNow();

  // The state other parts read, under the names they use.
  // Written on the window thread, used by every thread that sets parameters: under panelLock,
  // which CloseEditor takes before it deletes the panel.
  ParameterView* panel = nullptr;
  std::mutex panelLock;
  PlugWnd* plugWindow = nullptr;
  AdapterFilter* const owner;
  HWND wrapperWindow = nullptr;
  std::atomic<bool> editorOpen{false};
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
  // The cause of the last failed load; the loader's GetLastError for ModuleNotLoaded, and the
  // magic the entry point's effect carried for WrongMagic (0 otherwise).
  LoadFailure loadFailure = LoadFailure::None;
  DWORD loaderError = 0;
  int32_t seenMagic = 0;
  std::atomic<bool> busy{false};
  // Work buffers of blockSize floats (null entries while suspended), as the pointer array
  // handed to the plug-in; bufferStorage owns them.
  std::unique_ptr<float*[]> ownBuffers;
  std::unique_ptr<float*[]> channelPointers;
  std::atomic<int32_t> blockSize{0};
  int32_t channelCount = 0;
  // The streaming thread's time record, while it is inside Process.
  vst2::VstTimeInfo timeInfo;
  // The open edit gesture on the host's side: written by automation (streaming or editor
  // thread) and by Idle (window thread), always under automationLock.
  std::atomic<int32_t> capturedParam{-1};
  std::atomic<int32_t> captureCountdown{0};

 private:
  // What the trapped part of Load reached; lives in Load's frame, outside the trap.
  struct OpenProgress {
    vst2::AEffect* effect = nullptr;  // the entry point's effect, once its magic is right
    bool openSent = false;            // effOpen was sent: effClose must follow
  };
  enum class OpenResult { Opened, Refused };

  // The scratch room for names and texts, one per thread: the window thread and the streaming
  // thread may both ask at once, and nothing is allocated.
  static char* ScratchText();

  bool StorePaths(const char* path);
  // Finds the entry point under the names plug-ins export it by, oldest first.
  vst2::EntryProc FindEntry() const;
  // Steps of Load that call into the plug-in, inside the fault trap. No local may own a resource
  // here: a fault abandons the frame without running destructors.
  OpenResult OpenPlugin(OpenProgress& progress);
  // After a refused or failed open: effClose (trapped) when effOpen was sent. False when the
  // plug-in faulted in it.
  bool CloseRefusedPlugin(const OpenProgress& progress);
  // Forgets everything a failed load read from the plug-in.
  void ForgetPlugin();
  void ReportLoadFailure();
  void ReportLoadFault();
  // The time record to fill for the calling thread (see GetTimeInfo).
  vst2::VstTimeInfo& TimeRecordForThisThread();
  // Reads the host's tempo at the stream position (the tempo map is set).
  double HostTempo(int32_t position, double sampleRate);
  // A name from the plug-in: asked into scratch room, handed on cut to `size` bytes.
  void AskText(int32_t opcode, int32_t index, intptr_t value, char* out, size_t size);

  std::unique_ptr<std::unique_ptr<float[]>[]> bufferStorage;
  // Set by Resume, cleared by Suspend: only a running plug-in is suspended or processed.
  std::atomic<bool> running{false};
  // The thread inside Process, while it is there: its time queries use `timeInfo`.
  std::atomic<DWORD> processThread{0};
  // The tempo the last full time query read (from any thread): a change is reported once.
  std::atomic<double> reportedTempo{120.0};
  // Time records of the threads other than the streaming one, by thread id. Off the streaming
  // path; records never move, so a plug-in may keep the address for the instance's life.
  std::mutex timeRecordsLock;
  std::map<DWORD, std::unique_ptr<vst2::VstTimeInfo>> timeRecords;
  // Orders the host's edit gestures: a gesture's decision and its calls to the host are one
  // step. Recursive, should the host's edit object call back into the plug-in on this thread.
  std::recursive_mutex automationLock;
};

// The initial content of a time record: all zero but 120 beats per minute in 4/4.
vst2::VstTimeInfo InitialTimeInfo();

}  // namespace brvst
