// Windows: the system headers, plus the few definitions both platforms share under one name.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <objbase.h>
#include <unknwn.h>
#include <windows.h>
// The common file dialogs, which WIN32_LEAN_AND_MEAN leaves out.
#include <commdlg.h>

// From windowsx.h, without the rest of its macros.
#ifndef GET_X_LPARAM
#define GET_X_LPARAM(lp) ((int)(short)LOWORD(lp))
#define GET_Y_LPARAM(lp) ((int)(short)HIWORD(lp))
#endif

// A UTF-16 string literal as the platform's WCHAR string.
#define W16(s) L"" s

// Exported from the platform layer (on Windows the platform is the system itself).
#define BRVST_PLATFORM_API

// C linkage and visibility of a DLL export; the names themselves come from the .def file.
#define BRVST_EXPORT extern "C"

// Separator of folders in a file path.
inline constexpr char kPathSeparator = '\\';
