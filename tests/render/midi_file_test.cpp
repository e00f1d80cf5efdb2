// Standard MIDI files as the renderer reads them.
#include "tools/render/midi_file.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace brvst::test {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Chunk(const char* id, const Bytes& body) {
  Bytes out;
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(id[i]));
  const uint32_t n = static_cast<uint32_t>(body.size());
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(n >> shift));
  for (uint8_t b : body) out.push_back(b);
  return out;
}

Bytes Song(int format, int tracks, int division, const std::vector<Bytes>& bodies) {
  Bytes out = Chunk(
      "MThd", {0, uint8_t(format), 0, uint8_t(tracks), uint8_t(division >> 8), uint8_t(division)});
  for (const Bytes& body : bodies) {
    for (uint8_t b : Chunk("MTrk", body)) out.push_back(b);
  }
  return out;
}

// Two tracks of format 1: a tempo track, and notes with running status, a note-on of velocity
// 0 as note-off, the same key twice at once (first in, first out), a controller, a program, the
// pitch wheel, a system exclusive message and a note left sounding at the end of its track.
TEST(MidiFile, TracksMergeAndNotesGetTheirDurations) {
  const Bytes tempo = {0x00, 0xFF, 0x51, 0x03, 0x07, 0xA1, 0x20,        // 500000 us at 0
                       0x83, 0x60, 0xFF, 0x51, 0x03, 0x0F, 0x42, 0x40,  // 1000000 us at 480
                       0x00, 0xFF, 0x2F, 0x00};
  const Bytes notes = {0x00, 0x91, 60,   100,          // ch 2 key 60 on
                       0x00, 60,   90,                 // running status: the same key again
                       0x00, 0xF0, 0x02, 0x7E, 0xF7,   // sysex, skipped
                       0x60, 0x81, 60,   0,            // 96: the first 60 ends
                       0x60, 0x91, 60,   0,            // 192: the second ends (velocity 0)
                       0x00, 0xB1, 7,    99,           // controller
                       0x00, 0xC1, 5,                  // program
                       0x00, 0xE1, 0x00, 0x40,         // pitch wheel centre
                       0x10, 0x91, 64,   80,           // 208: left sounding
                       0x81, 0x00, 0xFF, 0x2F, 0x00};  // end at 336
  render::MidiSong song;
  std::string error;
  ASSERT_TRUE(render::ParseMidi(Song(1, 2, 96, {tempo, notes}), song, error)) << error;
  EXPECT_EQ(song.ticksPerQuarter, 96);
  ASSERT_EQ(song.events.size(), 6u);
  const std::vector<std::tuple<int64_t, int, int, int, int64_t>> want = {
      {0, 0x91, 60, 100, 96}, {0, 0x91, 60, 90, 192}, {192, 0xB1, 7, 99, 0},
      {192, 0xC1, 5, 0, 0},   {192, 0xE1, 0, 64, 0},  {208, 0x91, 64, 80, 128}};
  for (size_t i = 0; i < want.size(); ++i) {
    const auto& e = song.events[i];
    EXPECT_EQ(std::make_tuple(e.tick, int(e.status), int(e.data1), int(e.data2), e.durationTicks),
              want[i])
        << i;
  }
  EXPECT_EQ(song.endTick, 480);  // the tempo track ends last
  // 480 ticks at 500000 us a quarter of 96 ticks, then 96 ticks at twice that.
  EXPECT_EQ(song.MicrosecondsAt(480), 2500000);
  EXPECT_EQ(song.MicrosecondsAt(576), 3500000);
}

TEST(MidiFile, DamagedFilesAreRefusedWithTheReason) {
  const Bytes good = {0x00, 0x90, 60, 100, 0x10, 0x80, 60, 0, 0x00, 0xFF, 0x2F, 0x00};
  Bytes cutChunk = Song(0, 1, 96, {good});
  cutChunk.resize(cutChunk.size() - 3);
  const struct {
    Bytes bytes;
    const char* says;
  } kCases[] = {
      {{'R', 'I', 'F', 'F', 0, 0, 0, 6, 0, 0, 0, 1, 0, 96}, "not a standard MIDI file"},
      {Song(2, 1, 96, {good}), "format 2"},
      {Song(0, 1, 0xE728, {good}), "SMPTE"},
      {cutChunk, "past the end"},
      {Song(1, 2, 96, {good}), "1 of its 2 tracks"},
      {Song(0, 1, 96, {{0x00, 0x90, 60}}), "cut off"},
      {Song(0, 1, 96, {{0xFF, 0xFF, 0xFF, 0xFF, 0x7F}}), "too long"},
      {Song(0, 1, 96, {{0x00, 60, 100}}), "without a status"},
      {Song(0, 1, 96, {{0x00, 0xFF, 0x51, 0x09, 0x07}}), "meta event is cut off"},
  };
  for (const auto& c : kCases) {
    render::MidiSong song;
    std::string error;
    EXPECT_FALSE(render::ParseMidi(c.bytes, song, error)) << c.says;
    EXPECT_NE(error.find(c.says), std::string::npos) << error;
  }
}

}  // namespace
}  // namespace brvst::test
