// The Windows API subset the adapter calls, implemented for POSIX systems.
//
// Types keep their Windows sizes (LONG and DWORD are 32-bit, WCHAR is a 16-bit UTF-16 unit),
// interfaces keep COM's binary layout (one vtable pointer, methods in declaration order), and
// functions keep their Windows names, arguments and results. Only what the adapter, its tests and
// its tools call is here.
#pragma once

#include <pthread.h>
#include <cstddef>
#include <cstdint>
#include <cstring>

// ---------------------------------------------------------------------------------------------
// Calling conventions and declaration helpers (there is one convention on these targets).
#define WINAPI
#define CALLBACK
#define STDMETHODCALLTYPE
#define STDAPICALLTYPE
#define __stdcall
#define __cdecl
#define STDMETHOD(method) virtual HRESULT STDMETHODCALLTYPE method
#define STDMETHOD_(type, method) virtual type STDMETHODCALLTYPE method
#define STDMETHODIMP HRESULT STDMETHODCALLTYPE
#define STDMETHODIMP_(type) type STDMETHODCALLTYPE
#define STDAPI extern "C" HRESULT STDAPICALLTYPE
#define PURE = 0
#define DECLSPEC_UUID(x)
#define interface struct

#define BRVST_PLATFORM_API __attribute__((visibility("default")))

// A UTF-16 string literal as the platform's WCHAR string.
#define W16(s) u"" s

// C linkage and visibility of a shared-object export.
#define BRVST_EXPORT extern "C" __attribute__((visibility("default")))

// Separator of folders in a file path.
inline constexpr char kPathSeparator = '/';

// ---------------------------------------------------------------------------------------------
// Basic types with their Windows sizes.
typedef int32_t BOOL;
typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef int64_t LONGLONG;
typedef uint64_t ULONGLONG;
typedef int32_t INT;
typedef uint32_t UINT;
typedef int16_t SHORT;
typedef uint16_t USHORT;
typedef char CHAR;
typedef char16_t WCHAR;
typedef float FLOAT;
typedef void VOID;
typedef intptr_t INT_PTR;
typedef uintptr_t UINT_PTR;
typedef intptr_t LONG_PTR;
typedef uintptr_t ULONG_PTR;
typedef uintptr_t SIZE_T;
typedef uintptr_t DWORD_PTR;
typedef LONG HRESULT;
typedef WORD ATOM;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef BYTE* LPBYTE;
typedef DWORD* LPDWORD;
typedef LONG* LPLONG;
typedef CHAR* LPSTR;
typedef const CHAR* LPCSTR;
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;
typedef WCHAR OLECHAR;
typedef OLECHAR* LPOLESTR;
typedef const OLECHAR* LPCOLESTR;
typedef UINT_PTR WPARAM;
typedef LONG_PTR LPARAM;
typedef LONG_PTR LRESULT;
typedef LONGLONG REFERENCE_TIME;

#define DECLARE_HANDLE(name) \
  struct name##__ {          \
    int unused;              \
  };                         \
  typedef struct name##__* name
DECLARE_HANDLE(HINSTANCE);
DECLARE_HANDLE(HWND);
DECLARE_HANDLE(HDC);
DECLARE_HANDLE(HBITMAP);
DECLARE_HANDLE(HFONT);
DECLARE_HANDLE(HBRUSH);
DECLARE_HANDLE(HPEN);
DECLARE_HANDLE(HICON);
DECLARE_HANDLE(HMENU);
DECLARE_HANDLE(HRSRC);
DECLARE_HANDLE(HKEY);
DECLARE_HANDLE(HHOOK);
typedef HINSTANCE HMODULE;
typedef HICON HCURSOR;
typedef void* HANDLE;
typedef void* HGDIOBJ;
typedef INT_PTR(WINAPI* FARPROC)();

#define TRUE 1
#define FALSE 0
#ifndef MAX_PATH
#define MAX_PATH 260
#endif
#define INFINITE 0xFFFFFFFFu

// ---------------------------------------------------------------------------------------------
// Result codes.
#define S_OK ((HRESULT)0)
#define S_FALSE ((HRESULT)1)
#define E_NOTIMPL ((HRESULT)0x80004001L)
#define E_NOINTERFACE ((HRESULT)0x80004002L)
#define E_POINTER ((HRESULT)0x80004003L)
#define E_ABORT ((HRESULT)0x80004004L)
#define E_FAIL ((HRESULT)0x80004005L)
#define E_UNEXPECTED ((HRESULT)0x8000FFFFL)
#define E_ACCESSDENIED ((HRESULT)0x80070005L)
#define E_HANDLE ((HRESULT)0x80070006L)
#define E_OUTOFMEMORY ((HRESULT)0x8007000EL)
#define E_INVALIDARG ((HRESULT)0x80070057L)
#define CLASS_E_NOAGGREGATION ((HRESULT)0x80040110L)
#define CLASS_E_CLASSNOTAVAILABLE ((HRESULT)0x80040111L)
#define REGDB_E_CLASSNOTREG ((HRESULT)0x80040154L)
#define CO_E_NOTINITIALIZED ((HRESULT)0x800401F0L)
#define CO_E_CLASSSTRING ((HRESULT)0x800401F3L)
#define STG_E_INVALIDFUNCTION ((HRESULT)0x80030001L)
#define STG_E_READFAULT ((HRESULT)0x8003001EL)
#define STG_E_WRITEFAULT ((HRESULT)0x8003001DL)
#define SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)
#define FAILED(hr) (((HRESULT)(hr)) < 0)
#define FACILITY_WIN32 7
#define HRESULT_FROM_WIN32(x)         \
  ((HRESULT)(x) <= 0 ? ((HRESULT)(x)) \
                     : ((HRESULT)(((x)&0x0000FFFF) | (FACILITY_WIN32 << 16) | 0x80000000)))

