// The plug-in list: one record per wrapped VST plug-in, and the module-wide state the COM server
// shares between its parts.
#pragma once

#include "platform/platform.h"

#include <atomic>
#include <cstdint>
#include <list>
#include <string>
#include <vector>

namespace brvst {

// One wrapped plug-in. Plain fixed-size fields; factories, filters and pages keep pointers into
// a record, so records never move once they are in the list.
struct PluginRecord {
  GUID FilterClsid;
  GUID PageClsid;
  char Name[260];
  char DllPath[260];
  char DllFileName[260];  // keys the plug-in's preset folder and its class ids
  int32_t UniqueId;
  int32_t Aux1, Aux2, Aux3, Aux4, Aux5, Aux6, Aux7, Aux8, Aux9;  // carried, read by nobody
  int32_t RegisterEnabled;
  int32_t IsSoftSynth;
  int32_t EditorWidth;
  int32_t EditorHeight;
  int32_t StereoOnly;
  int32_t NrpnPassThrough;
  int32_t VstNamePrefix;
};

// {DE3C7405-C195-11D6-9691-C8E297C92840}
inline constexpr GUID kDefaultFilterClsid = {
    0xDE3C7405, 0xC195, 0x11D6, {0x96, 0x91, 0xC8, 0xE2, 0x97, 0xC9, 0x28, 0x40}};
// {DE3C7406-C195-11D6-9691-C8E297C92840}
inline constexpr GUID kDefaultPageClsid = {
    0xDE3C7406, 0xC195, 0x11D6, {0x96, 0x91, 0xC8, 0xE2, 0x97, 0xC9, 0x28, 0x40}};

// The records in lookup and registration order. A std::list: its nodes never move. The list
// outlives every static destructor (DllMain's detach may run after them and empties it itself).
std::list<PluginRecord>& PluginList();

// Empties PluginList and appends the record of this build, then the records of the plug-in list
// file (plugin_list_file.h): the first of its places that holds a file. A damaged file adds
// nothing; a record whose class id an earlier record holds is left out; records marked removed
// are kept apart for registration. What went wrong waits for ReportPluginListProblems: this
// runs inside DllMain, where no window may open.
void BuildPluginList();

// Shows, once, the message about what the last BuildPluginList found wrong with the list file;
// nothing when all was well. Never from DllMain.
void ReportPluginListProblems();

// The list file the last BuildPluginList read (empty when none was found), and its records
// marked removed whose class ids no published record holds.
struct PluginListSource {
  std::string path;
  std::vector<PluginRecord> removed;
};
PluginListSource CurrentPluginListSource();

// Fills `record` as the record of this build for a plug-in DLL in `folder` (which ends with a
// path separator, or is empty). False, with `record` untouched, when the path does not fit.
bool MakeDefaultRecord(const char* folder, PluginRecord& record);

// The module's instance handle, stored by DllMain on every call.
HINSTANCE ModuleInstance();
void SetModuleInstance(HINSTANCE instance);

// Live filter factories, page factories, filters and property pages. The first one made while
// none lives creates the shared window resources; the last one to go releases them.
extern std::atomic<LONG> LiveObjectCount;

// Nonzero while the server registers or unregisters itself: filters are then built as shells.
extern std::atomic<int32_t> RegistrationInProgress;

// Counts one more live object (a filter or page, which does not ask for the resources).
void AddLiveObject();
// Counts one more live object, making the adapter resources first when none lives: what a
// class-object request does. One lock orders it against the last object's release.
void AddLiveObjectWithResources();
// Counts one live object less; the one that reaches zero releases the adapter resources.
void RemoveLiveObject();

}  // namespace brvst
