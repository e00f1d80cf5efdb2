// Window classes, windows and messages of the headless desktop.
#include "platform/posix/window_system.h"

#include <strings.h>

#include <algorithm>
#include <cstring>
#include <type_traits>

namespace brvst::platform {
namespace {

using Lock = std::lock_guard<std::recursive_mutex>;

// A headless screen of a common size, for windows that ask for a default position or size.
constexpr LONG kScreenWidth = 1024;
constexpr LONG kScreenHeight = 768;

bool SameName(const std::string& a, LPCSTR b) {
  return strcasecmp(a.c_str(), b) == 0;
}

// The class a window of `instance` gets for `name`: a class of that module, else a system class.
std::shared_ptr<WindowClass> FindClass(WindowSystem& system, LPCSTR name, HINSTANCE instance) {
  std::shared_ptr<WindowClass> systemClass;
  for (const auto& c : system.classes) {
    const bool match = IS_INTRESOURCE(name)
                           ? c->atom == static_cast<ATOM>(reinterpret_cast<ULONG_PTR>(name))
                           : SameName(c->name, name);
    if (!match) continue;
    if (c->system) {
      systemClass = c;
    } else if (c->instance == instance) {
      return c;
    }
  }
  return systemClass;
}

std::shared_ptr<WindowClass> AddClass(WindowSystem& system, const WNDCLASSA& info, ATOM atom,
                                      bool systemClass) {
  auto c = std::make_shared<WindowClass>();
  c->atom = atom;
  c->name = info.lpszClassName;
  c->instance = info.hInstance;
  c->system = systemClass;
  c->info = info;
  if (info.lpszMenuName != nullptr && !IS_INTRESOURCE(info.lpszMenuName)) {
    c->menuName = info.lpszMenuName;
    c->info.lpszMenuName = c->menuName.c_str();
  }
  c->info.lpszClassName = c->name.c_str();
  system.classes.push_back(c);
  return c;
}

std::vector<HWND>& Siblings(WindowSystem& system, const Window& window) {
  if (window.parent != nullptr) {
    auto parent = system.windows.find(window.parent);
    if (parent != system.windows.end()) return parent->second->children;
  }
  return system.topLevel;
}

LRESULT Call(const std::shared_ptr<Window>& window, UINT message, WPARAM wParam, LPARAM lParam) {
  WNDPROC procedure;
  {
    Lock lock(WindowSystem::Get().mutex);
    procedure = window->procedure;
  }
  return procedure != nullptr ? procedure(window->handle, message, wParam, lParam) : 0;
}

// WM_DESTROY goes to a window before its children, while they all still exist.
void SendDestroy(const std::shared_ptr<Window>& window) {
  Call(window, WM_DESTROY, 0, 0);
  std::vector<HWND> children;
  {
    Lock lock(WindowSystem::Get().mutex);
    children = window->children;
  }
  for (HWND child : children)
    if (auto c = WindowSystem::Get().Find(child)) SendDestroy(c);
}

// WM_NCDESTROY goes to the children first; then the window leaves the tables.
void Release(const std::shared_ptr<Window>& window) {
  WindowSystem& system = WindowSystem::Get();
  std::vector<HWND> children;
  {
    Lock lock(system.mutex);
    children = window->children;
  }
  for (HWND child : children)
    if (auto c = system.Find(child)) Release(c);
  Call(window, WM_NCDESTROY, 0, 0);
  Lock lock(system.mutex);
  auto& siblings = Siblings(system, *window);
  siblings.erase(std::remove(siblings.begin(), siblings.end(), window->handle), siblings.end());
  system.windows.erase(window->handle);
  // Messages posted to a window die with it.
  for (auto& [thread, queue] : system.queues)
    queue.erase(std::remove_if(queue.begin(), queue.end(),
                               [&](const MSG& m) { return m.hwnd == window->handle; }),
                queue.end());
}

void MarkDestroying(WindowSystem& system, Window& window) {
  window.destroying = true;
  for (HWND child : window.children) {
    auto c = system.windows.find(child);
    if (c != system.windows.end()) MarkDestroying(system, *c->second);
  }
}

RECT ClientRect(const Window& window) {
  const RECT insets = NonClientInsets(window.style, window.exStyle);
  const LONG width = window.rect.right - window.rect.left - insets.left - insets.right;
  const LONG height = window.rect.bottom - window.rect.top - insets.top - insets.bottom;
  return RECT{0, 0, std::max<LONG>(width, 0), std::max<LONG>(height, 0)};
}

bool IsEmpty(const RECT& r) {
  return r.right <= r.left || r.bottom <= r.top;
}

bool IsDescendant(WindowSystem& system, HWND window, HWND ancestor) {
  while (window != nullptr) {
    if (window == ancestor) return true;
    auto w = system.windows.find(window);
    if (w == system.windows.end()) return false;
    window = w->second->parent;
  }
  return false;
}

}  // namespace

bool IsWindowOrDescendant(WindowSystem& system, HWND window, HWND ancestor) {
  return IsDescendant(system, window, ancestor);
}

RECT ClientRectOf(const Window& window) {
  return ClientRect(window);
}

WindowSystem& WindowSystem::Get() {
  // Never destroyed: windows may be torn down by static destructors and DllMain detach.
  static WindowSystem* system = new WindowSystem;
  return *system;
}

WindowSystem::WindowSystem() {
  struct SystemClass {
    const char* name;
    ATOM atom;
    WNDPROC procedure;
  };
  const SystemClass systemClasses[] = {
      {"#32770", kDialogClassAtom, DialogWindowProc},
      {"Button", 0xC001, ButtonWindowProc},
      {"Static", 0xC002, StaticWindowProc},
      {"Edit", 0xC003, EditWindowProc},
  };
  nextAtom = 0xC010;
  for (const SystemClass& s : systemClasses) {
    WNDCLASSA info{};
    info.lpfnWndProc = s.procedure;
    info.lpszClassName = s.name;
    AddClass(*this, info, s.atom, true);
  }
}

std::shared_ptr<Window> WindowSystem::Find(HWND window) {
  Lock lock(mutex);
  auto w = windows.find(window);
  if (w == windows.end()) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  return w->second;
}

RECT NonClientInsets(DWORD style, DWORD exStyle) {
  // Frame widths and caption height of the classic Windows look.
  LONG frame = 0;
  if (style & WS_THICKFRAME)
    frame = 4;
  else if ((style & WS_DLGFRAME) || (exStyle & WS_EX_DLGMODALFRAME))
    frame = 3;
  else if (style & WS_BORDER)
    frame = 1;
  const LONG caption = (style & WS_CAPTION) == WS_CAPTION ? 18 : 0;
  return RECT{frame, frame + caption, frame, frame};
}

}  // namespace brvst::platform