#define ERROR_SUCCESS 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_NOT_ENOUGH_MEMORY 8L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_INSUFFICIENT_BUFFER 122L
#define ERROR_MORE_DATA 234L
#define ERROR_NO_MORE_ITEMS 259L
#define ERROR_MOD_NOT_FOUND 126L
#define ERROR_PROC_NOT_FOUND 127L
#define ERROR_BAD_PATHNAME 161L
#define ERROR_BAD_EXE_FORMAT 193L
#define ERROR_ENVVAR_NOT_FOUND 203L
#define ERROR_NOACCESS 998L
#define ERROR_INVALID_FLAGS 1004L
#define ERROR_BADDB 1009L
#define ERROR_CANTREAD 1012L
#define ERROR_CANTWRITE 1013L
#define ERROR_KEY_DELETED 1018L
#define ERROR_NO_UNICODE_TRANSLATION 1113L
#define ERROR_DLL_INIT_FAILED 1114L
#define ERROR_INVALID_WINDOW_HANDLE 1400L
#define ERROR_TLW_WITH_WSCHILD 1406L
#define ERROR_CANNOT_FIND_WND_CLASS 1407L
#define ERROR_CLASS_ALREADY_EXISTS 1410L
#define ERROR_CLASS_DOES_NOT_EXIST 1411L
#define ERROR_CLASS_HAS_WINDOWS 1412L
#define ERROR_INVALID_INDEX 1413L
#define ERROR_CONTROL_ID_NOT_FOUND 1421L
#define ERROR_RESOURCE_DATA_NOT_FOUND 1812L
#define ERROR_RESOURCE_TYPE_NOT_FOUND 1813L
#define ERROR_RESOURCE_NAME_NOT_FOUND 1814L

// ---------------------------------------------------------------------------------------------
// GUIDs and IUnknown.
struct GUID {
  uint32_t Data1;
  uint16_t Data2;
  uint16_t Data3;
  uint8_t Data4[8];
};
typedef GUID IID;
typedef GUID CLSID;
typedef const GUID& REFGUID;
typedef const IID& REFIID;
typedef const CLSID& REFCLSID;
typedef GUID* LPGUID;
typedef CLSID* LPCLSID;

inline bool IsEqualGUID(REFGUID a, REFGUID b) {
  return std::memcmp(&a, &b, sizeof(GUID)) == 0;
}
inline bool operator==(REFGUID a, REFGUID b) {
  return IsEqualGUID(a, b);
}
inline bool operator!=(REFGUID a, REFGUID b) {
  return !IsEqualGUID(a, b);
}
#define IsEqualIID(a, b) IsEqualGUID(a, b)
#define IsEqualCLSID(a, b) IsEqualGUID(a, b)

extern "C" BRVST_PLATFORM_API const IID IID_IUnknown;
extern "C" BRVST_PLATFORM_API const IID IID_IClassFactory;
extern "C" BRVST_PLATFORM_API const GUID GUID_NULL;
#define CLSID_NULL GUID_NULL
#define IID_NULL GUID_NULL

struct IUnknown {
  virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) = 0;
  virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
  virtual ULONG STDMETHODCALLTYPE Release() = 0;
};
typedef IUnknown* LPUNKNOWN;

struct IClassFactory : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pUnkOuter, REFIID riid,
                                                   void** ppvObject) = 0;
  virtual HRESULT STDMETHODCALLTYPE LockServer(BOOL fLock) = 0;
};
typedef IClassFactory* LPCLASSFACTORY;

// ---------------------------------------------------------------------------------------------
// Threads and synchronisation.
struct CRITICAL_SECTION {
  pthread_mutex_t mutex;
};
typedef CRITICAL_SECTION* LPCRITICAL_SECTION;

extern "C" {
BRVST_PLATFORM_API void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION cs);
BRVST_PLATFORM_API void WINAPI EnterCriticalSection(LPCRITICAL_SECTION cs);
BRVST_PLATFORM_API void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION cs);
BRVST_PLATFORM_API void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION cs);
BRVST_PLATFORM_API void WINAPI Sleep(DWORD milliseconds);
BRVST_PLATFORM_API DWORD WINAPI GetCurrentThreadId();
BRVST_PLATFORM_API DWORD WINAPI GetTickCount();
BRVST_PLATFORM_API DWORD WINAPI GetLastError();
BRVST_PLATFORM_API void WINAPI SetLastError(DWORD error);
}

