// The common open and save dialogs, answered by the desktop, and the desktop window.
#include "platform/posix/desktop.h"
#include "platform/posix/modules.h"
#include "platform/posix/window_system.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

namespace brvst::platform {
namespace {

thread_local DWORD lastDialogError = 0;

// "description\0pattern\0...\0\0" as pairs; a description without its pattern ends the list.
std::vector<std::pair<std::string, std::string>> ParseFilters(const char* list) {
  std::vector<std::pair<std::string, std::string>> filters;
  if (list == nullptr) return filters;
  while (*list != '\0') {
    const char* pattern = list + std::strlen(list) + 1;
    if (*pattern == '\0') break;
    filters.emplace_back(list, pattern);
    list = pattern + std::strlen(pattern) + 1;
  }
  return filters;
}

// The answer as the full path Windows hands back: relative names are taken in the folder the
// dialog showed.
std::string FullPath(const FileDialogRequest& request, const std::string& path) {
  if (!path.empty() && path[0] == kPathSeparator) return path;
  if (request.initialFolder.empty()) return AbsolutePath(path.c_str());
  std::string full = request.initialFolder;
  if (full.back() != kPathSeparator) full += kPathSeparator;
  return full + path;
}

BOOL ShowFileDialog(OPENFILENAMEA* dialog, bool save) {
  lastDialogError = 0;
  if (dialog == nullptr || dialog->lStructSize < OPENFILENAME_SIZE_VERSION_400A) {
    lastDialogError = CDERR_STRUCTSIZE;
    return FALSE;
  }
  if (dialog->lpstrFile == nullptr || dialog->nMaxFile == 0) {
    lastDialogError = FNERR_INVALIDFILENAME;
    return FALSE;
  }
  FileDialogRequest request;
  request.save = save;
  request.title = dialog->lpstrTitle != nullptr ? dialog->lpstrTitle : save ? "Save As" : "Open";
  request.filters = ParseFilters(dialog->lpstrFilter);
  // Index 0 names the custom filter; without one the dialog starts with the first.
  request.filterIndex = dialog->nFilterIndex != 0 ? dialog->nFilterIndex : 1;
  if (dialog->lpstrInitialDir != nullptr) request.initialFolder = dialog->lpstrInitialDir;
  request.fileName.assign(dialog->lpstrFile, strnlen(dialog->lpstrFile, dialog->nMaxFile));

  FileDialogAnswer answer;
  if (!CurrentDesktop()->ChooseFile(request, answer)) return FALSE;  // cancelled: no error
  if (answer.path.empty()) {
    lastDialogError = FNERR_INVALIDFILENAME;
    return FALSE;
  }
  std::string path = FullPath(request, answer.path);
  const size_t nameAt = path.rfind(kPathSeparator) + 1;
  size_t dot = path.rfind('.');
  if (dot == std::string::npos || dot < nameAt) dot = 0;
  // The dialog adds the default extension to a name that has none.
  if (dot == 0 && dialog->lpstrDefExt != nullptr && dialog->lpstrDefExt[0] != '\0') {
    dot = path.size();
    path += '.';
    path += dialog->lpstrDefExt;
  }
  if (path.size() >= dialog->nMaxFile || path.size() > 0xFFFF) {
    lastDialogError = FNERR_BUFFERTOOSMALL;
    return FALSE;
  }
  std::memcpy(dialog->lpstrFile, path.c_str(), path.size() + 1);
  dialog->nFileOffset = static_cast<WORD>(nameAt);
  dialog->nFileExtension = static_cast<WORD>(dot != 0 ? dot + 1 : 0);
  if (answer.filterIndex != 0) dialog->nFilterIndex = answer.filterIndex;
  if (dialog->lpstrFileTitle != nullptr && dialog->nMaxFileTitle != 0) {
    const size_t length = std::min<size_t>(path.size() - nameAt, dialog->nMaxFileTitle - 1);
    std::memcpy(dialog->lpstrFileTitle, path.c_str() + nameAt, length);
    dialog->lpstrFileTitle[length] = '\0';
  }
  return TRUE;
}

BOOL ShowFileDialogSafely(OPENFILENAMEA* dialog, bool save) {
  try {
    return ShowFileDialog(dialog, save);
  } catch (const std::bad_alloc&) {
    lastDialogError = CDERR_MEMALLOCFAILURE;
    return FALSE;
  }
}

}  // namespace

bool Desktop::ChooseFile(const FileDialogRequest& request, FileDialogAnswer& answer) {
  const char* preset = std::getenv("BRVST_FILE_DIALOG_ANSWER");
  if (preset == nullptr || preset[0] == '\0') {
    std::fprintf(stderr, "%s: cancelled (set BRVST_FILE_DIALOG_ANSWER to choose a file)\n",
                 request.title.c_str());
    return false;
  }
  answer.path = preset;
  return true;
}

}  // namespace brvst::platform

using namespace brvst::platform;

extern "C" {

BOOL WINAPI GetOpenFileNameA(LPOPENFILENAMEA dialog) {
  return ShowFileDialogSafely(dialog, false);
}

BOOL WINAPI GetSaveFileNameA(LPOPENFILENAMEA dialog) {
  return ShowFileDialogSafely(dialog, true);
}

DWORD WINAPI CommDlgExtendedError() {
  return lastDialogError;
}

HWND WINAPI GetDesktopWindow() {
  // The headless desktop has no screen to draw: its window is a handle below every window's,
  // which names no window.
  return reinterpret_cast<HWND>(uintptr_t{0x10010});
}

}  // extern "C"
