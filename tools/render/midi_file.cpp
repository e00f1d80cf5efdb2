#include "tools/render/midi_file.h"

#include <algorithm>
#include <deque>
#include <fstream>
#include <map>

namespace brvst::render {
namespace {

// A bounds-checked cursor over one chunk: every read past its end fails the whole file.
class Reader {
 public:
  Reader(const uint8_t* begin, const uint8_t* end) : p_(begin), end_(end) {}
  bool AtEnd() const { return p_ >= end_; }
  size_t Left() const { return static_cast<size_t>(end_ - p_); }
  bool Byte(uint8_t& value) {
    if (AtEnd()) return false;
    value = *p_++;
    return true;
  }
  bool Peek(uint8_t& value) const {
    if (AtEnd()) return false;
    value = *p_;
    return true;
  }
  bool BigEndian(int bytes, uint32_t& value) {
    if (Left() < static_cast<size_t>(bytes)) return false;
    value = 0;
    for (int i = 0; i < bytes; ++i) value = value << 8 | *p_++;
    return true;
  }
  // A variable-length quantity: at most four bytes, 28 bits.
  bool Vlq(uint32_t& value) {
    value = 0;
    for (int i = 0; i < 4; ++i) {
      uint8_t b;
      if (!Byte(b)) return false;
      value = value << 7 | (b & 0x7F);
      if ((b & 0x80) == 0) return true;
    }
    return false;
  }
  bool Skip(size_t bytes) {
    if (Left() < bytes) return false;
    p_ += bytes;
    return true;
  }
  const uint8_t* Position() const { return p_; }