inline LONG InterlockedIncrement(LONG volatile* p) {
  return __atomic_add_fetch(p, 1, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedDecrement(LONG volatile* p) {
  return __atomic_sub_fetch(p, 1, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedExchange(LONG volatile* p, LONG v) {
  return __atomic_exchange_n(p, v, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedCompareExchange(LONG volatile* p, LONG exchange, LONG comparand) {
  __atomic_compare_exchange_n(p, &comparand, exchange, false, __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
  return comparand;
}

// ---------------------------------------------------------------------------------------------
// Modules. A module handle is the loader's handle of a shared object; DllMain of our own shared
// objects is driven by their load and unload.
#define DLL_PROCESS_DETACH 0
#define DLL_PROCESS_ATTACH 1
#define DLL_THREAD_ATTACH 2
#define DLL_THREAD_DETACH 3

extern "C" {
BRVST_PLATFORM_API HMODULE WINAPI LoadLibraryA(LPCSTR fileName);
BRVST_PLATFORM_API BOOL WINAPI FreeLibrary(HMODULE module);
BRVST_PLATFORM_API FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR procName);
BRVST_PLATFORM_API DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR fileName, DWORD size);
BRVST_PLATFORM_API HMODULE WINAPI GetModuleHandleA(LPCSTR moduleName);
}

// ---------------------------------------------------------------------------------------------
// Files. MoveFileExA with MOVEFILE_REPLACE_EXISTING replaces the target in one step, as a rename
// does; without it an existing target is refused.
#define MOVEFILE_REPLACE_EXISTING 0x1
#define ERROR_ALREADY_EXISTS 183L

extern "C" {
BRVST_PLATFORM_API BOOL WINAPI MoveFileExA(LPCSTR existing, LPCSTR target, DWORD flags);
BRVST_PLATFORM_API BOOL WINAPI DeleteFileA(LPCSTR path);
// Creates one folder (its parent must exist); the security attributes are ignored.
BRVST_PLATFORM_API BOOL WINAPI CreateDirectoryA(LPCSTR path, struct SECURITY_ATTRIBUTES* security);
// Sets the process environment's `name`; a null value removes it.
BRVST_PLATFORM_API BOOL WINAPI SetEnvironmentVariableA(LPCSTR name, LPCSTR value);
// Copies the value of `name` with its terminator and answers its length; when the buffer is too
// small, answers the size it needs (terminator included); 0 when the variable is not set.
BRVST_PLATFORM_API DWORD WINAPI GetEnvironmentVariableA(LPCSTR name, LPSTR buffer, DWORD size);
}

// ---------------------------------------------------------------------------------------------
// COM runtime basics.
#define CLSCTX_INPROC_SERVER 0x1
#define CLSCTX_INPROC_HANDLER 0x2
#define CLSCTX_INPROC (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER)
#define COINIT_APARTMENTTHREADED 0x2
#define COINIT_MULTITHREADED 0x0

extern "C" {
BRVST_PLATFORM_API LPVOID WINAPI CoTaskMemAlloc(SIZE_T size);
BRVST_PLATFORM_API LPVOID WINAPI CoTaskMemRealloc(LPVOID p, SIZE_T size);
BRVST_PLATFORM_API void WINAPI CoTaskMemFree(LPVOID p);
BRVST_PLATFORM_API int WINAPI StringFromGUID2(REFGUID guid, LPOLESTR buffer, int size);
BRVST_PLATFORM_API HRESULT WINAPI CLSIDFromString(LPCOLESTR text, LPCLSID clsid);
BRVST_PLATFORM_API HRESULT WINAPI CoInitialize(LPVOID reserved);
BRVST_PLATFORM_API HRESULT WINAPI CoInitializeEx(LPVOID reserved, DWORD coInit);
BRVST_PLATFORM_API void WINAPI CoUninitialize();
// Creates an object of a class registered in the platform's registry (see CoGetClassObject).
BRVST_PLATFORM_API HRESULT WINAPI CoCreateInstance(REFCLSID clsid, IUnknown* outer, DWORD context,
                                                   REFIID iid, LPVOID* object);
BRVST_PLATFORM_API HRESULT WINAPI CoLockObjectExternal(IUnknown* unknown, BOOL lock,
                                                       BOOL lastUnlockReleases);
}

// COM activation: a class is found through HKEY_CLASSES_ROOT\CLSID\{clsid}\InprocServer32, whose
// module is loaded (and kept) and asked through its DllGetClassObject. The filter mapper
// (CLSID_FilterMapper) is built in. Both need CoInitialize on the calling thread first.
#define CLSCTX_LOCAL_SERVER 0x4
#define CO_E_DLLNOTFOUND ((HRESULT)0x800401F8L)
#define CO_E_ERRORINDLL ((HRESULT)0x800401F9L)
extern "C" {
BRVST_PLATFORM_API HRESULT WINAPI CoGetClassObject(REFCLSID clsid, DWORD context, LPVOID serverInfo,
                                                   REFIID iid, LPVOID* object);
}

// ---------------------------------------------------------------------------------------------
// Text: the ANSI code page is Windows-1252, as on a Western European Windows.
#define CP_ACP 0
#define CP_UTF8 65001
#define MB_PRECOMPOSED 0x00000001
#define MB_ERR_INVALID_CHARS 0x00000008
#define WC_COMPOSITECHECK 0x00000200
#define WC_NO_BEST_FIT_CHARS 0x00000400
#define WC_ERR_INVALID_CHARS 0x00000080

extern "C" {
BRVST_PLATFORM_API int WINAPI MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR multiByte,
                                                  int multiByteCount, LPWSTR wide, int wideCount);
BRVST_PLATFORM_API int WINAPI WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide,
                                                  int wideCount, LPSTR multiByte,
                                                  int multiByteCount, LPCSTR defaultChar,
                                                  BOOL* usedDefaultChar);
BRVST_PLATFORM_API UINT WINAPI GetACP();
BRVST_PLATFORM_API int WINAPI lstrlenW(LPCWSTR text);
BRVST_PLATFORM_API int WINAPI lstrcmpiA(LPCSTR a, LPCSTR b);
}

// ---------------------------------------------------------------------------------------------
// Windows, messages and dialogs of the headless desktop (platform/posix/desktop.h scripts it).
#define MAKEINTRESOURCEA(i) ((LPSTR)((ULONG_PTR)((WORD)(i))))
#define IS_INTRESOURCE(p) ((((ULONG_PTR)(p)) >> 16) == 0)
#define LOWORD(l) ((WORD)(((DWORD_PTR)(l)) & 0xffff))
#define HIWORD(l) ((WORD)((((DWORD_PTR)(l)) >> 16) & 0xffff))
#define MAKELONG(a, b) \
  ((LONG)(((WORD)(((DWORD_PTR)(a)) & 0xffff)) | ((DWORD)((WORD)(((DWORD_PTR)(b)) & 0xffff))) << 16))
#define MAKEWPARAM(l, h) ((WPARAM)(DWORD)MAKELONG(l, h))
#define MAKELPARAM(l, h) ((LPARAM)(DWORD)MAKELONG(l, h))
#define MAKEINTATOM(i) ((LPSTR)((ULONG_PTR)((WORD)(i))))

typedef LRESULT(CALLBACK* WNDPROC)(HWND, UINT, WPARAM, LPARAM);
typedef INT_PTR(CALLBACK* DLGPROC)(HWND, UINT, WPARAM, LPARAM);

struct RECT {
  LONG left;
  LONG top;
  LONG right;
  LONG bottom;
};
typedef RECT* LPRECT;
typedef const RECT* LPCRECT;
struct POINT {
  LONG x;
  LONG y;
};
typedef POINT* LPPOINT;
struct SIZE {
  LONG cx;
  LONG cy;
};

struct CREATESTRUCTA {
  LPVOID lpCreateParams;
  HINSTANCE hInstance;
  HMENU hMenu;
  HWND hwndParent;
  int cy;
  int cx;
  int y;
  int x;
  LONG style;
  LPCSTR lpszName;
  LPCSTR lpszClass;
  DWORD dwExStyle;
};
typedef CREATESTRUCTA* LPCREATESTRUCTA;

struct MSG {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  DWORD time;
  POINT pt;
};
typedef MSG* LPMSG;

struct WNDCLASSA {
  UINT style;
  WNDPROC lpfnWndProc;
  int cbClsExtra;
  int cbWndExtra;
  HINSTANCE hInstance;
  HICON hIcon;
  HCURSOR hCursor;
  HBRUSH hbrBackground;
  LPCSTR lpszMenuName;
  LPCSTR lpszClassName;
};

#define CS_VREDRAW 0x0001
#define CS_HREDRAW 0x0002
#define CS_DBLCLKS 0x0008

#define WS_OVERLAPPED 0x00000000L
#define WS_POPUP 0x80000000L
#define WS_CHILD 0x40000000L
#define WS_VISIBLE 0x10000000L
#define WS_DISABLED 0x08000000L
#define WS_CLIPSIBLINGS 0x04000000L
#define WS_CLIPCHILDREN 0x02000000L
#define WS_CAPTION 0x00C00000L
#define WS_BORDER 0x00800000L
#define WS_DLGFRAME 0x00400000L
#define WS_SYSMENU 0x00080000L
#define WS_THICKFRAME 0x00040000L
#define WS_GROUP 0x00020000L
#define WS_TABSTOP 0x00010000L
#define WS_EX_DLGMODALFRAME 0x00000001L
#define WS_EX_CONTROLPARENT 0x00010000L
#define CW_USEDEFAULT ((int)0x80000000)
#define DS_MODALFRAME 0x80L
#define DS_CENTER 0x0800L
#define DS_SETFONT 0x40L
#define ES_LEFT 0x0000L
#define ES_AUTOHSCROLL 0x0080L
#define ES_READONLY 0x0800L
#define BS_PUSHBUTTON 0x00000000L
#define BS_DEFPUSHBUTTON 0x00000001L
#define BS_TYPEMASK 0x0000000FL
#define SS_LEFT 0x00000000L
#define SS_ICON 0x00000003L
#define SS_TYPEMASK 0x0000001FL
#define BN_CLICKED 0

#define WM_CREATE 0x0001
#define WM_DESTROY 0x0002
#define WM_MOVE 0x0003
#define WM_SIZE 0x0005
#define WM_SETTEXT 0x000C
#define WM_GETTEXT 0x000D
#define WM_GETTEXTLENGTH 0x000E
#define WM_PAINT 0x000F
#define WM_CLOSE 0x0010
#define WM_ERASEBKGND 0x0014
#define WM_SHOWWINDOW 0x0018
#define WM_NCCREATE 0x0081
#define WM_NCDESTROY 0x0082
#define WM_GETDLGCODE 0x0087
#define WM_KEYDOWN 0x0100
#define WM_INITDIALOG 0x0110
#define WM_COMMAND 0x0111
#define WM_TIMER 0x0113
#define WM_MOUSEMOVE 0x0200
#define WM_LBUTTONDOWN 0x0201
#define WM_LBUTTONUP 0x0202
#define WM_LBUTTONDBLCLK 0x0203
#define WM_USER 0x0400
#define DM_GETDEFID (WM_USER + 0)
#define DC_HASDEFID 0x534B
#define BM_CLICK 0x00F5
#define VK_RETURN 0x0D
#define VK_ESCAPE 0x1B
#define PM_NOREMOVE 0x0000
#define PM_REMOVE 0x0001

#define IDOK 1
#define IDCANCEL 2
#define IDABORT 3
#define IDRETRY 4
#define IDIGNORE 5
#define IDYES 6
#define IDNO 7
#define IDTRYAGAIN 10
#define IDCONTINUE 11

#define MB_OK 0x00000000L
#define MB_OKCANCEL 0x00000001L
#define MB_ABORTRETRYIGNORE 0x00000002L
#define MB_YESNOCANCEL 0x00000003L
#define MB_YESNO 0x00000004L
#define MB_RETRYCANCEL 0x00000005L
#define MB_CANCELTRYCONTINUE 0x00000006L
#define MB_TYPEMASK 0x0000000FL
#define MB_DEFBUTTON1 0x00000000L
#define MB_DEFBUTTON2 0x00000100L
#define MB_DEFBUTTON3 0x00000200L
#define MB_DEFMASK 0x00000F00L
#define MB_ICONERROR 0x00000010L
#define MB_ICONWARNING 0x00000030L
#define MB_ICONINFORMATION 0x00000040L
#define MB_SYSTEMMODAL 0x00001000L
#define MB_TASKMODAL 0x00002000L

#define GWLP_WNDPROC (-4)
#define GWLP_HINSTANCE (-6)
#define GWLP_HWNDPARENT (-8)
#define GWLP_ID (-12)
#define GWL_STYLE (-16)
#define GWL_EXSTYLE (-20)
#define GWLP_USERDATA (-21)

#define SW_HIDE 0
#define SW_SHOW 5

#define SWP_NOSIZE 0x0001
#define SWP_NOMOVE 0x0002
#define SWP_NOZORDER 0x0004
#define SWP_NOACTIVATE 0x0010
#define GWL_USERDATA (-21)
#define DWLP_MSGRESULT 0
#define DWLP_DLGPROC (DWLP_MSGRESULT + (int)sizeof(LRESULT))
#define DWLP_USER (DWLP_DLGPROC + (int)sizeof(DLGPROC))

#define GW_HWNDFIRST 0
#define GW_HWNDLAST 1
#define GW_HWNDNEXT 2
#define GW_HWNDPREV 3
#define GW_OWNER 4
#define GW_CHILD 5

// The class of dialog windows.
#define WC_DIALOG MAKEINTATOM(0x8002)

extern "C" {
BRVST_PLATFORM_API int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
BRVST_PLATFORM_API INT_PTR WINAPI DialogBoxParamA(HINSTANCE instance, LPCSTR templateName,
                                                  HWND owner, DLGPROC dialogProc, LPARAM param);
BRVST_PLATFORM_API BOOL WINAPI EndDialog(HWND dialog, INT_PTR result);
BRVST_PLATFORM_API HWND WINAPI GetDlgItem(HWND dialog, int id);
BRVST_PLATFORM_API BOOL WINAPI SetDlgItemTextA(HWND dialog, int id, LPCSTR text);
BRVST_PLATFORM_API UINT WINAPI GetDlgItemTextA(HWND dialog, int id, LPSTR text, int size);
BRVST_PLATFORM_API ATOM WINAPI RegisterClassA(const WNDCLASSA* windowClass);
BRVST_PLATFORM_API BOOL WINAPI UnregisterClassA(LPCSTR className, HINSTANCE instance);
BRVST_PLATFORM_API BOOL WINAPI GetClassInfoA(HINSTANCE instance, LPCSTR className,
                                             WNDCLASSA* windowClass);
BRVST_PLATFORM_API HWND WINAPI CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName,
                                               DWORD style, int x, int y, int width, int height,
                                               HWND parent, HMENU menu, HINSTANCE instance,
                                               LPVOID param);
BRVST_PLATFORM_API BOOL WINAPI DestroyWindow(HWND window);
BRVST_PLATFORM_API BOOL WINAPI IsWindow(HWND window);
BRVST_PLATFORM_API HWND WINAPI GetParent(HWND window);
BRVST_PLATFORM_API BOOL WINAPI SetWindowTextA(HWND window, LPCSTR text);
BRVST_PLATFORM_API int WINAPI GetWindowTextA(HWND window, LPSTR text, int size);
BRVST_PLATFORM_API LRESULT WINAPI SendMessageA(HWND window, UINT message, WPARAM wParam,
                                               LPARAM lParam);
BRVST_PLATFORM_API BOOL WINAPI PostMessageA(HWND window, UINT message, WPARAM wParam,
                                            LPARAM lParam);
BRVST_PLATFORM_API LRESULT WINAPI DefWindowProcA(HWND window, UINT message, WPARAM wParam,
                                                 LPARAM lParam);
BRVST_PLATFORM_API LONG_PTR WINAPI SetWindowLongPtrA(HWND window, int index, LONG_PTR value);
BRVST_PLATFORM_API LONG_PTR WINAPI GetWindowLongPtrA(HWND window, int index);
BRVST_PLATFORM_API BOOL WINAPI GetWindowRect(HWND window, LPRECT rect);
BRVST_PLATFORM_API int WINAPI MapWindowPoints(HWND from, HWND to, LPPOINT points, UINT count);
BRVST_PLATFORM_API BOOL WINAPI SetWindowPos(HWND window, HWND insertAfter, int x, int y, int width,
                                            int height, UINT flags);
BRVST_PLATFORM_API BOOL WINAPI InvalidateRect(HWND window, const RECT* rect, BOOL erase);
BRVST_PLATFORM_API BOOL WINAPI GetClientRect(HWND window, LPRECT rect);
BRVST_PLATFORM_API BOOL WINAPI GetUpdateRect(HWND window, LPRECT rect, BOOL erase);
BRVST_PLATFORM_API BOOL WINAPI ValidateRect(HWND window, const RECT* rect);
BRVST_PLATFORM_API HWND WINAPI GetWindow(HWND window, UINT command);
BRVST_PLATFORM_API int WINAPI GetDlgCtrlID(HWND window);
BRVST_PLATFORM_API int WINAPI GetClassNameA(HWND window, LPSTR className, int size);
BRVST_PLATFORM_API BOOL WINAPI PeekMessageA(LPMSG msg, HWND window, UINT filterMin, UINT filterMax,
                                            UINT removeMessage);
BRVST_PLATFORM_API LRESULT WINAPI DispatchMessageA(const MSG* msg);
}

// ---------------------------------------------------------------------------------------------
// Resources of a module (platform/posix/resource_table.h says where a module keeps them).
typedef HANDLE HGLOBAL;
#define RT_BITMAP MAKEINTRESOURCEA(2)
#define RT_DIALOG MAKEINTRESOURCEA(5)

extern "C" {
BRVST_PLATFORM_API HRSRC WINAPI FindResourceA(HMODULE module, LPCSTR name, LPCSTR type);
BRVST_PLATFORM_API HGLOBAL WINAPI LoadResource(HMODULE module, HRSRC resource);
BRVST_PLATFORM_API LPVOID WINAPI LockResource(HGLOBAL resourceData);
BRVST_PLATFORM_API DWORD WINAPI SizeofResource(HMODULE module, HRSRC resource);
}

// ---------------------------------------------------------------------------------------------
// GDI objects in memory.
struct BITMAP {
  LONG bmType;
  LONG bmWidth;
  LONG bmHeight;
  LONG bmWidthBytes;
  WORD bmPlanes;
  WORD bmBitsPixel;
  LPVOID bmBits;
};

#pragma pack(push, 2)
struct BITMAPFILEHEADER {
  WORD bfType;
  DWORD bfSize;
  WORD bfReserved1;
  WORD bfReserved2;
  DWORD bfOffBits;
};
#pragma pack(pop)

struct BITMAPINFOHEADER {
  DWORD biSize;
  LONG biWidth;
  LONG biHeight;
  WORD biPlanes;
  WORD biBitCount;
  DWORD biCompression;
  DWORD biSizeImage;
  LONG biXPelsPerMeter;
  LONG biYPelsPerMeter;
  DWORD biClrUsed;
  DWORD biClrImportant;
};

struct RGBQUAD {
  BYTE rgbBlue;
  BYTE rgbGreen;
  BYTE rgbRed;
  BYTE rgbReserved;
};

#define BI_RGB 0L

#define LF_FACESIZE 32
struct LOGFONTA {
  LONG lfHeight;
  LONG lfWidth;
  LONG lfEscapement;
  LONG lfOrientation;
  LONG lfWeight;
  BYTE lfItalic;
  BYTE lfUnderline;
  BYTE lfStrikeOut;
  BYTE lfCharSet;
  BYTE lfOutPrecision;
  BYTE lfClipPrecision;
  BYTE lfQuality;
  BYTE lfPitchAndFamily;
  CHAR lfFaceName[LF_FACESIZE];
};

#define FW_DONTCARE 0
#define FW_NORMAL 400
#define FW_BOLD 700
#define DEFAULT_CHARSET 1
#define ANSI_CHARSET 0

extern "C" {
BRVST_PLATFORM_API HBITMAP WINAPI LoadBitmapA(HINSTANCE instance, LPCSTR bitmapName);
BRVST_PLATFORM_API HFONT WINAPI CreateFontA(int height, int width, int escapement, int orientation,
                                            int weight, DWORD italic, DWORD underline,
                                            DWORD strikeOut, DWORD charSet, DWORD outPrecision,
                                            DWORD clipPrecision, DWORD quality,
                                            DWORD pitchAndFamily, LPCSTR faceName);
BRVST_PLATFORM_API BOOL WINAPI DeleteObject(HGDIOBJ object);
BRVST_PLATFORM_API int WINAPI GetObjectA(HANDLE object, int size, LPVOID buffer);
BRVST_PLATFORM_API LONG WINAPI GetBitmapBits(HBITMAP bitmap, LONG size, LPVOID bits);
}

// ---------------------------------------------------------------------------------------------
// The registry: one .reg text file per user (platform/posix/registry_testing.h says where), read
// afresh by every call. HKEY_CLASSES_ROOT is HKEY_LOCAL_MACHINE\Software\Classes, as on Windows
// for what is registered machine-wide. A damaged file fails every call with ERROR_BADDB.
typedef DWORD REGSAM;
typedef HKEY* PHKEY;
typedef LONG LSTATUS;
struct FILETIME;
typedef FILETIME* PFILETIME;
struct SECURITY_ATTRIBUTES;
typedef SECURITY_ATTRIBUTES* LPSECURITY_ATTRIBUTES;

#define HKEY_CLASSES_ROOT ((HKEY)(ULONG_PTR)((LONG)0x80000000))
#define HKEY_CURRENT_USER ((HKEY)(ULONG_PTR)((LONG)0x80000001))
#define HKEY_LOCAL_MACHINE ((HKEY)(ULONG_PTR)((LONG)0x80000002))
#define HKEY_USERS ((HKEY)(ULONG_PTR)((LONG)0x80000003))

#define KEY_QUERY_VALUE 0x0001
#define KEY_SET_VALUE 0x0002
#define KEY_CREATE_SUB_KEY 0x0004
#define KEY_ENUMERATE_SUB_KEYS 0x0008
#define KEY_NOTIFY 0x0010
#define KEY_CREATE_LINK 0x0020
#define KEY_WOW64_64KEY 0x0100
#define KEY_WOW64_32KEY 0x0200
#define KEY_READ 0x20019
#define KEY_WRITE 0x20006
#define KEY_ALL_ACCESS 0xF003F
#define MAXIMUM_ALLOWED 0x02000000

#define REG_OPTION_NON_VOLATILE 0x0
#define REG_CREATED_NEW_KEY 0x1
#define REG_OPENED_EXISTING_KEY 0x2

#define REG_NONE 0
#define REG_SZ 1
#define REG_EXPAND_SZ 2
#define REG_BINARY 3
#define REG_DWORD 4
#define REG_MULTI_SZ 7

extern "C" {
BRVST_PLATFORM_API LSTATUS WINAPI RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved,
                                                  LPSTR keyClass, DWORD options, REGSAM access,
                                                  LPSECURITY_ATTRIBUTES security, PHKEY result,
                                                  LPDWORD disposition);
BRVST_PLATFORM_API LSTATUS WINAPI RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options,
                                                REGSAM access, PHKEY result);
BRVST_PLATFORM_API LSTATUS WINAPI RegCloseKey(HKEY key);
BRVST_PLATFORM_API LSTATUS WINAPI RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved,
                                                 DWORD type, const BYTE* data, DWORD size);
