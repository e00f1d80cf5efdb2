// The module loader over the dynamic linker. A module handle is the dlopen handle of a shared
// object, which glibc makes the object's link map: one handle per object, however often it is
// opened, as on Windows.
#include "platform/posix/modules.h"

#include "platform/module_check.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace brvst::platform {
namespace {

link_map* MainMap() {
  static link_map* const main = [] {
    void* handle = dlopen(nullptr, RTLD_NOW);
    link_map* map = nullptr;
    if (handle != nullptr) dlinfo(handle, RTLD_DI_LINKMAP, &map);
    return map;
  }();
  return main;
}

// Calls `visit` for every loaded object while the loader's lock is held, so that no object can
// be unloaded under it; stops at the first visit that answers true.
template <class Visit>
void ForEachModule(Visit&& visit) {
  // The main map is found first: dlopen inside the walk would wait for the lock the walk holds.
  struct Walk {
    Visit* visit;
    link_map* main;
  } walk{&visit, MainMap()};
  dl_iterate_phdr(
      [](dl_phdr_info*, size_t, void* data) -> int {
        auto* w = static_cast<Walk*>(data);
        for (link_map* map = w->main; map != nullptr; map = map->l_next)
          if ((*w->visit)(map)) break;
        return 1;  // one pass over the chain is enough
      },
      &walk);
}

const char* BaseName(const char* path) {
  const char* slash = std::strrchr(path, '/');
  return slash != nullptr ? slash + 1 : path;
}

// True when `path` names an existing file that is not an ELF object of this machine's class.
bool IsForeignFile(const char* path) {
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  unsigned char ident[EI_NIDENT] = {};
  const ssize_t got = read(fd, ident, sizeof ident);
  close(fd);
  constexpr unsigned char kClass = sizeof(void*) == 8 ? ELFCLASS64 : ELFCLASS32;
  return got != static_cast<ssize_t>(sizeof ident) || std::memcmp(ident, ELFMAG, SELFMAG) != 0 ||
         ident[EI_CLASS] != kClass;
}

bool FileExists(const char* path) {
  struct stat info {};
  return stat(path, &info) == 0;
}

}  // namespace

std::string AbsolutePath(const char* path) {
  if (path[0] == '/') return path;
  char cwd[4096];
  if (getcwd(cwd, sizeof cwd) == nullptr) return path;
  std::string absolute = cwd;
  // "./x" is the usual relative form; keep the result free of that dot.
  if (path[0] == '.' && path[1] == '/') path += 2;
  absolute += '/';
  absolute += path;
  return absolute;
}

link_map* FindModule(HMODULE module) {
  if (module == nullptr) return MainMap();
  link_map* found = nullptr;
  ForEachModule([&](link_map* map) {
    if (reinterpret_cast<HMODULE>(map) != module) return false;
    found = map;
    return true;
  });
  return found;
}

bool ModuleOwns(link_map* module, const void* address) {
  Dl_info info{};
  link_map* owner = nullptr;
  if (dladdr1(address, &info, reinterpret_cast<void**>(&owner), RTLD_DL_LINKMAP) == 0) return false;
  return owner == module;
}

void* FindModuleSymbol(link_map* module, const char* name) {
  // dlsym also searches the object's dependencies (and, for the main program, every global
  // object); Windows finds only the module's own exports.
  void* symbol = dlsym(module, name);
  if (symbol == nullptr || !ModuleOwns(module, symbol)) return nullptr;
  return symbol;
}

std::string ModuleFileName(link_map* module) {
  if (module == MainMap() || module->l_name == nullptr || module->l_name[0] == '\0') {
    char path[4096];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) return {};
    return std::string(path, static_cast<size_t>(length));
  }
  return AbsolutePath(module->l_name);
}

}  // namespace brvst::platform

using namespace brvst::platform;