 private:
  const uint8_t* p_;
  const uint8_t* end_;
};

int DataBytes(uint8_t status) {
  switch (status & 0xF0) {
    case 0xC0:
    case 0xD0:
      return 1;
    default:
      return 2;
  }
}

// One track's events into `song`; notes are paired with their note-offs first in, first out.
bool ReadTrack(Reader track, int index, MidiSong& song, std::string& error) {
  const std::string where = "track " + std::to_string(index + 1) + ": ";
  int64_t tick = 0;
  uint8_t running = 0;
  std::map<int, std::deque<size_t>> sounding;  // channel << 7 | key -> indices of open notes
  auto endNote = [&](int key, int64_t at) {
    auto found = sounding.find(key);
    if (found == sounding.end() || found->second.empty()) return;  // a stray note-off
    MidiEvent& note = song.events[found->second.front()];
    note.durationTicks = at - note.tick;
    found->second.pop_front();
  };
  while (!track.AtEnd()) {
    uint32_t delta;
    if (!track.Vlq(delta)) {
      error = where + "an event's time is cut off or too long";
      return false;
    }
    tick += delta;
    uint8_t status;
    if (!track.Peek(status)) {
      error = where + "cut off after an event's time";
      return false;
    }
    if (status & 0x80) {
      track.Byte(status);
    } else if (running != 0) {
      status = running;  // running status: the byte read next is data
    } else {
      error = where + "data without a status byte";
      return false;
    }
    if (status == 0xFF) {  // a meta event
      uint8_t type;
      uint32_t length;
      if (!track.Byte(type) || !track.Vlq(length) || track.Left() < length) {
        error = where + "a meta event is cut off";
        return false;
      }
      if (type == 0x51 && length == 3) {
        uint32_t tempo = 0;
        track.BigEndian(3, tempo);
        if (tempo > 0) song.tempos.push_back({tick, tempo});
      } else {
        track.Skip(length);
        if (type == 0x2F) break;  // end of track
      }
      continue;
    }
    if (status == 0xF0 || status == 0xF7) {  // system exclusive: not for the plug-in here
      uint32_t length;
      if (!track.Vlq(length) || !track.Skip(length)) {
        error = where + "a system exclusive message is cut off";
        return false;
      }
      running = 0;
      continue;
    }
    if (status >= 0xF0) {
      error = where + "a system message that has no place in a file";
      return false;
    }
    running = status;
    uint8_t data[2] = {};
    for (int i = 0; i < DataBytes(status); ++i) {
      if (!track.Byte(data[i]) || (data[i] & 0x80) != 0) {
        error = where + "a channel message is cut off";
        return false;
      }
    }
    const int type = status & 0xF0;
    const int key = (status & 0x0F) << 7 | data[0];
    if (type == 0x80 || (type == 0x90 && data[1] == 0)) {
      endNote(key, tick);
      continue;
    }
    if (type == 0x90) sounding[key].push_back(song.events.size());
    song.events.push_back({tick, status, data[0], data[1], 0});
  }
  for (auto& [key, open] : sounding)
    while (!open.empty()) endNote(key, tick);
  song.endTick = std::max(song.endTick, tick);
  return true;
}

}  // namespace

int64_t MidiSong::MicrosecondsAt(int64_t tick) const {
  if (ticksPerQuarter <= 0) return 0;
  int64_t us = 0, from = 0;
  uint32_t tempo = 500000;
  for (const MidiTempo& change : tempos) {
    if (change.tick >= tick) break;
    us += (change.tick - from) * tempo / ticksPerQuarter;
    from = change.tick;
    tempo = change.microsecondsPerQuarter;
  }
  return us + (tick - from) * tempo / ticksPerQuarter;
}

bool ParseMidi(const std::vector<uint8_t>& bytes, MidiSong& song, std::string& error) {
  Reader file(bytes.data(), bytes.data() + bytes.size());
  uint32_t magic = 0, length = 0, format = 0, tracks = 0, division = 0;
  if (!file.BigEndian(4, magic) || magic != 0x4D546864 /* MThd */ || !file.BigEndian(4, length) ||
      length < 6 || file.Left() < length) {
    error = "not a standard MIDI file";
    return false;
  }
  Reader header(file.Position(), file.Position() + length);
  file.Skip(length);
  header.BigEndian(2, format);
  header.BigEndian(2, tracks);
  header.BigEndian(2, division);
  if (format > 1) {
    error = "a MIDI file of format " + std::to_string(format) + " (formats 0 and 1 play)";
    return false;
  }
  if ((division & 0x8000) != 0 || division == 0) {
    error = "time counted in SMPTE frames or not at all (only ticks per quarter note play)";
    return false;
  }
  MidiSong out;
  out.ticksPerQuarter = static_cast<int>(division);
  int index = 0;
  while (!file.AtEnd() && index < static_cast<int>(tracks)) {
    uint32_t id;
    if (!file.BigEndian(4, id) || !file.BigEndian(4, length)) {
      error = "a chunk header is cut off";
      return false;
    }
    if (file.Left() < length) {
      error = "a chunk runs past the end of the file";
      return false;
    }
    Reader chunk(file.Position(), file.Position() + length);
    file.Skip(length);
    if (id != 0x4D54726B /* MTrk */) continue;  // chunks of other kinds are skipped
    if (!ReadTrack(chunk, index++, out, error)) return false;
  }
  if (index < static_cast<int>(tracks)) {
    error = "the file ends after " + std::to_string(index) + " of its " + std::to_string(tracks) +
            " tracks";
    return false;
  }
  // Tracks merge by time; events of equal time keep their track's order.
  std::stable_sort(out.events.begin(), out.events.end(),
                   [](const MidiEvent& a, const MidiEvent& b) { return a.tick < b.tick; });
  std::stable_sort(out.tempos.begin(), out.tempos.end(),
                   [](const MidiTempo& a, const MidiTempo& b) { return a.tick < b.tick; });
  for (const MidiEvent& e : out.events)
    out.endTick = std::max(out.endTick, e.tick + e.durationTicks);
  song = std::move(out);
  return true;
}

bool ReadMidiFile(const std::string& path, MidiSong& song, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot open the file";
    return false;
  }
  // Standard MIDI files are small; a cap keeps a wrong file from taking all memory.
  constexpr std::streamoff kMaxBytes = 64 << 20;
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  if (size < 0 || size > kMaxBytes) {
    error = "not a standard MIDI file (over 64 MiB)";
    return false;
  }
  in.seekg(0);
  std::vector<uint8_t> bytes(static_cast<size_t>(size));
  if (!in.read(reinterpret_cast<char*>(bytes.data()), size)) {
    error = "read error";
    return false;
  }
  return ParseMidi(bytes, song, error);
}

}  // namespace brvst::render