using namespace brvst::platform;

extern "C" {

ATOM WINAPI RegisterClassA(const WNDCLASSA* windowClass) {
  if (windowClass == nullptr || windowClass->lpszClassName == nullptr ||
      IS_INTRESOURCE(windowClass->lpszClassName) || windowClass->lpszClassName[0] == '\0') {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  WindowSystem& system = WindowSystem::Get();
  Lock lock(system.mutex);
  for (const auto& c : system.classes) {
    if (!c->system && c->instance == windowClass->hInstance &&
        SameName(c->name, windowClass->lpszClassName)) {
      SetLastError(ERROR_CLASS_ALREADY_EXISTS);
      return 0;
    }
  }
  return AddClass(system, *windowClass, system.nextAtom++, false)->atom;
}

BOOL WINAPI UnregisterClassA(LPCSTR className, HINSTANCE instance) {
  if (className == nullptr) {
    SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
    return FALSE;
  }
  WindowSystem& system = WindowSystem::Get();
  Lock lock(system.mutex);
  auto c = std::find_if(system.classes.begin(), system.classes.end(), [&](const auto& entry) {
    if (entry->system || entry->instance != instance) return false;
    return IS_INTRESOURCE(className)
               ? entry->atom == static_cast<ATOM>(reinterpret_cast<ULONG_PTR>(className))
               : SameName(entry->name, className);
  });
  if (c == system.classes.end()) {
    SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
    return FALSE;
  }
  for (const auto& [handle, window] : system.windows) {
    if (window->windowClass == *c) {
      SetLastError(ERROR_CLASS_HAS_WINDOWS);
      return FALSE;
    }
  }
  system.classes.erase(c);
  return TRUE;
}

BOOL WINAPI GetClassInfoA(HINSTANCE instance, LPCSTR className, WNDCLASSA* windowClass) {
  if (className == nullptr || windowClass == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  WindowSystem& system = WindowSystem::Get();
  Lock lock(system.mutex);
  auto c = FindClass(system, className, instance);
  if (c == nullptr) {
    SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
    return FALSE;
  }
  *windowClass = c->info;
  // Windows hands back the caller's own name pointer.
  windowClass->lpszClassName = className;
  return TRUE;
}

HWND WINAPI CreateWindowExA(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x,
                            int y, int width, int height, HWND parent, HMENU menu,
                            HINSTANCE instance, LPVOID param) {
  WindowSystem& system = WindowSystem::Get();
  auto window = std::make_shared<Window>();
  {
    Lock lock(system.mutex);
    if (className == nullptr) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return nullptr;
    }
    auto windowClass = FindClass(system, className, instance);
    if (windowClass == nullptr) {
      SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
      return nullptr;
    }
    if (parent != nullptr && system.windows.count(parent) == 0) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return nullptr;
    }
    if ((style & WS_CHILD) != 0 && parent == nullptr) {
      SetLastError(ERROR_TLW_WITH_WSCHILD);
      return nullptr;
    }
    window->handle = reinterpret_cast<HWND>(system.nextHandle);
    system.nextHandle += 4;
    window->windowClass = windowClass;
    window->procedure = windowClass->info.lpfnWndProc;
    window->style = style;
    window->exStyle = exStyle;
    window->instance = instance;
    window->thread = GetCurrentThreadId();
    if (style & WS_CHILD) {
      window->parent = parent;
      window->id = reinterpret_cast<LONG_PTR>(menu);
    } else if (parent != nullptr) {
      // The owner of a top-level window is the top-level ancestor of the window given.
      HWND owner = parent;
      for (auto w = system.windows.at(owner); w->parent != nullptr; w = system.windows.at(owner))
        owner = w->parent;
      window->owner = owner;
    }
    if (window->parent == nullptr) {
      if (x == CW_USEDEFAULT) x = y = 0;
      if (width == CW_USEDEFAULT) {
        width = kScreenWidth / 2;
        height = kScreenHeight / 2;
      }
    }
    window->rect = RECT{x, y, x + std::max(width, 0), y + std::max(height, 0)};
    if (windowClass->atom == kDialogClassAtom) window->dialog = std::make_unique<DialogState>();
    system.windows.emplace(window->handle, window);
    // A new child goes below its siblings, a new top-level window above the others.
    if (window->parent != nullptr)
      system.windows.at(parent)->children.push_back(window->handle);
    else
      system.topLevel.insert(system.topLevel.begin(), window->handle);
  }
  CREATESTRUCTA create{
      param,      instance,  menu,   parent, height, width, y, x, static_cast<LONG>(style),
      windowName, className, exStyle};
  if (!Call(window, WM_NCCREATE, 0, reinterpret_cast<LPARAM>(&create))) {
    Release(window);
    return nullptr;
  }
  // A window that refuses WM_CREATE is freed without WM_DESTROY, as Windows frees it.
  if (Call(window, WM_CREATE, 0, reinterpret_cast<LPARAM>(&create)) == -1) {
    Release(window);
    return nullptr;
  }
  // A window is drawn once it is there, as on Windows.
  InvalidateRect(window->handle, nullptr, TRUE);
  return window->handle;
}

BOOL WINAPI DestroyWindow(HWND handle) {
  WindowSystem& system = WindowSystem::Get();
  auto window = system.Find(handle);
  if (window == nullptr) return FALSE;
  std::vector<HWND> owned;
  {
    Lock lock(system.mutex);
    if (window->destroying) return TRUE;  // asked again while the destruction is under way
    MarkDestroying(system, *window);
    for (const auto& [h, w] : system.windows)
      if (w->owner == handle) owned.push_back(h);
  }
  // Owned windows go first, as on Windows.
  for (HWND h : owned) DestroyWindow(h);
  SendDestroy(window);
  Release(window);
  return TRUE;
}

BOOL WINAPI IsWindow(HWND window) {
  WindowSystem& system = WindowSystem::Get();
  Lock lock(system.mutex);
  return system.windows.count(window) != 0 ? TRUE : FALSE;
}

HWND WINAPI GetParent(HWND handle) {
  auto window = WindowSystem::Get().Find(handle);
  if (window == nullptr) return nullptr;
  // A child's parent, or the owner of a popup; other top-level windows have none.
  if (window->style & WS_CHILD) return window->parent;
  if (window->style & WS_POPUP) return window->owner;
  return nullptr;
}

HWND WINAPI GetWindow(HWND handle, UINT command) {
  WindowSystem& system = WindowSystem::Get();
  Lock lock(system.mutex);
  auto window = system.Find(handle);
  if (window == nullptr) return nullptr;
  if (command == GW_CHILD) return window->children.empty() ? nullptr : window->children.front();
  if (command == GW_OWNER) return window->owner;
  const auto& siblings = Siblings(system, *window);
  auto self = std::find(siblings.begin(), siblings.end(), handle);
  switch (command) {
    case GW_HWNDFIRST:
      return siblings.front();
    case GW_HWNDLAST:
      return siblings.back();
    case GW_HWNDNEXT:
      return self + 1 < siblings.end() ? *(self + 1) : nullptr;
    case GW_HWNDPREV:
      return self != siblings.begin() ? *(self - 1) : nullptr;
    default:
      SetLastError(ERROR_INVALID_PARAMETER);
      return nullptr;
  }
}

int WINAPI GetDlgCtrlID(HWND handle) {
  auto window = WindowSystem::Get().Find(handle);
  return window != nullptr ? static_cast<int>(window->id) : 0;
}

int WINAPI GetClassNameA(HWND handle, LPSTR className, int size) {
  auto window = WindowSystem::Get().Find(handle);
  if (window == nullptr || className == nullptr || size <= 0) return 0;
  const std::string& name = window->windowClass->name;
  const size_t length = std::min(name.size(), static_cast<size_t>(size - 1));
  std::memcpy(className, name.data(), length);
  className[length] = '\0';
  return static_cast<int>(length);
}

BOOL WINAPI SetWindowTextA(HWND window, LPCSTR text) {
  if (!IsWindow(window)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  return static_cast<BOOL>(SendMessageA(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text)));
}

int WINAPI GetWindowTextA(HWND window, LPSTR text, int size) {
  if (text == nullptr || size <= 0) return 0;
  text[0] = '\0';
  if (!IsWindow(window)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return 0;
  }
  return static_cast<int>(
      SendMessageA(window, WM_GETTEXT, static_cast<WPARAM>(size), reinterpret_cast<LPARAM>(text)));
}

LRESULT WINAPI SendMessageA(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
  auto window = WindowSystem::Get().Find(handle);
  if (window == nullptr) return 0;
  return Call(window, message, wParam, lParam);
}

BOOL WINAPI PostMessageA(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
  WindowSystem& system = WindowSystem::Get();
  Lock lock(system.mutex);
  DWORD thread = GetCurrentThreadId();
  if (handle != nullptr) {
    auto window = system.Find(handle);
    if (window == nullptr) return FALSE;
    thread = window->thread;
  }
  system.queues[thread].push_back(MSG{handle, message, wParam, lParam, GetTickCount(), {}});
  return TRUE;
}

BOOL WINAPI PeekMessageA(LPMSG msg, HWND window, UINT filterMin, UINT filterMax,
                         UINT removeMessage) {
  if (msg == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  WindowSystem& system = WindowSystem::Get();
  Lock lock(system.mutex);
  auto& queue = system.queues[GetCurrentThreadId()];
  const HWND threadOnly = reinterpret_cast<HWND>(-1);
  for (auto m = queue.begin(); m != queue.end(); ++m) {
    if (window == threadOnly ? m->hwnd != nullptr
                             : window != nullptr && !IsDescendant(system, m->hwnd, window))
      continue;
    if ((filterMin != 0 || filterMax != 0) && (m->message < filterMin || m->message > filterMax))
      continue;
    *msg = *m;
    if (removeMessage & PM_REMOVE) queue.erase(m);
    return TRUE;
  }
  return SynthesizedMessage(system, *msg, window, filterMin, filterMax,
                            (removeMessage & PM_REMOVE) != 0)
             ? TRUE
             : FALSE;
}

LRESULT WINAPI DispatchMessageA(const MSG* msg) {
  if (msg == nullptr) return 0;
  // A timer with a procedure calls it instead of the window's.
  if (msg->message == WM_TIMER && msg->lParam != 0) {
    reinterpret_cast<TIMERPROC>(msg->lParam)(msg->hwnd, WM_TIMER, msg->wParam, GetTickCount());
    return 0;
  }
  if (msg->hwnd == nullptr) return 0;
  return SendMessageA(msg->hwnd, msg->message, msg->wParam, msg->lParam);
}

LRESULT WINAPI DefWindowProcA(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
  WindowSystem& system = WindowSystem::Get();
  auto window = system.Find(handle);
  if (window == nullptr) return 0;
  switch (message) {
    case WM_NCCREATE: {
      const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
      if (create != nullptr && create->lpszName != nullptr && !IS_INTRESOURCE(create->lpszName)) {
        Lock lock(system.mutex);
        window->text = create->lpszName;
      }
      return TRUE;
    }
    case WM_SETTEXT: {
      Lock lock(system.mutex);
      window->text = lParam != 0 ? reinterpret_cast<const char*>(lParam) : "";
      return TRUE;
    }
    case WM_GETTEXT: {
      if (wParam == 0 || lParam == 0) return 0;
      Lock lock(system.mutex);
      const size_t length = std::min(window->text.size(), static_cast<size_t>(wParam) - 1);
      char* out = reinterpret_cast<char*>(lParam);
      std::memcpy(out, window->text.data(), length);
      out[length] = '\0';
      return static_cast<LRESULT>(length);
    }
    case WM_GETTEXTLENGTH: {
      Lock lock(system.mutex);
      return static_cast<LRESULT>(window->text.size());
    }
    case WM_CLOSE:
      DestroyWindow(handle);
      return 0;
    case WM_PAINT:
      // What BeginPaint and EndPaint would do: the window counts as drawn.
      ValidateRect(handle, nullptr);
      return 0;
    default:
      return 0;
  }
}

LONG_PTR WINAPI SetWindowLongPtrA(HWND handle, int index, LONG_PTR value) {
  WindowSystem& system = WindowSystem::Get();
  Lock lock(system.mutex);
  auto window = system.Find(handle);
  if (window == nullptr) return 0;
  auto exchange = [&](auto& field) {
    const LONG_PTR old = static_cast<LONG_PTR>(field);
    field = static_cast<std::remove_reference_t<decltype(field)>>(value);
    return old;
  };
  switch (index) {
    case GWLP_USERDATA:
      return exchange(window->userData);
    case GWLP_ID:
      return exchange(window->id);
    case GWL_STYLE:
      return exchange(window->style);
    case GWL_EXSTYLE:
      return exchange(window->exStyle);
    case GWLP_WNDPROC: {
      const LONG_PTR old = reinterpret_cast<LONG_PTR>(window->procedure);
      window->procedure = reinterpret_cast<WNDPROC>(value);
      return old;
    }
    case GWLP_HINSTANCE: {
      const LONG_PTR old = reinterpret_cast<LONG_PTR>(window->instance);
      window->instance = reinterpret_cast<HINSTANCE>(value);
      return old;
    }
    default:
      break;
  }
  if (window->dialog != nullptr) {
    DialogState& dialog = *window->dialog;
    switch (index) {
      case DWLP_MSGRESULT:
        return exchange(dialog.messageResult);
      case DWLP_USER:
        return exchange(dialog.user);
      case DWLP_DLGPROC: {
        const LONG_PTR old = reinterpret_cast<LONG_PTR>(dialog.procedure);
        dialog.procedure = reinterpret_cast<DLGPROC>(value);
        return old;
      }
      default:
        break;
    }
  }
  SetLastError(ERROR_INVALID_INDEX);
  return 0;
}

LONG_PTR WINAPI GetWindowLongPtrA(HWND handle, int index) {
  WindowSystem& system = WindowSystem::Get();
  Lock lock(system.mutex);
  auto window = system.Find(handle);
  if (window == nullptr) return 0;
  switch (index) {
    case GWLP_USERDATA:
      return window->userData;
    case GWLP_ID:
      return window->id;
    case GWL_STYLE:
      return static_cast<LONG_PTR>(window->style);
    case GWL_EXSTYLE:
      return static_cast<LONG_PTR>(window->exStyle);
    case GWLP_WNDPROC:
      return reinterpret_cast<LONG_PTR>(window->procedure);
    case GWLP_HINSTANCE:
      return reinterpret_cast<LONG_PTR>(window->instance);
    case GWLP_HWNDPARENT:
      return reinterpret_cast<LONG_PTR>(window->parent != nullptr ? window->parent : window->owner);
    default:
      break;
  }
  if (window->dialog != nullptr) {
    switch (index) {
      case DWLP_MSGRESULT:
        return window->dialog->messageResult;
      case DWLP_USER:
        return window->dialog->user;
      case DWLP_DLGPROC:
        return reinterpret_cast<LONG_PTR>(window->dialog->procedure);
      default:
        break;
    }
  }
  SetLastError(ERROR_INVALID_INDEX);
  return 0;
}

BOOL WINAPI GetClientRect(HWND handle, LPRECT rect) {
  if (rect == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  WindowSystem& system = WindowSystem::Get();
  Lock lock(system.mutex);
  auto window = system.Find(handle);
  if (window == nullptr) return FALSE;
  *rect = ClientRect(*window);
  return TRUE;
}

BOOL WINAPI InvalidateRect(HWND handle, const RECT* rect, BOOL erase) {
  // A null window stands for the whole screen, which has nothing of ours to redraw.
  if (handle == nullptr) return TRUE;
  WindowSystem& system = WindowSystem::Get();
  Lock lock(system.mutex);
  auto window = system.Find(handle);
  if (window == nullptr) return FALSE;
  const RECT client = ClientRect(*window);
  RECT r = rect != nullptr ? *rect : client;
  r = RECT{std::max(r.left, client.left), std::max(r.top, client.top),
           std::min(r.right, client.right), std::min(r.bottom, client.bottom)};
  if (IsEmpty(r)) return TRUE;
  if (window->updatePending) {
    const RECT& u = window->update;
    r = RECT{std::min(r.left, u.left), std::min(r.top, u.top), std::max(r.right, u.right),
             std::max(r.bottom, u.bottom)};
  }
  window->update = r;
  window->updatePending = true;
  if (erase) window->updateErase = true;
  return TRUE;
}

BOOL WINAPI ValidateRect(HWND handle, const RECT* rect) {
  if (handle == nullptr) return TRUE;
  WindowSystem& system = WindowSystem::Get();
  Lock lock(system.mutex);
  auto window = system.Find(handle);
  if (window == nullptr) return FALSE;
  // The invalid part is kept as one rectangle: it is cleared when the valid one covers it.
  const RECT& u = window->update;
  if (rect == nullptr || (rect->left <= u.left && rect->top <= u.top && rect->right >= u.right &&
                          rect->bottom >= u.bottom)) {
    window->updatePending = false;
    window->updateErase = false;
    window->update = RECT{};
  }
  return TRUE;
}

BOOL WINAPI GetUpdateRect(HWND handle, LPRECT rect, BOOL) {
  WindowSystem& system = WindowSystem::Get();
  Lock lock(system.mutex);
  auto window = system.Find(handle);
  if (window == nullptr) return FALSE;
  if (rect != nullptr) *rect = window->updatePending ? window->update : RECT{};
  return window->updatePending ? TRUE : FALSE;
}

BOOL WINAPI SetWindowPos(HWND handle, HWND insertAfter, int x, int y, int width, int height,
                         UINT flags) {
  WindowSystem& system = WindowSystem::Get();
  bool resized = false;
  RECT client{};
  {
    Lock lock(system.mutex);
    auto window = system.Find(handle);
    if (window == nullptr) return FALSE;
    RECT& r = window->rect;
    const LONG oldWidth = r.right - r.left;
    const LONG oldHeight = r.bottom - r.top;
    if ((flags & SWP_NOMOVE) == 0) {
      r.right = x + oldWidth;
      r.bottom = y + oldHeight;
      r.left = x;
      r.top = y;
    }
    if ((flags & SWP_NOSIZE) == 0) {
      r.right = r.left + std::max(width, 0);
      r.bottom = r.top + std::max(height, 0);
      resized = r.right - r.left != oldWidth || r.bottom - r.top != oldHeight;
    }
    // Without SWP_NOZORDER the window goes to the top of its siblings (HWND_TOP); other
    // insert-after handles are not needed by the adapter.
    if ((flags & SWP_NOZORDER) == 0 && insertAfter == nullptr) {
      std::vector<HWND>& siblings =
          window->parent != nullptr ? system.Find(window->parent)->children : system.topLevel;
      std::erase(siblings, handle);
      siblings.insert(siblings.begin(), handle);
    }
    client = ClientRect(*window);
  }
  // What DefWindowProc makes of WM_WINDOWPOSCHANGED: the new client size, drawn afresh.
  if (resized) InvalidateRect(handle, nullptr, TRUE);
  if (resized)
    SendMessageA(handle, WM_SIZE, 0,
                 MAKELPARAM(client.right - client.left, client.bottom - client.top));
  return TRUE;
}

namespace {

// Where the client area's origin of `window` lies on the screen.
POINT ClientOrigin(WindowSystem& system, const Window& window) {
  const RECT insets = NonClientInsets(window.style, window.exStyle);
  POINT origin{window.rect.left + insets.left, window.rect.top + insets.top};
  if (window.parent != nullptr)
    if (auto parent = system.Find(window.parent)) {
      const POINT base = ClientOrigin(system, *parent);
      origin.x += base.x;
      origin.y += base.y;
    }
  return origin;
}

}  // namespace

BOOL WINAPI GetWindowRect(HWND handle, LPRECT rect) {
  if (rect == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  WindowSystem& system = WindowSystem::Get();
  Lock lock(system.mutex);
  auto window = system.Find(handle);
  if (window == nullptr) return FALSE;
  POINT base{0, 0};
  if (window->parent != nullptr)
    if (auto parent = system.Find(window->parent)) base = ClientOrigin(system, *parent);
  *rect = RECT{window->rect.left + base.x, window->rect.top + base.y, window->rect.right + base.x,
               window->rect.bottom + base.y};
  return TRUE;
}

int WINAPI MapWindowPoints(HWND from, HWND to, LPPOINT points, UINT count) {
  WindowSystem& system = WindowSystem::Get();
  Lock lock(system.mutex);
  // A null window stands for the screen.
  POINT fromOrigin{0, 0};
  POINT toOrigin{0, 0};
  if (from != nullptr) {
    auto window = system.Find(from);
    if (window == nullptr) return 0;
    fromOrigin = ClientOrigin(system, *window);
  }
  if (to != nullptr) {
    auto window = system.Find(to);
    if (window == nullptr) return 0;
    toOrigin = ClientOrigin(system, *window);
  }
  const LONG dx = fromOrigin.x - toOrigin.x;
  const LONG dy = fromOrigin.y - toOrigin.y;
  for (UINT i = 0; points != nullptr && i < count; ++i) {
    points[i].x += dx;
    points[i].y += dy;
  }
  SetLastError(ERROR_SUCCESS);
  return static_cast<int>(MAKELONG(static_cast<WORD>(dx), static_cast<WORD>(dy)));
}

}  // extern "C"