BRVST_PLATFORM_API LSTATUS WINAPI RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved,
                                                   LPDWORD type, LPBYTE data, LPDWORD size);
BRVST_PLATFORM_API LSTATUS WINAPI RegDeleteValueA(HKEY key, LPCSTR valueName);
BRVST_PLATFORM_API LSTATUS WINAPI RegDeleteKeyA(HKEY key, LPCSTR subKey);
BRVST_PLATFORM_API LSTATUS WINAPI RegEnumKeyExA(HKEY key, DWORD index, LPSTR name,
                                                LPDWORD nameLength, LPDWORD reserved,
                                                LPSTR keyClass, LPDWORD classLength,
                                                PFILETIME lastWriteTime);
BRVST_PLATFORM_API LSTATUS WINAPI RegEnumValueA(HKEY key, DWORD index, LPSTR name,
                                                LPDWORD nameLength, LPDWORD reserved, LPDWORD type,
                                                LPBYTE data, LPDWORD size);
}

// ---------------------------------------------------------------------------------------------
// Painting, timers and input of the headless desktop (painting.cpp, input.cpp;
// platform/posix/desktop_testing.h has the clock and the read-back for tests).
typedef DWORD COLORREF;
typedef VOID(CALLBACK* TIMERPROC)(HWND, UINT, UINT_PTR, DWORD);

