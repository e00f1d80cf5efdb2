// NameList: the indexed names the filter hands to hosts (program banks, parameter names), and the
// filter's program banks, which hosts read while another thread may rebuild them.
#pragma once

#include "dshow/com_ptr.h"
#include "synth/synth_interfaces.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace brvst {

/// A reference-counted INameList. Its count starts at 0; the last Release deletes it.
class NameList final : public INameList {
 public:
  static constexpr size_t kMaxNameLength = 255;

  /// `name` is cut to kMaxNameLength characters; `count` is the number of entries it declares.
  NameList(const char* name, int32_t count);

  /// Replaces the entry's text; an index outside 0..count-1 is ignored. May throw std::bad_alloc.
  void SetEntry(int32_t index, const char* text);

  STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;

  STDMETHODIMP GetName(char* buffer, LONG size) override;
  STDMETHODIMP GetCount(LONG* count) override;
  STDMETHODIMP GetEntryName(LONG index, char* buffer, LONG size) override;
  STDMETHODIMP GetEntryCount(LONG* count) override;
  STDMETHODIMP GetFirstPosition(void** position) override;
  STDMETHODIMP GetNextEntry(void** position, LONG* index, char* buffer, LONG size) override;
  STDMETHODIMP FindEntry(LONG index, char* buffer, LONG size) override;

 private:
  ~NameList() = default;

  std::atomic<LONG> refs_{0};
  char name_[kMaxNameLength + 1] = {};
  const int32_t count_;
  std::map<int32_t, std::string> entries_;
};

/// The filter's program names in banks of 128, as hosts ask for them.
///
/// A rebuild makes the new lists first and swaps them in under a lock of its own, so a reader on
/// another thread sees either the old banks or the new ones, never an array being freed. Readers
/// get a reference of their own: a list handed out outlives any later rebuild.
class ProgramBankList {
 public:
  static constexpr int32_t kProgramsPerBank = 128;

  /// `nameOf(program, out)` writes the program's name (at most 63 characters) into 64 bytes.
  /// A negative count is taken as 0, which still gives one, empty, bank. When memory runs out
  /// the old banks stay.
  void Rebuild(int32_t programs, const std::function<void(int32_t, char*)>& nameOf) noexcept;

  int32_t Count() const;
  /// The bank's list with a reference of the caller's; empty for a bank outside 0..Count()-1.
  ComPtr<NameList> Bank(int32_t bank) const;

 private:
  mutable std::mutex lock_;
  std::vector<ComPtr<NameList>> banks_;
};

}  // namespace brvst
