// Standard MIDI files (format 0 and 1) for the renderer: the notes with their durations, the
// other channel messages and the tempo changes, all in ticks, merged from every track.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace brvst::render {

struct MidiTempo {
  int64_t tick = 0;
  uint32_t microsecondsPerQuarter = 500000;  // 120 beats per minute until the first change
};

struct MidiEvent {
  int64_t tick = 0;
  uint8_t status = 0;  // a channel message's status byte: type in the high nibble, channel low
  uint8_t data1 = 0;
  uint8_t data2 = 0;
  int64_t durationTicks = 0;  // notes (0x9n) only: up to the matching note-off
};

struct MidiSong {
  int ticksPerQuarter = 0;
  std::vector<MidiTempo> tempos;  // by tick; 120 beats per minute before the first
  std::vector<MidiEvent> events;  // by tick; notes, controllers, programs, pressure, pitch wheel
  int64_t endTick = 0;            // the last event's end, a note's release included

  // Microseconds from the start of the song to `tick`, through the tempo changes.
  int64_t MicrosecondsAt(int64_t tick) const;
};

// Reads the file at `path`. False, with the reason in one line in `error` (without the path),
// for a file that is not a standard MIDI file of format 0 or 1, is cut short inside a chunk or
// an event, or counts time in SMPTE frames. A note still sounding at the end of its track ends
// there.
bool ReadMidiFile(const std::string& path, MidiSong& song, std::string& error);

// The same from bytes in memory.
bool ParseMidi(const std::vector<uint8_t>& bytes, MidiSong& song, std::string& error);

}  // namespace brvst::render
