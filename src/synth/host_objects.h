// Objects of the host's soft-synth protocol that the adapter calls. They live in the host; the
// adapter knows them by interface id and calls their methods by position, so each declaration
// fixes the slot order and nothing more. Methods the adapter never calls are placeholders that
// keep the slots of the ones it does call in place.
#pragma once

#include "platform/platform.h"

#include <cstdint>

namespace brvst {

// {FF76F7C3-F166-11D1-A8E0-0000A0090DAF}
inline constexpr IID IID_IHostTempoMap = {
    0xFF76F7C3, 0xF166, 0x11D1, {0xA8, 0xE0, 0x00, 0x00, 0xA0, 0x09, 0x0D, 0xAF}};
// {FF94ABA0-4DF9-4120-947D-5E303E49B81F}
inline constexpr IID IID_IHostTimeConverter = {
    0xFF94ABA0, 0x4DF9, 0x4120, {0x94, 0x7D, 0x5E, 0x30, 0x3E, 0x49, 0xB8, 0x1F}};

// The host's tempo map: event times, musical ticks and tempo.
struct IHostTempoMap : public IUnknown {
  // Milliseconds at an event time: serves the conversion of event times to samples.
  virtual LONG STDMETHODCALLTYPE MsFromEventTime(LONG eventTime) = 0;
  virtual LONG STDMETHODCALLTYPE TicksFromMs(LONG ms) = 0;
  virtual LONG STDMETHODCALLTYPE TicksPerQuarter() = 0;
  virtual LONG STDMETHODCALLTYPE TempoEntryAt(LONG ticks) = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved5() = 0;
  // The tempo entry's first value (unused) and its tempo in hundredths of a beat per minute.
  virtual HRESULT STDMETHODCALLTYPE GetTempoEntry(LONG entry, LONG* first, LONG* tempo100) = 0;
};

// Time formats of HostTimeRecord.
inline constexpr uint32_t kHostTimeSamples = 2;
inline constexpr uint32_t kHostTimeEventTime = 3;

struct HostTimeRecord {
  uint32_t format;
  uint32_t reserved;
  int64_t value;
};
static_assert(sizeof(HostTimeRecord) == 16);

// Converts a time record between formats, in place.
struct IHostTimeConverter : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE ConvertTime(HostTimeRecord* record, uint32_t targetFormat) = 0;
};

// The first 17 bytes of the host's event record; the rest of it is the host's.
#pragma pack(push, 1)
struct HostEvent {
  int32_t time;
  int8_t value;
  uint8_t channel;
  uint32_t type;
  uint8_t data[7];
};
#pragma pack(pop)
static_assert(sizeof(HostEvent) == 17);

// A MIDI short message at an event time: status in the lowest byte, then data 1 and data 2.
struct HostMessage {
  int32_t time;
  uint32_t message;
};

// A list of host events handed to ISynthInstrument::ProcessEvents.
struct IHostEventList : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Reserved1() = 0;
  virtual HRESULT STDMETHODCALLTYPE GetCount(LONG* count) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetAt(LONG index, HostEvent* event) = 0;
};

// A list of MIDI short messages handed to ISynthInstrument::ProcessMidiMessages.
struct IHostMessageList : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Reserved1() = 0;
  virtual HRESULT STDMETHODCALLTYPE GetCount(LONG* count) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetAt(LONG index, HostMessage* message) = 0;
};

// The host's parameter-edit object: edit gestures begin, change any number of times, and end,
// for one parameter at a time. The adapter ignores the results.
struct IHostParamEdit : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE BeginParamEdit(LONG* indices, LONG count) = 0;
  virtual HRESULT STDMETHODCALLTYPE ParamEdited(LONG* indices, LONG count, float* values) = 0;
  virtual HRESULT STDMETHODCALLTYPE EndParamEdit(LONG* indices, LONG count) = 0;
};

}  // namespace brvst
