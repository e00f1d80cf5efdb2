// brvst-render: runs audio files through the adapter's filter as a DirectShow host would.
#include "tools/render/audio_file.h"
#include "tools/render/host_session.h"
#include "tools/render/load_diagnosis.h"
#include "tools/render/message_catcher.h"
#include "tools/render/panel_picture.h"
#include "tools/render/plugin_choice.h"
#include "tools/render/plugin_info.h"
#include "tools/render/progress.h"
#include "tools/render/render_job.h"

#include "filter/adapter_filter.h"
#include "vsthost/vst_plug_instance.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace brvst::render;

// The common convention: a failed render, and a command line that asks for nothing sensible.
constexpr int kFailed = 1;
constexpr int kUsage = 2;

int Fail(const std::string& message, int code = kFailed) {
  std::cerr << "brvst-render: " << message << '\n';
  return code;
}

// What the adapter showed the user (its message boxes and reports), as one clause.
std::string Shown(MessageCatcher& catcher) {
  std::string shown;
  for (const std::string& text : catcher.Take()) shown += (shown.empty() ? "" : "; ") + text;
  return shown;
}

// The one line for a plug-in that did not load: the cause the renderer finds, then what the
// adapter told its user.
int FailToLoad(const brvst::PluginRecord& record, brvst::AdapterFilter* filter,
               MessageCatcher& catcher) {
  std::string line = std::string(record.Name) + ": ";
  line += filter != nullptr && filter->Plugin ? LoadFailureCause(record.DllPath, *filter->Plugin)
                                              : "the adapter could not build its filter";
  const std::string shown = Shown(catcher);
  if (!shown.empty()) line += " (" + shown + ")";
  return Fail(line);
}

// OUTPUT-2.wav, OUTPUT-3.wav... beside OUTPUT.
std::string FurtherOutputName(const std::string& output, int pin) {
  const std::string suffix = "-" + std::to_string(pin) + ".wav";
  const size_t dot = output.rfind('.');
  const size_t separator = output.find_last_of("/\\");
  if (dot != std::string::npos && (separator == std::string::npos || dot > separator))
    return output.substr(0, dot) + suffix;
  return output + suffix;
}

int ShowInfo(brvst::PluginRecord& record) {
  MessageCatcher catcher;
  std::string error;
  auto filter = BuildFilter(record, error);
  if (!filter || filter->Plugin == nullptr || filter->Plugin->effect == nullptr)
    return FailToLoad(record, filter.get(), catcher);
  WritePluginInfo(record.Name, *filter->Plugin, std::cout);
  WriteInstrumentInfo(*filter, std::cout);
  return 0;
}

struct Job {
  std::string input, output;
  std::string format;
  int rate = 44100;  // of a render from a MIDI file alone
  RenderOptions options;
  SessionOptions session;
};

