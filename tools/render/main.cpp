// brvst-render: runs audio and MIDI through the adapter's filter as a DirectShow host would.
#include "tools/render/plugin_choice.h"
#include "tools/render/plugin_info.h"

#include "filter/adapter_filter.h"
#include "vsthost/vst_plug_instance.h"

#include <CLI/CLI.hpp>

#include <iostream>
#include <memory>
#include <string>

namespace {

int Fail(const std::string& message) {
  std::cerr << "brvst-render: " << message << '\n';
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"brvst-render: runs audio through a VST 2 plug-in inside the Brimley VST Adapter's "
               "DirectShow filter, exactly as a DirectShow host would."};
  bool info = false;
  std::string pluginPath;
  app.add_flag("--info", info, "Print what the plug-in offers: channels, parameters, programs");
  app.add_option("--plugin", pluginPath,
                 "VST 2 plug-in to wrap (default: the adapter's own VID 84.dll)");
  CLI11_PARSE(app, argc, argv);

  if (!info) return Fail("nothing to do; see --help");

  brvst::PluginRecord record;
  if (pluginPath.empty()) {
    if (!brvst::render::DefaultRecord(record))
      return Fail("the adapter's plug-in list is empty (folder path too long?)");
  } else if (!brvst::render::RecordForPath(pluginPath, record)) {
    return Fail("plug-in path too long: " + pluginPath);
  }

  IBaseFilter* base = nullptr;
  if (FAILED(brvst::CreateAdapterFilter(&record, nullptr, IID_IBaseFilter,
                                        reinterpret_cast<void**>(&base))))
    return Fail("the adapter's filter could not be built");
  auto* filter = static_cast<brvst::AdapterFilter*>(base);
  brvst::VstPlugInstance* plugin = filter->Plugin.get();
  int result = 0;
  if (plugin == nullptr || plugin->effect == nullptr)
    result = Fail(std::string("could not load the plug-in ") + record.DllPath);
  else
    brvst::render::WritePluginInfo(*plugin, std::cout);
  base->Release();
  return result;
}
