#include "com/plugin_list.h"
#include "com/exports.h"

#include "com/adapter_resources.h"
#include "com/plugin_list_file.h"

#include <cstring>
#include <mutex>
#include <new>

namespace brvst {

std::atomic<LONG> LiveObjectCount{0};
std::atomic<int32_t> RegistrationInProgress{0};

namespace {

HINSTANCE moduleInstance = nullptr;

// Held across each 0<->1 transition of LiveObjectCount with the resource change it brings: a
// release that ran after another thread's first-object initialisation would leave that object
// without its window classes.
std::mutex liveObjectsLock;

// Copies `text` into `field` when it fits with its terminator.
template <size_t N>
bool CopyField(char (&field)[N], const char* text) {
  const size_t length = std::strlen(text);
  if (length >= N) return false;
  std::memcpy(field, text, length + 1);
  return true;
}

// What the last BuildPluginList took from the list file, and the message it left for the first
// entry point that may show one.
struct ListFileState {
  std::mutex lock;
  PluginListSource source;
  std::string pendingReport;
};

ListFileState& TheListFileState() {
  // Built on first use, as BuildPluginList may run before static constructors.
  static ListFileState state;
  return state;
}

constexpr char kReportTail[] =
    "\n\nRun AdapterScan again to write a new list, or mend the file by hand.";

// The record in the list whose filter or page class is one of `record`'s, if any.
const PluginRecord* ClassHolder(const PluginRecord& record) {
  for (const PluginRecord& held : PluginList()) {
    for (const GUID* id : {&record.FilterClsid, &record.PageClsid})
      if (*id == held.FilterClsid || *id == held.PageClsid) return &held;
  }
  return nullptr;
}

// Appends the list file's records to PluginList; the source and the report go to `state`.
void AppendListedRecords(ListFileState& state) {
  for (const std::string& path : PluginListFilePaths()) {
    PluginListRead read = ReadPluginListFile(path);
    if (!read.Found) continue;
    state.source.path = path;
    if (!read.Error.empty()) {
      state.pendingReport =
          "The plug-in list could not be read, so only the adapter's own "
          "plug-in is available:\n\n" +
          read.Error + kReportTail;
      return;
    }
    std::string clashes;
    for (const ListedPlugin& listed : read.Records) {
      if (listed.Removed) {
        state.source.removed.push_back(listed.Record);
        continue;
      }
      if (const PluginRecord* holder = ClassHolder(listed.Record)) {
        clashes += "\n\"" + std::string(listed.Record.Name) + "\" (" + listed.Record.DllPath +
                   ") has the class id of \"" + holder->Name + "\"";
        continue;
      }
      PluginList().push_back(listed.Record);
    }
    // A removed plug-in whose class a listed one now holds (the same file found elsewhere) keeps
    // its registration: it is the listed one's.
    auto& removed = state.source.removed;
    std::erase_if(removed, [](const PluginRecord& r) { return ClassHolder(r) != nullptr; });
    if (!clashes.empty())
      state.pendingReport = "The plug-in list " + path +
                            " has records whose class ids an earlier record holds; only the "
                            "first is used, these are left out:\n" +
                            clashes + kReportTail;
    return;
  }
}

}  // namespace

std::list<PluginRecord>& PluginList() {
  // Built on first use and never destroyed: DllMain may run before static constructors and
  // after static destructors.
  alignas(std::list<PluginRecord>) static unsigned char storage[sizeof(std::list<PluginRecord>)];
  static std::list<PluginRecord>* list = new (storage) std::list<PluginRecord>;
  return *list;
}

HINSTANCE ModuleInstance() {
  return moduleInstance;
}

void SetModuleInstance(HINSTANCE instance) {
  moduleInstance = instance;
}

bool MakeDefaultRecord(const char* folder, PluginRecord& record) {
  PluginRecord r;
  std::memset(&r, 0, sizeof r);
  r.FilterClsid = kDefaultFilterClsid;
  r.PageClsid = kDefaultPageClsid;
  CopyField(r.Name, "ZAD VID 84");
  CopyField(r.DllFileName, "VID 84.dll");
  r.EditorWidth = 875;
  r.EditorHeight = 171;
  r.StereoOnly = 1;
  // A folder so deep that the plug-in's path would not fit the record gives no record at all:
  // a cut path could name some other file.
  const size_t folderLength = std::strlen(folder);
  const size_t fileLength = std::strlen(r.DllFileName);
  if (folderLength + fileLength >= sizeof r.DllPath) return false;
  std::memcpy(r.DllPath, folder, folderLength);
  std::memcpy(r.DllPath + folderLength, r.DllFileName, fileLength + 1);
  r.RegisterEnabled = 1;
  r.IsSoftSynth = 0;
  r.NrpnPassThrough = 1;
  r.VstNamePrefix = 0;
  r.UniqueId = 0x50533853;  // 'PS8S'
  r.Aux1 = 1;
  r.Aux2 = 0;
  r.Aux3 = 0;
  r.Aux4 = 1;
  r.Aux5 = 2;
  r.Aux6 = 2;
  r.Aux7 = 1;
  r.Aux8 = 0;
  r.Aux9 = 0;
  record = r;
  return true;
}

void BuildPluginList() {
  PluginList().clear();
  ListFileState& state = TheListFileState();
  std::lock_guard<std::mutex> lock(state.lock);
  state.source = PluginListSource();
  state.pendingReport.clear();
  try {
    // A loaded module's name is a full path; none means it did not fit.
    const std::string folder = AdapterFolder();
    if (folder.empty()) return;
    PluginRecord record;
    if (MakeDefaultRecord(folder.c_str(), record)) PluginList().push_back(record);
    AppendListedRecords(state);
  } catch (...) {
    // Out of memory (this runs inside DllMain): the records appended so far stay, each whole.
    state.pendingReport.clear();
  }
}

void ReportPluginListProblems() {
  ListFileState& state = TheListFileState();
  std::string text;
  {
    std::lock_guard<std::mutex> lock(state.lock);
    text.swap(state.pendingReport);
  }
  if (!text.empty()) MessageBoxA(nullptr, text.c_str(), "Brimley VST Adapter Error", MB_OK);
}

PluginListSource CurrentPluginListSource() {
  ListFileState& state = TheListFileState();
  std::lock_guard<std::mutex> lock(state.lock);
  return state.source;
}

void AddLiveObject() {
  std::lock_guard<std::mutex> lock(liveObjectsLock);
  LiveObjectCount.fetch_add(1);
}

void AddLiveObjectWithResources() {
  std::lock_guard<std::mutex> lock(liveObjectsLock);
  if (LiveObjectCount.load() == 0) InitAdapterResources();
  LiveObjectCount.fetch_add(1);
}

void RemoveLiveObject() {
  std::lock_guard<std::mutex> lock(liveObjectsLock);
  if (LiveObjectCount.fetch_sub(1) == 1) ReleaseAdapterResources();
}

}  // namespace brvst

using namespace brvst;

BRVST_EXPORT BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  SetModuleInstance(instance);
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      BuildPluginList();
      RegistrationInProgress = 0;
      break;
    case DLL_PROCESS_DETACH:
      PluginList().clear();
      break;
    default:
      break;
  }
  return TRUE;
}

BRVST_EXPORT HRESULT STDAPICALLTYPE DllCanUnloadNow() {
  // The adapter stays loaded for the life of the process.
  return S_FALSE;
}