#define RGB(r, g, b) \
  ((COLORREF)(((BYTE)(r)) | ((WORD)((BYTE)(g)) << 8) | (((DWORD)(BYTE)(b)) << 16)))
#define GetRValue(c) ((BYTE)(c))
#define GetGValue(c) ((BYTE)(((WORD)(c)) >> 8))
#define GetBValue(c) ((BYTE)((c) >> 16))
#define GET_X_LPARAM(lp) ((int)(short)LOWORD(lp))
#define GET_Y_LPARAM(lp) ((int)(short)HIWORD(lp))

struct PAINTSTRUCT {
  HDC hdc;
  BOOL fErase;
  RECT rcPaint;
  BOOL fRestore;
  BOOL fIncUpdate;
  BYTE rgbReserved[32];
};
typedef PAINTSTRUCT* LPPAINTSTRUCT;

struct BITMAPINFO {
  BITMAPINFOHEADER bmiHeader;
  RGBQUAD bmiColors[1];
};
typedef BITMAPINFO* LPBITMAPINFO;

#define WM_SETFOCUS 0x0007
#define WM_QUIT 0x0012
#define WM_CAPTURECHANGED 0x0215
#define DLGC_WANTALLKEYS 0x0004
#define MK_LBUTTON 0x0001
#define SW_SHOWNORMAL 1
#define SRCCOPY 0x00CC0020
#define TRANSPARENT 1
#define OPAQUE 2
#define DIB_RGB_COLORS 0
#define DT_TOP 0x0000
#define DT_LEFT 0x0000
#define DT_CENTER 0x0001
#define DT_RIGHT 0x0002
#define DT_VCENTER 0x0004
#define DT_BOTTOM 0x0008
#define DT_SINGLELINE 0x0020
#define DT_NOCLIP 0x0100
#define DT_CALCRECT 0x0400
#define WHITE_BRUSH 0
#define LTGRAY_BRUSH 1
#define GRAY_BRUSH 2
#define BLACK_BRUSH 4
#define SYSTEM_FONT 13
#define DEFAULT_GUI_FONT 17