int RunRender(brvst::PluginRecord& record, const Job& job) {
  std::string error;
  MessageCatcher catcher;
  HostSession session(job.session, catcher);
  if (!session.Prepare(error)) return Fail(error);

  std::unique_ptr<AudioReader> reader;
  if (!job.input.empty()) {
    reader = AudioReader::Open(job.input, error);
    if (!reader) return Fail(job.input + ": " + error);
    if (reader->DeclaredFrames() > reader->Frames())
      std::cerr << "brvst-render: " << job.input
                << ": warning: the file is truncated: " << reader->Frames() << " of "
                << reader->DeclaredFrames() << " frames present; rendering those\n";
    if (reader->Channels() > 2)
      return Fail(job.input + ": it has " + std::to_string(reader->Channels()) +
                  " channels; the adapter takes mono or stereo");
    if (reader->Channels() == 1 && record.StereoOnly != 0)
      return Fail(std::string(record.Name) + " takes stereo only, and " + job.input + " is mono");
  }

  // The audio: the input, or silence for an instrument, and silence after the input for as long
  // as the notes go on.
  RenderInput input;
  input.sampleRate = reader ? reader->SampleRate() : job.rate;
  input.channels = reader ? reader->Channels() : 2;
  input.format = reader ? reader->StreamFormat() : SampleFormat::F32;
  const int64_t audioFrames = reader ? reader->Frames() : 0;
  input.frames = std::max(audioFrames, session.MidiFrames(input.sampleRate));
  if (input.frames == 0) return Fail(job.session.midiFile + ": the file holds no notes");
  int64_t readSoFar = 0;
  input.read = [&, frameBytes = input.channels * (input.format == SampleFormat::S16 ? 2 : 4)](
                   void* out, int64_t frames) -> int64_t {
    int64_t got = 0;
    if (reader && readSoFar < audioFrames) got = reader->Read(out, frames);
    if (got == 0 && readSoFar < input.frames) {
      got = std::min(frames, input.frames - readSoFar);
      std::memset(out, 0, static_cast<size_t>(got * frameBytes));
    }
    if (got > 0) readSoFar += got;
    return got;
  };

  SampleFormat format = reader ? reader->SourceFormat() : SampleFormat::F32;
  if (!job.format.empty())
    for (SampleFormat f :
         {SampleFormat::U8, SampleFormat::S16, SampleFormat::S24, SampleFormat::F32})
      if (job.format == FormatName(f)) format = f;
  const int64_t tailFrames = std::llround(job.options.tailSeconds * input.sampleRate);
  if (input.frames + tailFrames > WavWriter::MaxFrames(input.channels, format))
    return Fail(job.output + ": the output would pass the 4 GiB a WAV file can hold");

  std::error_code ignored;
  if (std::filesystem::is_directory(job.output, ignored))
    return Fail(job.output + ": it is a folder");

  auto filter = BuildFilter(record, error);
  if (!filter || filter->Plugin == nullptr || filter->Plugin->effect == nullptr)
    return FailToLoad(record, filter.get(), catcher);
  RenderOptions options = job.options;
  session.Install(options, input.sampleRate);

  std::vector<std::unique_ptr<WavWriter>> writers;
  std::string outputError;  // an output that could not be made: the file says why itself
  std::vector<std::string> names;
  const OpenOutput open = [&](int pin, int channels, std::string& reason) -> OutputWriter {
    const std::string name = pin == 0 ? job.output : FurtherOutputName(job.output, pin + 1);
    auto writer = WavWriter::Create(name, input.sampleRate, channels, format, reason);
    if (!writer) {
      outputError = name + ": " + reason;
      return {};
    }
    WavWriter* w = writer.get();
    writers.push_back(std::move(writer));
    names.push_back(name);
    return [w](const float* samples, int64_t frames) { return w->Write(samples, frames); };
  };

  RenderReport report;
  bool done = false;
  {
    auto progress = Progress::OnStderr("rendering", input.frames + tailFrames);
    done = Render(*filter, input, options, open, report, error,
                  [&](int64_t frames, int64_t) { progress.Update(frames); });
    progress.Finish();
  }
  if (!done) {
    // The most precise reason: the file that failed says why itself.
    error = outputError.empty() ? std::string(record.Name) + ": " + error : outputError;
    if (reader && !reader->Error().empty()) error = job.input + ": " + reader->Error();
    for (size_t k = 0; k < writers.size(); ++k)
      if (!writers[k]->Error().empty()) error = names[k] + ": " + writers[k]->Error();
    const std::string shown = Shown(catcher);
    if (!shown.empty()) error += " (" + shown + ")";
    return Fail(error);
  }
  if (!session.SaveFiles(*filter, error)) return Fail(error);
  // Closed first: the output may replace the input, and Windows renames no file still open.
  reader.reset();
  for (size_t k = 0; k < writers.size(); ++k)
    if (!writers[k]->Commit(error)) return Fail(names[k] + ": " + error);
  const std::string shown = Shown(catcher);
  if (!shown.empty()) std::cerr << "brvst-render: " << shown << '\n';
  return 0;
}

