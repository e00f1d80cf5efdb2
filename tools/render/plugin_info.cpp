#include "tools/render/plugin_info.h"

#include "filter/adapter_filter.h"
#include "synth/synth_interfaces.h"
#include "vsthost/vst_plug_instance.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iomanip>
#include <new>
#include <string>

namespace brvst::render {
namespace {

// Plug-ins write texts into buffers of sizes the interface only implies; give them room.
constexpr size_t kTextRoom = 256;

std::string Text(const char* buffer) {
  return std::string(buffer, strnlen(buffer, kTextRoom - 1));
}

std::string FlagNames(int32_t flags) {
  static constexpr struct {
    int32_t bit;
    const char* name;
  } kNames[] = {{vst2::effFlagsHasEditor, "editor"},
                {vst2::effFlagsCanReplacing, "processReplacing"},
                {vst2::effFlagsProgramChunks, "chunks"},
                {vst2::effFlagsIsSynth, "instrument"},
                {vst2::effFlagsNoSoundInStop, "no sound in stop"},
                {vst2::effFlagsCanDoubleReplacing, "double precision"}};
  std::string names;
  for (const auto& n : kNames) {
    if ((flags & n.bit) == 0) continue;
    if (!names.empty()) names += ", ";
    names += n.name;
  }
  return names.empty() ? "none" : names;
}

std::string Hex(int32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value));
  return text;
}

}  // namespace

std::string FourCCText(int32_t code) {
  std::string text;
  for (int shift = 24; shift >= 0; shift -= 8) {
    const char c = static_cast<char>((static_cast<uint32_t>(code) >> shift) & 0xFF);
    text += (c >= 0x20 && c < 0x7F) ? c : '.';
  }
  return text;
}

void WritePluginInfo(const std::string& recordName, VstPlugInstance& plugin, std::ostream& out) {
  const vst2::AEffect& effect = *plugin.effect;
  // Plug-ins with lookahead often settle their delay only when they are switched on.
  int32_t latency = 0;
  try {
    plugin.Resume(1, 44100, 1024);
    latency = effect.initialDelay;
    plugin.Suspend();
  } catch (const std::bad_alloc&) {
    latency = effect.initialDelay;
  }
  char text[kTextRoom] = {};
  plugin.Dispatch(vst2::effGetEffectName, 0, 0, text);
  const std::string effectName = Text(text);
  std::fill(std::begin(text), std::end(text), '\0');
  plugin.Dispatch(vst2::effGetVendorString, 0, 0, text);
  const std::string vendor = Text(text);
  std::fill(std::begin(text), std::end(text), '\0');
  plugin.Dispatch(vst2::effGetProductString, 0, 0, text);
  const std::string product = Text(text);

  out << "Name        " << recordName << '\n';
  out << "Plug-in     " << (effectName.empty() ? plugin.name : effectName) << '\n';
  out << "File        " << plugin.dllPath << '\n';
  if (!vendor.empty() || !product.empty())
    out << "Vendor      " << vendor << (product.empty() ? "" : " / " + product) << '\n';
  out << "Unique id   " << FourCCText(plugin.uniqueId) << " (" << Hex(plugin.uniqueId) << ")\n";
  out << "Version     " << effect.version << '\n';
  out << "Inputs      " << effect.numInputs << '\n';
  out << "Outputs     " << effect.numOutputs << '\n';
  out << "Flags       " << Hex(effect.flags) << " (" << FlagNames(effect.flags) << ")\n";
  out << "Latency     " << latency << (latency == 1 ? " sample\n" : " samples\n");

  const int32_t params = plugin.GetNumParams();
  out << "Parameters  " << params << '\n';
  if (params > 0) {
    out << "  " << std::setw(4) << "#"
        << "  " << std::left << std::setw(24) << "Name" << std::setw(14) << "Display"
        << std::setw(8) << "Label"
        << "Value" << std::right << '\n';
  }
  for (int32_t i = 0; i < params; ++i) {
    char name[kTextRoom] = {}, display[kTextRoom] = {}, label[kTextRoom] = {};
    plugin.GetParamName(i, name);
    plugin.GetParamDisplay(i, display);
    plugin.GetParamLabel(i, label);
    char value[32];
    std::snprintf(value, sizeof value, "%.4f", plugin.GetParameter(i));
    out << "  " << std::setw(4) << i << "  " << std::left << std::setw(24) << Text(name)
        << std::setw(14) << Text(display) << std::setw(8) << Text(label) << value << std::right
        << '\n';
  }

  const int32_t programs = plugin.GetNumPrograms();
  out << "Programs    " << programs;
  if (programs > 0) out << " (current " << plugin.GetProgram() << ")";
  out << '\n';
  for (int32_t i = 0; i < programs; ++i) {
    char name[kTextRoom] = {};
    plugin.GetProgramName(i, name);
    out << "  " << std::setw(4) << i << "  " << Text(name) << '\n';
  }
}

namespace {

// The entries of a name list, as "index  name" lines under `title`.
void WriteNames(const char* title, IUnknown* object, std::ostream& out) {
  ComPtr<INameList> list;
  if (object == nullptr || FAILED(object->QueryInterface(IID_INameList, list.putVoid()))) return;
  char name[kTextRoom] = {};
  list->GetName(name, sizeof name);
  LONG count = 0;
  list->GetEntryCount(&count);
  out << title << Text(name) << " (" << count << ")\n";
  for (LONG i = 0; i < count; ++i) {
    char entry[kTextRoom] = {};
    list->GetEntryName(i, entry, sizeof entry);
    out << "  " << std::setw(4) << i << "  " << Text(entry) << '\n';
  }
}

}  // namespace

void WriteInstrumentInfo(AdapterFilter& filter, std::ostream& out) {
  ComPtr<ISynthInstrument> synth;
  if (FAILED(filter.GetOwner()->QueryInterface(IID_ISynthInstrument, synth.putVoid()))) return;
  LONG* banks = nullptr;
  LONG count = 0;
  if (SUCCEEDED(synth->GetBankNumbers(&banks, &count))) {
    out << "Banks       " << count << '\n';
    for (LONG b = 0; b < count; ++b) {
      void* list = nullptr;
      if (synth->GetBankNames(banks[b], &list) != S_OK) continue;
      ComPtr<IUnknown> names = ComPtr<IUnknown>::Attach(static_cast<IUnknown*>(list));
      WriteNames(("Bank " + std::to_string(banks[b]) + "      ").c_str(), names.get(), out);
    }
    CoTaskMemFree(banks);
  }
  void* nrpn = nullptr;
  if (synth->GetNrpnNames(&nrpn) == S_OK) {
    ComPtr<IUnknown> names = ComPtr<IUnknown>::Attach(static_cast<IUnknown*>(nrpn));
    WriteNames("NRPN names  ", names.get(), out);
  }
}

}  // namespace brvst::render
