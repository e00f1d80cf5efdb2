// brvst-render: runs audio files through the adapter's filter as a DirectShow host would.
#include "tools/render/audio_file.h"
#include "tools/render/filter_source.h"
#include "tools/render/host_session.h"
#include "tools/render/load_diagnosis.h"
#include "tools/render/message_catcher.h"
#include "tools/render/panel_picture.h"
#include "tools/render/plugin_choice.h"
#include "tools/render/plugin_info.h"
#include "tools/render/progress.h"
#include "tools/render/render_job.h"
#include "tools/render/system_graph.h"

#include "filter/adapter_filter.h"
#include "vsthost/vst_plug_instance.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
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
               MessageCatcher& catcher, const std::string& error) {
  std::string line = std::string(record.Name) + ": ";
  line += filter != nullptr && filter->Plugin ? LoadFailureCause(record.DllPath, *filter->Plugin)
          : error.empty()                     ? "the adapter could not build its filter"
                                              : error;
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

// Makes the filter for a record, as the command line chose; may replace the record with the one
// the filter was made from.
using FilterMaker =
    std::function<brvst::ComPtr<brvst::AdapterFilter>(brvst::PluginRecord&, std::string&)>;

int ShowInfo(brvst::PluginRecord& record, const FilterMaker& make) {
  MessageCatcher catcher;
  std::string error;
  auto filter = make(record, error);
  if (!filter || filter->Plugin == nullptr || filter->Plugin->effect == nullptr)
    return FailToLoad(record, filter.get(), catcher, error);
  WritePluginInfo(record.Name, *filter->Plugin, std::cout);
  WriteInstrumentInfo(*filter, std::cout);
  return 0;
}

// The input file, opened and checked against the record; null with one line in `error`.
std::unique_ptr<AudioReader> OpenInput(const brvst::PluginRecord& record, const std::string& input,
                                       std::string& error) {
  auto reader = AudioReader::Open(input, error);
  if (!reader) {
    error = input + ": " + error;
    return nullptr;
  }
  if (reader->DeclaredFrames() > reader->Frames())
    std::cerr << "brvst-render: " << input
              << ": warning: the file is truncated: " << reader->Frames() << " of "
              << reader->DeclaredFrames() << " frames present; rendering those\n";
  if (reader->Channels() > 2)
    error = input + ": it has " + std::to_string(reader->Channels()) +
            " channels; the adapter takes mono or stereo";
  else if (reader->Channels() == 1 && record.StereoOnly != 0)
    error = std::string(record.Name) + " takes stereo only, and " + input + " is mono";
  else
    return reader;
  return nullptr;
}

struct Job {
  std::string input, output;
  std::string format;
  int rate = 44100;  // of a render from a MIDI file alone
  RenderOptions options;
  SessionOptions session;
};

// --format, else the input's own format.
SampleFormat OutputFormat(const Job& job, SampleFormat source) {
  for (SampleFormat f : {SampleFormat::U8, SampleFormat::S16, SampleFormat::S24, SampleFormat::F32})
    if (job.format == FormatName(f)) return f;
  return source;
}

// Whether `output` can take `frames` frames: a WAV file holds 4 GiB, and a folder is no file.
bool OutputFits(const std::string& output, int channels, SampleFormat format, int64_t frames,
                std::string& error) {
  std::error_code ignored;
  if (frames > WavWriter::MaxFrames(channels, format))
    error = output + ": the output would pass the 4 GiB a WAV file can hold";
  else if (std::filesystem::is_directory(output, ignored))
    error = output + ": it is a folder";
  else
    return true;
  return false;
}

int RunRender(brvst::PluginRecord& record, const Job& job, const FilterMaker& make) {
  std::string error;
  MessageCatcher catcher;
  HostSession session(job.session, catcher);
  if (!session.Prepare(error)) return Fail(error);

  std::unique_ptr<AudioReader> reader;
  if (!job.input.empty() && !(reader = OpenInput(record, job.input, error))) return Fail(error);

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

  const SampleFormat format =
      OutputFormat(job, reader ? reader->SourceFormat() : SampleFormat::F32);
  const int64_t tailFrames = std::llround(job.options.tailSeconds * input.sampleRate);
  if (!OutputFits(job.output, input.channels, format, input.frames + tailFrames, error))
    return Fail(error);

  auto filter = make(record, error);
  if (!filter || filter->Plugin == nullptr || filter->Plugin->effect == nullptr)
    return FailToLoad(record, filter.get(), catcher, error);
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

// INPUT played by the system's own DirectShow runtime: its file source and WAVE parser feed the
// filter, and what the filter delivers is written as the renderer's own graph writes it.
int RunSystemGraph(brvst::PluginRecord& record, const Job& job, const FilterMaker& make) {
  std::string error;
  MessageCatcher catcher;
  HostSession session(job.session, catcher);
  if (!session.Prepare(error)) return Fail(error);
  auto reader = OpenInput(record, job.input, error);
  if (!reader) return Fail(error);
  // The parser hands the filter the file's own samples, and the filter takes only these two.
  const SampleFormat source = reader->SourceFormat();
  if (source != SampleFormat::S16 && source != SampleFormat::F32)
    return Fail(job.input + ": --system-graph takes 16-bit PCM or 32-bit float files, not " +
                FormatName(source));
  SystemGraphJob graph;
  graph.inputPath = job.input;
  graph.sampleRate = reader->SampleRate();
  graph.channels = reader->Channels();
  graph.frames = reader->Frames();
  reader.reset();  // the system's file source reads it from here on
  const SampleFormat format = OutputFormat(job, source);
  if (!OutputFits(job.output, graph.channels, format, graph.frames, error)) return Fail(error);

  auto filter = make(record, error);
  if (!filter || filter->Plugin == nullptr || filter->Plugin->effect == nullptr)
    return FailToLoad(record, filter.get(), catcher, error);
  auto writer = WavWriter::Create(job.output, graph.sampleRate, graph.channels, format, error);
  if (!writer) return Fail(job.output + ": " + error);
  graph.connected = [&](std::string& e) { return session.Connected(*filter, e); };
  graph.write = [&](const float* samples, int64_t frames) {
    return writer->Write(samples, frames);
  };
  bool done = false;
  {
    auto progress = Progress::OnStderr("rendering", graph.frames);
    graph.progress = [&](int64_t frames, int64_t) { progress.Update(frames); };
    done = RenderInSystemGraph(filter.get(), graph, error);
    progress.Finish();
  }
  if (!done) {
    if (!writer->Error().empty()) return Fail(job.output + ": " + writer->Error());
    const std::string shown = Shown(catcher);
    return Fail(std::string(record.Name) + ": " + error +
                (shown.empty() ? "" : " (" + shown + ")"));
  }
  // The system's graph feeds the file alone: no silence after it to push the delay out.
  const int32_t delay = filter->Plugin->effect->initialDelay;
  if (delay > 0 && job.options.compensateLatency)
    std::cerr << "brvst-render: " << record.Name << ": warning: the system's graph keeps the "
              << "plug-in's delay of " << delay << " frames\n";
  if (!session.SaveFiles(*filter, error)) return Fail(error);
  if (!writer->Commit(error)) return Fail(job.output + ": " + error);
  const std::string shown = Shown(catcher);
  if (!shown.empty()) std::cerr << "brvst-render: " << shown << '\n';
  return 0;
}

// A picture of the property page, after the files, program and parameters asked for.
int ShowPanel(brvst::PluginRecord& record, const Job& job, const std::string& picture,
              const FilterMaker& make) {
  MessageCatcher catcher;
  HostSession session(job.session, catcher);
  std::string error;
  if (!session.Prepare(error)) return Fail(error);
  auto filter = make(record, error);
  if (!filter || filter->Plugin == nullptr || filter->Plugin->effect == nullptr)
    return FailToLoad(record, filter.get(), catcher, error);
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
      "  brvst-render [--plugin PATH | --clsid {X}] [--block FRAMES] [--format u8|s16|s24|f32]\n"
      "               [--tail SECONDS] [--no-latency-compensation] [--all-outputs]\n"
      "               [--midi FILE.mid [--rate HZ]] [--program N] [--param INDEX=VALUE]...\n"
      "               [--automation FILE] [--load-state F] [--load-fxb F] [--load-fxp F]\n"
      "               [--save-fxp F] [--save-fxb F] [--save-state F]\n"
      "               [INPUT] -o OUTPUT          (INPUT, --midi or both)\n"
      "  brvst-render --system-graph [--plugin PATH | --clsid {X}] [--format u8|s16|s24|f32]\n"
      "               [--program N] [--param INDEX=VALUE]... [--load-state F] [--load-fxb F]\n"
      "               [--load-fxp F] [--save-fxp F] [--save-fxb F] [--save-state F]\n"
      "               INPUT.wav -o OUTPUT        (Windows only)\n"
      "  brvst-render --info [--plugin PATH | --clsid {X}]\n"
      "  brvst-render --panel FILE.png [--plugin PATH | --clsid {X}] [--program N]\n"
      "               [--param INDEX=VALUE]... [--load-state F] [--load-fxb F] [--load-fxp F]\n"
      "Exit status: 0 success, 1 a failed render, 2 a usage error.");
  bool info = false;
  std::string panel;
  bool noCompensation = false;
  std::string pluginPath;
  std::string clsidText;
  Job job;
  app.add_flag("--info", info,
               "Print what the plug-in offers: channels, latency, parameters, programs");
  app.add_option("--panel", panel,
                 CanWritePng()
                     ? "Writes the property page as a host shows it (the button strip, then the "
                       "generic parameter panel or the editor frame) to FILE.png"
                     : "Not in this build: it has no PNG library (the Linux build writes them)");
  bool systemGraph = false;
  app.add_flag("--system-graph", systemGraph,
               HasSystemGraph()
                   ? "Plays INPUT (16-bit or float WAV) in the system's DirectShow runtime: its "
                     "file source and WAVE parser feed the filter (Windows only)"
                   : "Windows only: plays INPUT in the system's DirectShow runtime");
  app.add_option("--plugin", pluginPath,
                 "VST 2 plug-in to wrap (default: the adapter's own VID 84.dll)");
  app.add_option("--clsid", clsidText,
                 "Filter class {X} registered with COM: made by CoCreateInstance through the "
                 "registry, as a host makes it; its module must be this build's adapter")
      ->excludes("--plugin");
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

  if (systemGraph) {
    if (!HasSystemGraph())
      return Fail("--system-graph: only the Windows build has a system DirectShow runtime", kUsage);
    // The system's graph plays the file alone, in buffers of the parser's choosing.
    for (const char* option : {"--info", "--panel", "--midi", "--rate", "--block", "--tail",
                               "--automation", "--all-outputs"})
      if (app.count(option) > 0)
        return Fail(std::string("--system-graph takes no ") + option + " (see --help)", kUsage);
    if (job.input.empty() || job.output.empty())
      return Fail("--system-graph: give INPUT and -o OUTPUT (see --help)", kUsage);
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
  FilterMaker make;
  if (!pluginPath.empty()) {
    if (!RecordForPath(pluginPath, record))
      return Fail(pluginPath + ": the path is too long for a plug-in record");
    make = BuildFilter;
  } else {
    // With --clsid too: the registered module is this build's adapter, so its record is this
    // one until the filter tells its own.
    if (!DefaultRecord(record))
      return Fail("the adapter has no plug-in record (is its folder path too long?)");
    make = [systemGraph](brvst::PluginRecord& r, std::string& error) {
      // In the system's graph, as a host there makes it: through COM once it is registered.
      return systemGraph ? FilterFromComOrClassObject(r.FilterClsid, error)
                         : FilterFromClassObject(r.FilterClsid, error);
    };
  }
  if (!clsidText.empty()) {
    CLSID clsid;
    std::vector<WCHAR> wide(clsidText.begin(), clsidText.end());
    wide.push_back(0);
    if (FAILED(CLSIDFromString(wide.data(), &clsid)))
      return Fail(
          "--clsid " + clsidText + ": give a class id as {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}",
          kUsage);
    // Until the filter names its record, messages name the class.
    const std::string name = clsidText.substr(0, sizeof record.Name - 1);
    std::memcpy(record.Name, name.c_str(), name.size() + 1);
    make = [clsid](brvst::PluginRecord& r, std::string& error) {
      auto filter = FilterFromRegistry(clsid, OwnAdapterModule(), error);
      if (filter) r = *filter->Record;
      return filter;
    };
  }
  if (systemGraph) return RunSystemGraph(record, job, make);
  if (!panel.empty()) return ShowPanel(record, job, panel, make);
  return info ? ShowInfo(record, make) : RunRender(record, job, make);
}
