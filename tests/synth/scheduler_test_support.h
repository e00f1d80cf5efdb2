// Building host events and reading scheduler output, shared by the scheduler tests.
#pragma once

#include "synth/event_scheduler.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace brvst::test {

inline InputEvent HostEventOf(uint32_t type, int32_t time, uint8_t channel = 0,
                              uint32_t channelKey = 1) {
  InputEvent event{};
  event.time = time;
  event.type = type;
  event.channel = channel;
  event.channelKey = channelKey;
  return event;
}

// Writes a payload field at its offset into the InputEvent record (10 is the first data byte).
template <typename T>
InputEvent With(InputEvent event, std::size_t recordOffset, T value) {
  std::memcpy(reinterpret_cast<uint8_t*>(&event) + recordOffset, &value, sizeof(T));
  return event;
}

inline InputEvent Note(int32_t time, uint8_t key, uint8_t velocity, int32_t duration,
                       uint8_t channel = 0, uint32_t channelKey = 1) {
  InputEvent event = HostEventOf(kHostNote, time, channel, channelKey);
  event = With<uint8_t>(event, 10, key);
  event = With<uint8_t>(event, 11, velocity);
  return With<int32_t>(event, 13, duration);
}

inline InputEvent Controller(int32_t time, uint8_t number, uint8_t value, uint32_t key = 1) {
  return With<uint8_t>(With<uint8_t>(HostEventOf(kHostController, time, 0, key), 10, number), 11,
                       value);
}

inline InputEvent ParameterNumber(uint32_t type, int32_t time, uint16_t number, uint16_t value,
                                  uint8_t channel = 0) {
  return With<uint16_t>(With<uint16_t>(HostEventOf(type, time, channel), 10, number), 12, value);
}

inline InputEvent SetOffset(uint32_t type, int32_t time, int8_t value, uint32_t channelKey = 1) {
  InputEvent event = HostEventOf(type, time, 0, channelKey);
  event.value = value;
  return event;
}

inline OutputEvent Ready(int32_t sampleTime, uint8_t status, uint8_t data1, uint8_t data2 = 0) {
  return OutputEvent{kOutputMidi, sampleTime, 0x0000FFFF, {status, data1, data2, 0}, 0};
}

inline OutputEvent JumpMarker(int32_t sampleTime, int32_t newStart) {
  return OutputEvent{kOutputTimeJump, sampleTime, kMarkerChannelKey, {}, newStart};
}

// "time: kind/bytes": "5: 90 3C 64" for MIDI, "5: k3 00 07 01" for others, "+extra" if set.
inline std::string Describe(const OutputEvent& event) {
  char text[64];
  int length = std::snprintf(text, sizeof text, "%d: ", event.sampleTime);
  if (event.kind != kOutputMidi) length += std::snprintf(text + length, 8, "k%u ", event.kind);
  length += std::snprintf(text + length, sizeof text - length, "%02X %02X %02X", event.msg[0],
                          event.msg[1], event.msg[2]);
  if (event.extra != 0) std::snprintf(text + length, sizeof text - length, " +%d", event.extra);
  return text;
}

// Everything pending, fetched as the processing step does.
inline std::vector<std::string> Drain(EventScheduler& scheduler) {
  std::vector<std::string> drained;
  OutputEvent event;
  for (bool more = scheduler.PeekNext(event); more; more = scheduler.TakeNext(event)) {
    drained.push_back(Describe(event));
  }
  return drained;
}

}  // namespace brvst::test