extern "C" {

HMODULE WINAPI LoadLibraryA(LPCSTR fileName) {
  if (fileName == nullptr || fileName[0] == '\0') {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  // A relative path with a folder is resolved now, so that the module's file name stays right
  // when the working folder changes later.
  const bool hasFolder = std::strchr(fileName, '/') != nullptr;
  const std::string path = hasFolder ? AbsolutePath(fileName) : std::string(fileName);
  // A loaded module gains a reference, as on Windows, and needs no check.
  if (void* loaded = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD))
    return static_cast<HMODULE>(loaded);
  // A fault in a module's static constructors happens inside the dynamic linker, where it either
  // ends the process or, trapped, leaves the linker's lock held for good. Windows's loader
  // contains it and fails the load; so do we, from a helper process's attempt. A name without a
  // folder is a library on the linker's search path, not a plug-in: it is loaded unchecked.
  if (hasFolder && CheckModuleLoads(path.c_str()).verdict == ModuleLoad::InitFails) {
    SetLastError(ERROR_DLL_INIT_FAILED);
    return nullptr;
  }
  // Loaded even when the helper could not load it: the failure (a missing dependency, a foreign
  // file) comes before any of the module's code runs, and this process may supply what the
  // helper lacked.
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    SetLastError(hasFolder && FileExists(path.c_str()) && IsForeignFile(path.c_str())
                     ? ERROR_BAD_EXE_FORMAT
                     : ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  return static_cast<HMODULE>(handle);
}

BOOL WINAPI FreeLibrary(HMODULE module) {
  // dlclose of a handle that is no module would corrupt the loader: check it first.
  if (module == nullptr || FindModule(module) == nullptr) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return FALSE;
  }
  return dlclose(module) == 0 ? TRUE : FALSE;
}

FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR procName) {
  link_map* map = module != nullptr ? FindModule(module) : nullptr;
  if (map == nullptr) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  // Shared objects export by name only: the export with ordinal N is the one named
  // "BrvstOrdinal_N".
  char ordinalName[32];
  if (IS_INTRESOURCE(procName)) {
    std::snprintf(ordinalName, sizeof ordinalName, "BrvstOrdinal_%u",
                  static_cast<unsigned>(reinterpret_cast<uintptr_t>(procName)));
    procName = ordinalName;
  }
  void* symbol = FindModuleSymbol(map, procName);
  if (symbol == nullptr) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  return reinterpret_cast<FARPROC>(symbol);
}

DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR fileName, DWORD size) {
  link_map* map = FindModule(module);
  if (map == nullptr) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return 0;
  }
  const std::string path = ModuleFileName(map);
  if (size == 0 || fileName == nullptr) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  // As Windows since Vista: a name that does not fit is cut to size - 1 characters, terminated,
  // and the full size is returned with ERROR_INSUFFICIENT_BUFFER.
  if (path.size() >= size) {
    std::memcpy(fileName, path.data(), size - 1);
    fileName[size - 1] = '\0';
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
  }
  std::memcpy(fileName, path.c_str(), path.size() + 1);
  return static_cast<DWORD>(path.size());
}

HMODULE WINAPI GetModuleHandleA(LPCSTR moduleName) {
  if (moduleName == nullptr) return reinterpret_cast<HMODULE>(MainMap());
  // A name with a folder must match the whole path; a bare name matches the file name of any
  // loaded object, without regard to case, as on Windows.
  const bool wholePath = std::strchr(moduleName, '/') != nullptr;
  const std::string wanted = wholePath ? AbsolutePath(moduleName) : std::string(moduleName);
  link_map* found = nullptr;
  ForEachModule([&](link_map* map) {
    if (map->l_name == nullptr || map->l_name[0] == '\0') return false;
    const bool same = wholePath ? AbsolutePath(map->l_name) == wanted
                                : strcasecmp(BaseName(map->l_name), wanted.c_str()) == 0;
    if (same) found = map;
    return same;
  });
  if (found == nullptr) SetLastError(ERROR_MOD_NOT_FOUND);
  return reinterpret_cast<HMODULE>(found);
}

}  // extern "C"