// A picture of the property page, after the files, program and parameters asked for.
int ShowPanel(brvst::PluginRecord& record, const Job& job, const std::string& picture) {
  MessageCatcher catcher;
  HostSession session(job.session, catcher);
  std::string error;
  if (!session.Prepare(error)) return Fail(error);
  auto filter = BuildFilter(record, error);
  if (!filter || filter->Plugin == nullptr || filter->Plugin->effect == nullptr)
    return FailToLoad(record, filter.get(), catcher);
  if (!session.Connected(*filter, error) || !WritePanelPicture(*filter, picture, error))
    return Fail(error);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "brvst-render: runs an audio file through a VST 2 plug-in inside the Brimley VST "
      "Adapter's DirectShow filter, exactly as a DirectShow host plays it, and writes the "
      "result as WAV."};
  app.footer(
      "Forms:\n"
      "  brvst-render [--plugin PATH] [--block FRAMES] [--format u8|s16|s24|f32]\n"
      "               [--tail SECONDS] [--no-latency-compensation] [--all-outputs]\n"
      "               [--midi FILE.mid [--rate HZ]] [--program N] [--param INDEX=VALUE]...\n"
      "               [--automation FILE] [--load-state F] [--load-fxb F] [--load-fxp F]\n"
      "               [--save-fxp F] [--save-fxb F] [--save-state F]\n"
      "               [INPUT] -o OUTPUT          (INPUT, --midi or both)\n"
      "  brvst-render --info [--plugin PATH]\n"
      "  brvst-render --panel FILE.png [--plugin PATH] [--program N] [--param INDEX=VALUE]...\n"
      "               [--load-state F] [--load-fxb F] [--load-fxp F]\n"
      "Exit status: 0 success, 1 a failed render, 2 a usage error.");
  bool info = false;
  std::string panel;
  bool noCompensation = false;
  std::string pluginPath;
  Job job;
  app.add_flag("--info", info,
               "Print what the plug-in offers: channels, latency, parameters, programs");
  app.add_option("--panel", panel,
                 CanWritePng()
                     ? "Writes the property page as a host shows it (the button strip, then the "
                       "generic parameter panel or the editor frame) to FILE.png"
                     : "Not in this build: it has no PNG library (the Linux build writes them)");
  app.add_option("--plugin", pluginPath,
                 "VST 2 plug-in to wrap (default: the adapter's own VID 84.dll)");
  app.add_option("--block", job.options.blockFrames, "Frames per media sample (default 1024)")
      ->check(CLI::Range(1, 1 << 20));
  app.add_option("--format", job.format,
                 "Sample format of OUTPUT (default: the input's when it is one of these, else "
                 "f32)")
      ->check(CLI::IsMember({"u8", "s16", "s24", "f32"}));
  app.add_option("--tail", job.options.tailSeconds,
                 "Seconds of silence fed after the input, for echoes and reverb tails")
      ->check(CLI::Range(0.0, 3600.0));
  app.add_flag("--no-latency-compensation", noCompensation,
               "Keep the plug-in's delay: do not drop its first initialDelay frames");
  app.add_flag("--all-outputs", job.options.allOutputs,
               "Also write the further output pins as OUTPUT-2.wav, OUTPUT-3.wav...");
  app.add_option("--midi", job.session.midiFile,
                 "Standard MIDI file (format 0 or 1) played through the plug-in as an instrument; "
                 "the render lasts until its last note ends, plus --tail (default 2 s with it)");
  app.add_option("--rate", job.rate, "Sample rate of a render from --midi alone (default 44100)")
      ->check(CLI::Range(8000, 768000));
  app.add_option("--program", job.session.program, "Program to select before rendering")
      ->check(CLI::NonNegativeNumber);
  std::vector<std::string> params;
  app.add_option("--param", params,
                 "INDEX=VALUE: sets parameter INDEX to VALUE (0 to 1) before rendering; repeatable")
      ->expected(1)
      ->allow_extra_args(false)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  app.add_option("--automation", job.session.automationFile,
                 "Text file of seconds,parameter,value lines: the parameter jumps to the value at "
                 "that time");
  app.add_option("--load-state", job.session.loadState,
                 "Saved state to load first, as a host project restores it");
  app.add_option("--load-fxb", job.session.loadFxb, "VST bank (FXB) to load before rendering");
  app.add_option("--load-fxp", job.session.loadFxp, "VST preset (FXP) to load before rendering");
  app.add_option("--save-fxp", job.session.saveFxp, "Saves the current program as FXP afterwards");
  app.add_option("--save-fxb", job.session.saveFxb, "Saves all programs as FXB afterwards");
  app.add_option("--save-state", job.session.saveState,
                 "Saves the filter's state afterwards, as a host project stores it");
  app.add_option("INPUT", job.input, "Audio file to render (WAV, AIFF, FLAC...)");
  app.add_option("-o,--output", job.output, "WAV file to write");
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    return Fail(std::string(e.what()) + " (see --help)", kUsage);
  }
  job.options.compensateLatency = !noCompensation;
  if (!job.session.midiFile.empty() && app.count("--tail") == 0) job.options.tailSeconds = 2.0;
  for (const std::string& param : params) {
    const size_t equals = param.find('=');
    size_t used = 0;
    int index = -1;
    float value = -1;
    try {
      index = std::stoi(param.substr(0, equals), &used);
      if (used != equals) index = -1;
      value = std::stof(param.substr(equals + 1), &used);
      if (used != param.size() - equals - 1) value = -1;
    } catch (const std::exception&) {
    }
    if (equals == std::string::npos || index < 0 || !(value >= 0.0f && value <= 1.0f))
      return Fail("--param " + param + ": give INDEX=VALUE, VALUE from 0 to 1 (see --help)",
                  kUsage);
    job.session.params.emplace_back(index, value);
  }

  if (info && !panel.empty()) return Fail("give --info or --panel, not both", kUsage);
  if ((info || !panel.empty()) && (!job.input.empty() || !job.output.empty()))
    return Fail(std::string(info ? "--info" : "--panel") + " takes no INPUT or OUTPUT (see --help)",
                kUsage);
  if (!panel.empty() && !CanWritePng())
    return Fail("--panel: this build writes no PNG files (it has no PNG library)", kUsage);
  if (!info && panel.empty() &&
      ((job.input.empty() && job.session.midiFile.empty()) || job.output.empty()))
    return Fail("give INPUT, --midi FILE or both, and -o OUTPUT (see --help)", kUsage);

  brvst::PluginRecord record;
  if (pluginPath.empty()) {
    if (!DefaultRecord(record))
      return Fail("the adapter has no plug-in record (is its folder path too long?)");
  } else if (!RecordForPath(pluginPath, record)) {
    return Fail(pluginPath + ": the path is too long for a plug-in record");
  }
  if (!panel.empty()) return ShowPanel(record, job, panel);
  return info ? ShowInfo(record) : RunRender(record, job);
}
