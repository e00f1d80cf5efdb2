// Finding a module's resource table, and the Windows resource functions over it.
#include "platform/posix/resources.h"

#include "platform/posix/modules.h"

#include <cstdlib>

namespace brvst::platform {
namespace {

const ResourceTable* ModuleTable(HMODULE module) {
  link_map* map = FindModule(module);
  if (map == nullptr) return nullptr;
  const auto* table =
      static_cast<const ResourceTable*>(FindModuleSymbol(map, kResourceTableSymbol));
  if (table == nullptr || table->version != kResourceTableVersion) return nullptr;
  return table;
}

// The numeric id a resource name stands for; 0 for a name that is no id.
unsigned ResourceId(LPCSTR name) {
  if (name == nullptr) return 0;
  if (IS_INTRESOURCE(name)) return static_cast<unsigned>(reinterpret_cast<ULONG_PTR>(name));
  if (name[0] != '#') return 0;
  char* end = nullptr;
  const unsigned long id = std::strtoul(name + 1, &end, 10);
  return *end == '\0' && id <= 0xFFFF ? static_cast<unsigned>(id) : 0;
}

template <class Entry>
const Entry* FindEntry(const ResourceTable* table, const Entry* list, LPCSTR name, DWORD& error) {
  if (table == nullptr) {
    error = ERROR_RESOURCE_DATA_NOT_FOUND;
    return nullptr;
  }
  if (list == nullptr || list->id == 0) {
    error = ERROR_RESOURCE_TYPE_NOT_FOUND;
    return nullptr;
  }
  const unsigned id = ResourceId(name);
  for (const Entry* entry = list; id != 0 && entry->id != 0; ++entry)
    if (entry->id == id) return entry;
  error = ERROR_RESOURCE_NAME_NOT_FOUND;
  return nullptr;
}

}  // namespace

const DialogTemplate* FindDialogTemplate(HMODULE module, LPCSTR name, DWORD& error) {
  const ResourceTable* table = ModuleTable(module);
  return FindEntry(table, table != nullptr ? table->dialogs : nullptr, name, error);
}

const BitmapTemplate* FindBitmapTemplate(HMODULE module, LPCSTR name, DWORD& error) {
  const ResourceTable* table = ModuleTable(module);
  return FindEntry(table, table != nullptr ? table->bitmaps : nullptr, name, error);
}

}  // namespace brvst::platform

using namespace brvst::platform;

extern "C" {

// Bitmaps are kept as Windows keeps them, so they can be read as raw resources too. Dialogs are
// tables of controls rather than binary templates: a request for RT_DIALOG finds nothing.
HRSRC WINAPI FindResourceA(HMODULE module, LPCSTR name, LPCSTR type) {
  DWORD error = ERROR_RESOURCE_TYPE_NOT_FOUND;
  const BitmapTemplate* bitmap =
      type == RT_BITMAP ? FindBitmapTemplate(module, name, error) : nullptr;
  if (bitmap == nullptr) SetLastError(error);
  return reinterpret_cast<HRSRC>(const_cast<BitmapTemplate*>(bitmap));
}

HGLOBAL WINAPI LoadResource(HMODULE, HRSRC resource) {
  if (resource == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  return const_cast<uint8_t*>(reinterpret_cast<const BitmapTemplate*>(resource)->dib);
}

LPVOID WINAPI LockResource(HGLOBAL resourceData) {
  return resourceData;
}

DWORD WINAPI SizeofResource(HMODULE, HRSRC resource) {
  if (resource == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
  }
  return static_cast<DWORD>(reinterpret_cast<const BitmapTemplate*>(resource)->size);
}

}  // extern "C"
