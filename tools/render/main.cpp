// brvst-render: runs audio files through the adapter's filter as a DirectShow host would.
#include "tools/render/audio_file.h"
#include "tools/render/plugin_choice.h"
#include "tools/render/plugin_info.h"
#include "tools/render/progress.h"
#include "tools/render/render_job.h"

#include "filter/adapter_filter.h"
#include "vsthost/vst_plug_instance.h"

#include <CLI/CLI.hpp>

#include <iostream>
#include <map>
#include <string>

namespace {

int Fail(const std::string& message) {
  std::cerr << "brvst-render: " << message << '\n';
  return 1;
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
  IBaseFilter* base = nullptr;
  if (FAILED(brvst::CreateAdapterFilter(&record, nullptr, IID_IBaseFilter,
                                        reinterpret_cast<void**>(&base))))
    return Fail("the adapter's filter could not be built");
  auto* filter = static_cast<brvst::AdapterFilter*>(base);
  brvst::VstPlugInstance* plugin = filter->Plugin.get();
  int result = 0;
  if (plugin == nullptr || plugin->effect == nullptr)
    result = Fail(std::string("the plug-in ") + record.DllPath + " did not load");
  else
    brvst::render::WritePluginInfo(*plugin, std::cout);
  base->Release();
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "brvst-render: runs an audio file through a VST 2 plug-in inside the Brimley VST "
      "Adapter's DirectShow filter, exactly as a DirectShow host plays it, and writes the "
      "result as WAV."};
  app.footer(
      "Forms:\n  brvst-render [--plugin PATH] [--block FRAMES] [--format s16|f32] [--tail SECONDS] "
      "[--all-outputs] INPUT -o OUTPUT\n  brvst-render --info [--plugin PATH]");
  bool info = false;
  std::string pluginPath, input, output;
  brvst::render::RenderOptions options;
  std::string format;
  app.add_flag("--info", info, "Print what the plug-in offers: channels, parameters, programs");
  app.add_option("--plugin", pluginPath,
                 "VST 2 plug-in to wrap (default: the adapter's own VID 84.dll)");
  app.add_option("--block", options.blockFrames, "Frames per media sample (default 1024)")
      ->check(CLI::Range(1, 1 << 20));
  app.add_option("--format", format, "Sample format of OUTPUT (default: the input's)")
      ->check(CLI::IsMember({"s16", "f32"}));
  app.add_option("--tail", options.tailSeconds,
                 "Seconds of silence fed after the input, for echoes and reverb tails")
      ->check(CLI::Range(0.0, 3600.0));
  app.add_flag("--all-outputs", options.allOutputs,
               "Also write the further output pins as OUTPUT-2.wav, OUTPUT-3.wav...");
  app.add_option("INPUT", input, "Audio file to render (WAV, AIFF, FLAC...)");
  app.add_option("-o,--output", output, "WAV file to write");
  CLI11_PARSE(app, argc, argv);

  brvst::PluginRecord record;
  if (pluginPath.empty()) {
    if (!brvst::render::DefaultRecord(record))
      return Fail("the adapter has no plug-in record (is its folder path too long?)");
  } else if (!brvst::render::RecordForPath(pluginPath, record)) {
    return Fail("plug-in path too long: " + pluginPath);
  }
  if (info) return ShowInfo(record);

  if (input.empty() || output.empty()) return Fail("give INPUT and -o OUTPUT (see --help)");
  if (!format.empty())
    options.outputFormat =
        format == "s16" ? brvst::render::SampleFormat::S16 : brvst::render::SampleFormat::F32;

  brvst::render::AudioClip clip;
  std::string error;
  if (!brvst::render::ReadAudioFile(input, clip, error)) return Fail(error);

  std::vector<brvst::render::AudioClip> rendered;
  {
    auto progress = brvst::render::Progress::OnStderr(
        "rendering", static_cast<int64_t>(clip.Frames()) +
                         static_cast<int64_t>(options.tailSeconds * clip.sampleRate));
    const bool done =
        brvst::render::Render(record, clip, options, rendered, error,
                              [&](int64_t frames, int64_t) { progress.Update(frames); });
    progress.Finish();
    if (!done) return Fail(error);
  }

  for (size_t k = 0; k < rendered.size(); ++k) {
    const std::string name = k == 0 ? output : FurtherOutputName(output, static_cast<int>(k) + 1);
    if (!brvst::render::WriteWavFile(name, rendered[k], error)) return Fail(name + ": " + error);
  }
  return 0;
}
