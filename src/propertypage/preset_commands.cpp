// The page's commands: load and save presets and banks through the file dialogs, remembering the
// folder per plug-in, and rename the current program.
#include "com/plugin_list.h"
#include "propertypage/adapter_property_page.h"
#include "resources/resource_ids.h"
#include "vsthost/vst_plug_instance.h"

#include <cstdio>
#include <cstring>
#include <exception>

namespace brvst {
namespace {

constexpr char kPresetKeyPrefix[] =
    "Software\\Brimley Music Software\\Brimley VST Adapter\\Plug-Ins\\";
constexpr char kPresetPathValue[] = "PresetPath";
constexpr size_t kDialogBufferSize = 255;
constexpr DWORD kMaxChosenName = 200;
constexpr int kMaxProgramNameChars = 24;  // with the terminator
constexpr char kErrorCaption[] = "VST Adapter Error";

struct FileCommand {
  bool save;
  const char* title;
  const char* filter;     // pairs of description and pattern, ending in two NULs
  const char* extension;  // added to every name a save command is given
  const char* mode;
  void (VstPlugInstance::*operation)(FILE*);
};

// The string literals end in the filter list's second NUL.
constexpr char kPresetFilter[] = "Settings (*.fxp)\0*.fxp\0All Files (*.*)\0*.*\0";
constexpr char kBankFilter[] = "Settings (*.fxb)\0*.fxb\0All Files (*.*)\0*.*\0";

constexpr FileCommand kLoadPreset{false, "Load VST Preset...",        kPresetFilter, "",
                                  "rb",  &VstPlugInstance::LoadPreset};
constexpr FileCommand kSavePreset{true, "Save settings as...",       kPresetFilter, ".fxp",
                                  "wb", &VstPlugInstance::SavePreset};
constexpr FileCommand kLoadBank{false, "Load VST Bank...",        kBankFilter, "",
                                "rb",  &VstPlugInstance::LoadBank};
constexpr FileCommand kSaveBank{true, "Save settings as...",     kBankFilter, ".fxb",
                                "wb", &VstPlugInstance::SaveBank};

// The key of a plug-in's settings, named after its file. False when the name does not fit.
bool PresetKeyName(const PluginRecord& record,
                   char (&name)[sizeof kPresetKeyPrefix + sizeof PluginRecord::DllFileName]) {
  const size_t fileLength = strnlen(record.DllFileName, sizeof record.DllFileName);
  if (sizeof kPresetKeyPrefix + fileLength > sizeof name) return false;
  std::memcpy(name, kPresetKeyPrefix, sizeof kPresetKeyPrefix - 1);
  std::memcpy(name + sizeof kPresetKeyPrefix - 1, record.DllFileName, fileLength);
  name[sizeof kPresetKeyPrefix - 1 + fileLength] = '\0';
  return true;
}

// The remembered folder, or an empty string. The key is opened, never created: a plug-in
// without one has its folder forgotten.
void ReadPresetFolder(const char* keyName, char (&folder)[kDialogBufferSize]) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyName, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return;
  // A stored value need not end in a terminator: the last byte stays free for one.
  DWORD size = kDialogBufferSize - 1;
  DWORD type = 0;
  if (RegQueryValueExA(key, kPresetPathValue, nullptr, &type, reinterpret_cast<BYTE*>(folder),
                       &size) != ERROR_SUCCESS ||
      type != REG_SZ)
    std::memset(folder, 0, sizeof folder);
  RegCloseKey(key);
}

void StorePresetFolder(const char* keyName, const char* folder) {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyName, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return;
  RegSetValueExA(key, kPresetPathValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(folder),
                 static_cast<DWORD>(std::strlen(folder) + 1));
  RegCloseKey(key);
}

// Hands the open file to the instance. Nothing may escape to the window procedure that runs the
// command: running out of memory while reading is told to the user instead.
void RunOperation(VstPlugInstance& plugin, const FileCommand& command, FILE* stream) {
  try {
    (plugin.*command.operation)(stream);
  } catch (const std::exception&) {
    MessageBoxA(nullptr, "There is not enough memory to read the file.", kErrorCaption, MB_OK);
  }
}

void RunFileCommand(AdapterFilter* filter, const FileCommand& command) {
  if (filter == nullptr || !filter->Plugin || filter->Record == nullptr) return;
  char keyName[sizeof kPresetKeyPrefix + sizeof PluginRecord::DllFileName];
  const bool haveKey = PresetKeyName(*filter->Record, keyName);
  char folder[kDialogBufferSize] = {};
  if (haveKey) ReadPresetFolder(keyName, folder);

  char fileName[kDialogBufferSize] = {};
  OPENFILENAMEA dialog{};
  dialog.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
  dialog.lpstrFilter = command.filter;
  dialog.nFilterIndex = 0;
  dialog.lpstrFile = fileName;
  dialog.nMaxFile = kMaxChosenName;
  dialog.lpstrInitialDir = folder[0] != '\0' ? folder : nullptr;
  dialog.lpstrTitle = command.title;
  dialog.Flags = OFN_LONGNAMES;
  if (!(command.save ? GetSaveFileNameA(&dialog) : GetOpenFileNameA(&dialog))) return;

  // Always appended, also to a name that ends in the extension already: the user's name is kept
  // exactly as typed. The dialog's limit leaves room for it.
  if (command.save) std::strcat(fileName, command.extension);

  FILE* stream = std::fopen(fileName, command.mode);
  if (stream == nullptr) {
    // Nothing was read or written, so the folder is not remembered either.
    MessageBoxA(nullptr, "The file could not be opened.", kErrorCaption, MB_OK);
    return;
  }
  RunOperation(*filter->Plugin, command, stream);
  std::fclose(stream);

  char* separator = std::strrchr(fileName, kPathSeparator);
  if (!haveKey || separator == nullptr) return;
  // A file in the root keeps its separator: an empty folder would mean none at all.
  if (separator == fileName) ++separator;
  *separator = '\0';
  StorePresetFolder(keyName, fileName);
}

INT_PTR CALLBACK ProgramNameProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      SendMessageA(GetDlgItem(dialog, IDC_PROGRAM_NAME), WM_SETTEXT, 0,
                   reinterpret_cast<LPARAM>(ProgramNameBuffer));
      return TRUE;
    case WM_COMMAND:
      // Only OK closes the dialog: there is no Cancel.
      if (LOWORD(wParam) == IDOK) {
        SendMessageA(GetDlgItem(dialog, IDC_PROGRAM_NAME), WM_GETTEXT, kMaxProgramNameChars,
                     reinterpret_cast<LPARAM>(ProgramNameBuffer));
        EndDialog(dialog, 0);
      }
      return FALSE;
    default:
      return FALSE;
  }
}

}  // namespace

void AdapterPropertyPage::OnProgramName(HWND owner) {
  if (Filter == nullptr || !Filter->Plugin) return;
  VstPlugInstance& plugin = *Filter->Plugin;
  std::memset(ProgramNameBuffer, 0, sizeof ProgramNameBuffer);
  plugin.GetProgramName(plugin.GetProgram(), ProgramNameBuffer);
  // A dialog that could not be shown renames nothing.
  if (DialogBoxParamA(ModuleInstance(), MAKEINTRESOURCEA(IDD_PROGRAM_NAME), owner, ProgramNameProc,
                      0) == -1)
    return;
  plugin.SetProgramName(plugin.GetProgram(), ProgramNameBuffer);
}

void AdapterPropertyPage::OnLoadPreset() {
  RunFileCommand(Filter, kLoadPreset);
}

void AdapterPropertyPage::OnSavePreset() {
  RunFileCommand(Filter, kSavePreset);
}

void AdapterPropertyPage::OnLoadBank() {
  RunFileCommand(Filter, kLoadBank);
}

void AdapterPropertyPage::OnSaveBank() {
  RunFileCommand(Filter, kSaveBank);
}

}  // namespace brvst
