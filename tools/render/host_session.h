// What the renderer does as a host around the audio: a MIDI file played through the filter's
// instrument interface, the program, parameters and their automation, preset, bank and saved-
// state files. Every step goes through the interface a DirectShow host uses for it.
#pragma once

#include "tools/render/midi_file.h"
#include "tools/render/render_job.h"

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace brvst::render {

class MessageCatcher;

struct SessionOptions {
  std::string midiFile;
  std::optional<int> program;
  std::vector<std::pair<int, float>> params;  // index, value, through IMediaParams::SetParam
  std::string automationFile;                 // lines of seconds,parameter,value
  std::string loadState, loadFxb, loadFxp;    // applied in this order, before the program
  std::string saveFxp, saveFxb, saveState;    // written after the render
};

// One automation point as a file gives it.
struct AutomationPoint {
  double seconds;
  int param;
  float value;
};

// Lines of "seconds,parameter,value" ('#' starts a comment; blank lines are skipped). False with
// the reason and line number in `error`.
bool ParseAutomation(const std::string& text, std::vector<AutomationPoint>& points,
                     std::string& error);

class HostSession {
 public:
  HostSession(SessionOptions options, MessageCatcher& catcher);

  // Reads the MIDI and automation files before any plug-in is loaded, so that their faults are
  // said first. False with one line in `error`, naming the file.
  bool Prepare(std::string& error);
  bool HasMidi() const { return !options_.midiFile.empty(); }
  // Frames the MIDI file lasts at `sampleRate`, its last note's release included.
  int64_t MidiFrames(int sampleRate) const;

  // Sets the hooks that do the host's work during a render at `sampleRate`.
  void Install(RenderOptions& options, int sampleRate);
  // Writes the files asked for after the render. False with one line in `error`.
  bool SaveFiles(AdapterFilter& filter, std::string& error);
  // Loads the state, bank and preset files and sets the program, parameters and automation, as
  // when the filter connects; also before a picture of the page. False with one line in `error`.
  bool Connected(AdapterFilter& filter, std::string& error);

 private:
  bool Running(AdapterFilter& filter, std::string& error);
  bool BeforeBlock(AdapterFilter& filter, int64_t start, int64_t frames, std::string& error);
  bool Finished(AdapterFilter& filter, std::string& error);
  // What the adapter showed while a file was read: its message boxes mean the file was refused.
  bool Refused(const std::string& file, std::string& error);

  SessionOptions options_;
  MessageCatcher& catcher_;
  MidiSong song_;
  std::vector<AutomationPoint> automation_;
  size_t nextEvent_ = 0;
  int sampleRate_ = 0;
  struct Synth;
  std::shared_ptr<Synth> synth_;
};

}  // namespace brvst::render
