#include "vsthost/plugin_probe.h"

#include <charconv>
#include <cstdio>
#include <cstring>

namespace brvst::vsthost {

namespace {

// Enough for the plug-ins that write more than the 64 characters the interface implies; the
// tail stays zero so the text is terminated whatever they wrote.
constexpr std::size_t kTextRoom = 1024;

intptr_t VST2_CALL ProbeHost(vst2::AEffect*, int32_t opcode, int32_t, intptr_t, void* ptr, float) {
  switch (opcode) {
    case vst2::audioMasterVersion:
      return 2400;
    case vst2::audioMasterGetSampleRate:
      return 44100;
    case vst2::audioMasterGetBlockSize:
      return 1024;
    case vst2::audioMasterGetVendorString:
      if (ptr) std::strcpy(static_cast<char*>(ptr), "Brimley Music Software");
      return 1;
    case vst2::audioMasterGetProductString:
      if (ptr) std::strcpy(static_cast<char*>(ptr), "Brimley VST Adapter");
      return 1;
    case vst2::audioMasterGetLanguage:
      return 1;  // English
    default:
      return 0;
  }
}

void WriteNumber(ProbeWriter write, void* context, const char* key, long long value) {
  char text[32];
  std::snprintf(text, sizeof text, "%lld", value);
  WriteProbeLine(write, context, key, text);
}

intptr_t Dispatch(vst2::AEffect* effect, int32_t opcode, int32_t index = 0, intptr_t value = 0,
                  void* ptr = nullptr, float opt = 0.0f) {
  return effect->dispatcher(effect, opcode, index, value, ptr, opt);
}

// Names cut to the interface's 32 characters often end in a space.
void TrimEnd(char* text) {
  std::size_t length = std::strlen(text);
  while (length > 0 && static_cast<unsigned char>(text[length - 1]) <= ' ') text[--length] = '\0';
}

int32_t ParseInt(const std::string& text) {
  int32_t value = 0;
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value;
}

}  // namespace

void WriteProbeLine(ProbeWriter write, void* context, const char* key, const char* value) {
  char line[kTextRoom + 64];
  std::size_t length = 0;
  for (const char* p = key; *p && length < sizeof line - 2; ++p) line[length++] = *p;
  line[length++] = '=';
  for (const char* p = value; *p && length < sizeof line - 1; ++p) {
    line[length++] = static_cast<unsigned char>(*p) < 0x20 ? ' ' : *p;
  }
  line[length++] = '\n';
  write(line, length, context);
}

void ProbePlugin(ProbeEntry entry, bool askEditorSize, ProbeWriter write, void* context) {
  vst2::AEffect* effect = reinterpret_cast<vst2::EntryProc>(entry)(ProbeHost);
  if (effect == nullptr) {
    WriteProbeLine(write, context, "verdict", kProbeNotPlugin);
    WriteProbeLine(write, context, "reason", "its entry point returned no plug-in");
    return;
  }
  if (effect->magic != vst2::kEffectMagic) {
    WriteProbeLine(write, context, "verdict", kProbeNotPlugin);
    WriteProbeLine(write, context, "reason", "its entry point returned a wrong magic number");
    return;
  }
  if (effect->dispatcher == nullptr) {
    WriteProbeLine(write, context, "verdict", kProbeNotPlugin);
    WriteProbeLine(write, context, "reason", "its plug-in has no dispatcher");
    return;
  }
  Dispatch(effect, vst2::effOpen);
  Dispatch(effect, vst2::effSetSampleRate, 0, 0, nullptr, 44100.0f);
  Dispatch(effect, vst2::effSetBlockSize, 0, 1024);

  char name[kTextRoom] = {};
  Dispatch(effect, vst2::effGetEffectName, 0, 0, name);
  name[kTextRoom - 1] = '\0';
  TrimEnd(name);
  char vendor[kTextRoom] = {};
  Dispatch(effect, vst2::effGetVendorString, 0, 0, vendor);
  vendor[kTextRoom - 1] = '\0';
  TrimEnd(vendor);

  int32_t editorWidth = 0;
  int32_t editorHeight = 0;
  if (askEditorSize && (effect->flags & vst2::effFlagsHasEditor)) {
    vst2::ERect* rect = nullptr;
    Dispatch(effect, vst2::effEditGetRect, 0, 0, &rect);
    if (rect != nullptr && rect->right > rect->left && rect->bottom > rect->top) {
      editorWidth = rect->right - rect->left;
      editorHeight = rect->bottom - rect->top;
    }
  }
  // The delay some plug-ins report only once they are switched on.
  Dispatch(effect, vst2::effMainsChanged, 0, 1);
  const int32_t latency = effect->initialDelay;
  Dispatch(effect, vst2::effMainsChanged, 0, 0);

  WriteProbeLine(write, context, "verdict", kProbeOk);
  WriteProbeLine(write, context, "name", name);
  WriteProbeLine(write, context, "vendor", vendor);
  WriteNumber(write, context, "uniqueId", effect->uniqueID);
  WriteNumber(write, context, "inputs", effect->numInputs);
  WriteNumber(write, context, "outputs", effect->numOutputs);
  WriteNumber(write, context, "synth", (effect->flags & vst2::effFlagsIsSynth) ? 1 : 0);
  WriteNumber(write, context, "editorWidth", editorWidth);
  WriteNumber(write, context, "editorHeight", editorHeight);
  WriteNumber(write, context, "latency", latency);
  WriteNumber(write, context, "parameters", effect->numParams);
  WriteNumber(write, context, "programs", effect->numPrograms);
  Dispatch(effect, vst2::effClose);
}

ProbeFindings ParseProbeReport(const std::string& report) {
  ProbeFindings f;
  std::size_t start = 0;
  while (start < report.size()) {
    std::size_t end = report.find('\n', start);
    if (end == std::string::npos) end = report.size();
    std::string line = report.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    const std::string key = line.substr(0, equals);
    std::string value = line.substr(equals + 1);
    if (key == "verdict")
      f.verdict = std::move(value);
    else if (key == "reason")
      f.reason = std::move(value);
    else if (key == "name")
      f.name = std::move(value);
    else if (key == "vendor")
      f.vendor = std::move(value);
    else if (key == "uniqueId")
      f.uniqueId = ParseInt(value);
    else if (key == "inputs")
      f.inputs = ParseInt(value);
    else if (key == "outputs")
      f.outputs = ParseInt(value);
    else if (key == "synth")
      f.synth = ParseInt(value) != 0;
    else if (key == "editorWidth")
      f.editorWidth = ParseInt(value);
    else if (key == "editorHeight")
      f.editorHeight = ParseInt(value);
    else if (key == "latency")
      f.latency = ParseInt(value);
    else if (key == "parameters")
      f.parameters = ParseInt(value);
    else if (key == "programs")
      f.programs = ParseInt(value);
  }
  return f;
}

}  // namespace brvst::vsthost