extern "C" {
BRVST_PLATFORM_API UINT_PTR WINAPI SetTimer(HWND window, UINT_PTR id, UINT elapse,
                                            TIMERPROC procedure);
BRVST_PLATFORM_API BOOL WINAPI KillTimer(HWND window, UINT_PTR id);
BRVST_PLATFORM_API BOOL WINAPI GetMessageA(LPMSG msg, HWND window, UINT filterMin, UINT filterMax);
BRVST_PLATFORM_API BOOL WINAPI TranslateMessage(const MSG* msg);
BRVST_PLATFORM_API VOID WINAPI PostQuitMessage(int exitCode);
BRVST_PLATFORM_API LRESULT WINAPI CallWindowProcA(WNDPROC procedure, HWND window, UINT message,
                                                  WPARAM wParam, LPARAM lParam);
BRVST_PLATFORM_API HWND WINAPI SetCapture(HWND window);
BRVST_PLATFORM_API BOOL WINAPI ReleaseCapture();
BRVST_PLATFORM_API HWND WINAPI GetCapture();
BRVST_PLATFORM_API BOOL WINAPI GetCursorPos(POINT* point);
BRVST_PLATFORM_API BOOL WINAPI SetCursorPos(int x, int y);
BRVST_PLATFORM_API BOOL WINAPI ClientToScreen(HWND window, POINT* point);
BRVST_PLATFORM_API BOOL WINAPI ScreenToClient(HWND window, POINT* point);
BRVST_PLATFORM_API BOOL WINAPI ShowWindow(HWND window, int command);
BRVST_PLATFORM_API BOOL WINAPI IsWindowVisible(HWND window);
BRVST_PLATFORM_API BOOL WINAPI UpdateWindow(HWND window);
BRVST_PLATFORM_API HDC WINAPI GetDC(HWND window);
BRVST_PLATFORM_API int WINAPI ReleaseDC(HWND window, HDC dc);
BRVST_PLATFORM_API HDC WINAPI BeginPaint(HWND window, LPPAINTSTRUCT paint);
BRVST_PLATFORM_API BOOL WINAPI EndPaint(HWND window, const PAINTSTRUCT* paint);
BRVST_PLATFORM_API HDC WINAPI CreateCompatibleDC(HDC dc);
BRVST_PLATFORM_API HBITMAP WINAPI CreateCompatibleBitmap(HDC dc, int width, int height);
BRVST_PLATFORM_API BOOL WINAPI DeleteDC(HDC dc);
BRVST_PLATFORM_API HGDIOBJ WINAPI SelectObject(HDC dc, HGDIOBJ object);
BRVST_PLATFORM_API HGDIOBJ WINAPI GetStockObject(int object);
BRVST_PLATFORM_API HBRUSH WINAPI CreateSolidBrush(COLORREF colour);
BRVST_PLATFORM_API BOOL WINAPI BitBlt(HDC dest, int x, int y, int width, int height, HDC source,
                                      int sourceX, int sourceY, DWORD rop);
BRVST_PLATFORM_API int WINAPI FillRect(HDC dc, const RECT* rect, HBRUSH brush);
BRVST_PLATFORM_API COLORREF WINAPI SetTextColor(HDC dc, COLORREF colour);
BRVST_PLATFORM_API COLORREF WINAPI SetBkColor(HDC dc, COLORREF colour);
BRVST_PLATFORM_API int WINAPI SetBkMode(HDC dc, int mode);
BRVST_PLATFORM_API int WINAPI DrawTextA(HDC dc, LPCSTR text, int count, LPRECT rect, UINT format);
BRVST_PLATFORM_API int WINAPI GetDIBits(HDC dc, HBITMAP bitmap, UINT start, UINT lines, LPVOID bits,
                                        LPBITMAPINFO info, UINT usage);
}

