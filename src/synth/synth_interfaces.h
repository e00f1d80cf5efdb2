// The private interfaces of the host's soft-synth protocol that the filter answers, and the name
// lists it hands out through them. Hosts call them by slot position, so each declaration fixes
// the order of its methods.
#pragma once

#include "platform/platform.h"

#include <cstdint>

namespace brvst {

// {5BBDF239-3046-4DAA-8ADD-3B9373545B74}
inline constexpr IID IID_ISynthInstrument = {
    0x5BBDF239, 0x3046, 0x4DAA, {0x8A, 0xDD, 0x3B, 0x93, 0x73, 0x54, 0x5B, 0x74}};
// {753B2366-6CD2-4E61-999B-9128FCDB7BCD}
inline constexpr IID IID_IChannelSettings = {
    0x753B2366, 0x6CD2, 0x4E61, {0x99, 0x9B, 0x91, 0x28, 0xFC, 0xDB, 0x7B, 0xCD}};
// {BADA6CF9-77A5-4F48-B6FA-66154E4B163B}
inline constexpr IID IID_INameList = {
    0xBADA6CF9, 0x77A5, 0x4F48, {0xB6, 0xFA, 0x66, 0x15, 0x4E, 0x4B, 0x16, 0x3B}};
// {857F3281-02A9-11D2-A8E0-0000A0090B97}: the same list under the protocol's older identity.
inline constexpr IID IID_INameListLegacy = {
    0x857F3281, 0x02A9, 0x11D2, {0xA8, 0xE0, 0x00, 0x00, 0xA0, 0x09, 0x0B, 0x97}};

struct IHostEventList;
struct IHostMessageList;

// Indexed names handed to the host: the programs of one bank, or the parameters. Buffers are
// 8-bit text, sizes in bytes.
struct INameList : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetName(char* buffer, LONG size) = 0;
  // The number of entries the list declares.
  virtual HRESULT STDMETHODCALLTYPE GetCount(LONG* count) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetEntryName(LONG index, char* buffer, LONG size) = 0;
  // The number of entries actually present.
  virtual HRESULT STDMETHODCALLTYPE GetEntryCount(LONG* count) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetFirstPosition(void** position) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetNextEntry(void** position, LONG* index, char* buffer,
                                                 LONG size) = 0;
  virtual HRESULT STDMETHODCALLTYPE FindEntry(LONG index, char* buffer, LONG size) = 0;
};

// How the host plays the filter as an instrument.
struct ISynthInstrument : public IUnknown {
  // Takes the host's tempo map and time converter from `host`.
  virtual HRESULT STDMETHODCALLTYPE Connect(IUnknown* host) = 0;
  virtual HRESULT STDMETHODCALLTYPE Disconnect() = 0;
  virtual HRESULT STDMETHODCALLTYPE OnStart(LONG startTime) = 0;
  // At event time `jumpTime` the timeline continues at `newTime` (a loop).
  virtual HRESULT STDMETHODCALLTYPE OnTimeJump(LONG newTime, LONG jumpTime) = 0;
  virtual HRESULT STDMETHODCALLTYPE OnStop(LONG time) = 0;
  virtual HRESULT STDMETHODCALLTYPE ProcessEvents(DWORD unused1, DWORD unused2, DWORD channelKey,
                                                  IHostEventList* list) = 0;
  virtual HRESULT STDMETHODCALLTYPE ProcessMidiMessages(DWORD channelKey,
                                                        IHostMessageList* list) = 0;
  // An array of the bank numbers, from CoTaskMemAlloc (the caller frees it).
  virtual HRESULT STDMETHODCALLTYPE GetBankNumbers(LONG** banks, LONG* count) = 0;
  virtual HRESULT STDMETHODCALLTYPE QueryPatchFlag(LONG bank, LONG patch) = 0;
  virtual HRESULT STDMETHODCALLTYPE ValidatePatch(LONG bank, LONG patch) = 0;
  // An INameList of the bank's program names, with a reference of the caller's.
  virtual HRESULT STDMETHODCALLTYPE GetBankNames(LONG bank, void** nameList) = 0;
  virtual HRESULT STDMETHODCALLTYPE Unsupported1(DWORD a, DWORD b, DWORD c) = 0;
  virtual HRESULT STDMETHODCALLTYPE Unsupported2(DWORD a) = 0;
  virtual HRESULT STDMETHODCALLTYPE Unsupported3(DWORD a) = 0;
  // An INameList of the parameter names, with a reference of the caller's.
  virtual HRESULT STDMETHODCALLTYPE GetNrpnNames(void** nameList) = 0;
};

// Kinds of ChannelSetting.
inline constexpr int32_t kChannelMuteBits = 1;
inline constexpr int32_t kChannelVelocityOffsetA = 2;
inline constexpr int32_t kChannelVelocityOffsetB = 3;
inline constexpr int32_t kChannelKeyOffsetA = 4;
inline constexpr int32_t kChannelKeyOffsetB = 5;

#pragma pack(push, 1)
struct ChannelSetting {
  int32_t kind;
  uint32_t channelKey;
  uint8_t value;      // mute bits to set, or a signed offset
  uint8_t clearBits;  // mute bits to clear
};
#pragma pack(pop)
static_assert(sizeof(ChannelSetting) == 10);

// Per-source settings.
struct IChannelSettings : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE SetChannelSetting(const ChannelSetting* setting) = 0;
};

}  // namespace brvst
