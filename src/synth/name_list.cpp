#include "synth/name_list.h"

#include "dshow/unknown.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <string>

namespace brvst {
namespace {

// At most `size` bytes of the text, always terminated within them. A buffer of no bytes is left
// alone: there is no last byte to terminate.
void CopyCut(const std::string& text, char* buffer, LONG size) {
  if (size < 1) return;
  const size_t room = static_cast<size_t>(size);
  const size_t copied = std::min(text.size() + 1, room);
  std::memcpy(buffer, text.c_str(), copied);
  buffer[room - 1] = '\0';
}

// Positions handed to the host are entry indices plus one, so that null stays "none".
void* PositionOf(int32_t index) {
  return reinterpret_cast<void*>(static_cast<uintptr_t>(static_cast<uint32_t>(index)) + 1);
}

int64_t IndexAt(void* position) {
  return static_cast<int64_t>(reinterpret_cast<uintptr_t>(position)) - 1;
}

}  // namespace

NameList::NameList(const char* name, int32_t count) : count_(count) {
  if (name != nullptr) std::strncpy(name_, name, kMaxNameLength);
}

void NameList::SetEntry(int32_t index, const char* text) {
  if (index < 0 || index >= count_) return;
  entries_.insert_or_assign(index, std::string(text != nullptr ? text : ""));
}

STDMETHODIMP NameList::QueryInterface(REFIID riid, void** ppv) {
  CheckPointer(ppv, E_POINTER);
  if (riid == IID_INameList || riid == IID_INameListLegacy || riid == IID_IUnknown)
    return GetInterface(static_cast<INameList*>(this), ppv);
  *ppv = nullptr;
  return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) NameList::AddRef() {
  return static_cast<ULONG>(++refs_);
}

STDMETHODIMP_(ULONG) NameList::Release() {
  const LONG refs = --refs_;
  if (refs == 0) delete this;
  return static_cast<ULONG>(refs);
}

STDMETHODIMP NameList::GetName(char* buffer, LONG size) {
  CheckPointer(buffer, E_POINTER);
  const size_t length = std::strlen(name_);
  // A name that does not fit whole is not handed out at all.
  if (size < 1 || length >= static_cast<size_t>(size)) return S_OK;
  std::memcpy(buffer, name_, length + 1);
  return S_OK;
}

STDMETHODIMP NameList::GetCount(LONG* count) {
  CheckPointer(count, E_POINTER);
  *count = count_;
  return S_OK;
}

STDMETHODIMP NameList::GetEntryName(LONG index, char* buffer, LONG size) {
  CheckPointer(buffer, E_POINTER);
  if (index < 0 || index >= count_) return E_INVALIDARG;
  const auto it = entries_.find(index);
  CopyCut(it != entries_.end() ? it->second : std::string(), buffer, size);
  return S_OK;
}

STDMETHODIMP NameList::GetEntryCount(LONG* count) {
  CheckPointer(count, E_POINTER);
  *count = static_cast<LONG>(entries_.size());
  return S_OK;
}

STDMETHODIMP NameList::GetFirstPosition(void** position) {
  CheckPointer(position, E_POINTER);
  *position = entries_.empty() ? nullptr : PositionOf(entries_.begin()->first);
  return S_OK;
}

STDMETHODIMP NameList::GetNextEntry(void** position, LONG* index, char* buffer, LONG size) {
  CheckPointer(position, E_POINTER);
  CheckPointer(buffer, E_POINTER);
  if (*position == nullptr) return S_FALSE;
  // The entry at the position or, should the host hand in one of its own making, the next one.
  const int64_t at = IndexAt(*position);
  if (at > INT32_MAX) return S_FALSE;
  const auto it = entries_.lower_bound(static_cast<int32_t>(std::max<int64_t>(at, 0)));
  if (it == entries_.end()) return S_FALSE;
  if (index != nullptr) *index = it->first;
  CopyCut(it->second, buffer, size);
  const auto next = std::next(it);
  *position = next == entries_.end() ? PositionOf(it->first + 1) : PositionOf(next->first);
  return S_OK;
}

STDMETHODIMP NameList::FindEntry(LONG index, char* buffer, LONG size) {
  const auto it = entries_.find(index);
  if (it == entries_.end()) return S_FALSE;
  if (buffer != nullptr) CopyCut(it->second, buffer, size);
  return S_OK;
}

void ProgramBankList::Rebuild(int32_t programs,
                              const std::function<void(int32_t, char*)>& nameOf) noexcept {
  const int32_t n = std::max(programs, 0);
  const int32_t bankCount = (n - 1) / kProgramsPerBank + 1;
  std::vector<ComPtr<NameList>> banks;
  try {
    banks.reserve(static_cast<size_t>(bankCount));
    for (int32_t b = 0; b < bankCount; ++b) {
      const int32_t entries = std::min(n - kProgramsPerBank * b, kProgramsPerBank);
      const std::string name = "bank " + std::to_string(b);
      ComPtr<NameList> list(new NameList(name.c_str(), entries));
      for (int32_t i = 0; i < entries; ++i) {
        char programName[64] = {};
        nameOf(kProgramsPerBank * b + i, programName);
        programName[sizeof programName - 1] = '\0';
        list->SetEntry(i, programName);
      }
      banks.push_back(std::move(list));
    }
  } catch (const std::bad_alloc&) {
    return;
  }
  {
    std::lock_guard<std::mutex> guard(lock_);
    banks_.swap(banks);
  }
  // The old lists go here, outside the lock; those a host still holds live on.
}

int32_t ProgramBankList::Count() const {
  std::lock_guard<std::mutex> guard(lock_);
  return static_cast<int32_t>(banks_.size());
}

ComPtr<NameList> ProgramBankList::Bank(int32_t bank) const {
  std::lock_guard<std::mutex> guard(lock_);
  if (bank < 0 || static_cast<size_t>(bank) >= banks_.size()) return {};
  return banks_[static_cast<size_t>(bank)];
}

}  // namespace brvst