// ---------------------------------------------------------------------------------------------
// The common file dialogs (answered by the desktop, platform/posix/desktop.h) and the desktop
// window.
typedef UINT_PTR(CALLBACK* LPOFNHOOKPROC)(HWND, UINT, WPARAM, LPARAM);
typedef struct tagOFNA {
  DWORD lStructSize;
  HWND hwndOwner;
  HINSTANCE hInstance;
  LPCSTR lpstrFilter;
  LPSTR lpstrCustomFilter;
  DWORD nMaxCustFilter;
  DWORD nFilterIndex;
  LPSTR lpstrFile;
  DWORD nMaxFile;
  LPSTR lpstrFileTitle;
  DWORD nMaxFileTitle;
  LPCSTR lpstrInitialDir;
  LPCSTR lpstrTitle;
  DWORD Flags;
  WORD nFileOffset;
  WORD nFileExtension;
  LPCSTR lpstrDefExt;
  LPARAM lCustData;
  LPOFNHOOKPROC lpfnHook;
  LPCSTR lpTemplateName;
  void* pvReserved;
  DWORD dwReserved;
  DWORD FlagsEx;
} OPENFILENAMEA, *LPOPENFILENAMEA;
// The structure as it was before the Windows 2000 fields.
#define OPENFILENAME_SIZE_VERSION_400A (offsetof(OPENFILENAMEA, lpTemplateName) + sizeof(LPCSTR))

#define OFN_LONGNAMES 0x00200000

#define CDERR_STRUCTSIZE 0x0001
#define CDERR_MEMALLOCFAILURE 0x0009
#define FNERR_INVALIDFILENAME 0x3002
#define FNERR_BUFFERTOOSMALL 0x3003

extern "C" {
BRVST_PLATFORM_API BOOL WINAPI GetOpenFileNameA(LPOPENFILENAMEA dialog);
BRVST_PLATFORM_API BOOL WINAPI GetSaveFileNameA(LPOPENFILENAMEA dialog);
BRVST_PLATFORM_API DWORD WINAPI CommDlgExtendedError();
BRVST_PLATFORM_API HWND WINAPI GetDesktopWindow();
}
