#include "tools/render/host_session.h"

#include "tools/render/message_catcher.h"
#include "tools/render/replacing_file.h"

#include "filter/adapter_filter.h"
#include "host/memory_stream.h"
#include "host/synth_host.h"
#include "synth/media_params.h"
#include "synth/synth_interfaces.h"
#include "vsthost/vst_plug_instance.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

namespace brvst::render {
namespace {

constexpr REFERENCE_TIME kUnitsPerSecond = 10000000;
// Saved states hold a plug-in's programs; far more than any would be a wrong file.
constexpr std::streamoff kMaxStateBytes = std::streamoff{256} << 20;

std::string Hex(HRESULT hr) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
  return text;
}

template <class T>
ComPtr<T> Query(AdapterFilter& filter, REFIID iid) {
  ComPtr<T> out;
  filter.GetOwner()->QueryInterface(iid, out.putVoid());
  return out;
}

bool ReadWholeFile(const std::string& path, std::streamoff limit, std::vector<uint8_t>& bytes,
                   std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = path + ": cannot open the file: " + std::strerror(errno);
    return false;
  }
  in.seekg(0, std::ios::end);
  const std::streamoff size = in.tellg();
  if (size < 0 || size > limit) {
    error = path + ": too large";
    return false;
  }
  in.seekg(0);
  bytes.resize(static_cast<size_t>(size));
  if (size > 0 && !in.read(reinterpret_cast<char*>(bytes.data()), size)) {
    error = path + ": read error";
    return false;
  }
  return true;
}

int32_t ClampTick(int64_t tick) {
  return static_cast<int32_t>(std::clamp<int64_t>(tick, 0, INT32_MAX));
}

}  // namespace

bool ParseAutomation(const std::string& text, std::vector<AutomationPoint>& points,
                     std::string& error) {
  std::istringstream in(text);
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    if (const size_t hash = line.find('#'); hash != std::string::npos) line.erase(hash);
    if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
    AutomationPoint point{};
    char comma1 = 0, comma2 = 0;
    std::istringstream fields(line);
    std::string rest;
    if (!(fields >> point.seconds >> comma1 >> point.param >> comma2 >> point.value) ||
        comma1 != ',' || comma2 != ',' || (fields >> rest) || !std::isfinite(point.seconds) ||
        point.seconds < 0 || point.param < 0 || !std::isfinite(point.value)) {
      error = "line " + std::to_string(number) +
              ": not \"seconds,parameter,value\" with seconds and parameter at least 0";
      return false;
    }
    points.push_back(point);
  }
  std::stable_sort(
      points.begin(), points.end(),
      [](const AutomationPoint& a, const AutomationPoint& b) { return a.seconds < b.seconds; });
  return true;
}

struct HostSession::Synth {
  ComPtr<host::HostTimeline> timeline;
  ComPtr<ISynthInstrument> instrument;
  ComPtr<host::HostEventList> events = host::HostEventList::Create();
};

HostSession::HostSession(SessionOptions options, MessageCatcher& catcher)
    : options_(std::move(options)), catcher_(catcher) {}

bool HostSession::Prepare(std::string& error) {
  if (!options_.midiFile.empty() && !ReadMidiFile(options_.midiFile, song_, error)) {
    error = options_.midiFile + ": " + error;
    return false;
  }
  if (!options_.automationFile.empty()) {
    std::vector<uint8_t> bytes;
    if (!ReadWholeFile(options_.automationFile, 16 << 20, bytes, error)) return false;
    if (!ParseAutomation(std::string(bytes.begin(), bytes.end()), automation_, error)) {
      error = options_.automationFile + ": " + error;
      return false;
    }
  }
  return true;
}

int64_t HostSession::MidiFrames(int sampleRate) const {
  if (song_.ticksPerQuarter <= 0) return 0;
  return song_.MicrosecondsAt(song_.endTick) * sampleRate / 1000000;
}

void HostSession::Install(RenderOptions& options, int sampleRate) {
  sampleRate_ = sampleRate;
  options.hooks.connected = [this](AdapterFilter& f, std::string& e) { return Connected(f, e); };
  options.hooks.running = [this](AdapterFilter& f, std::string& e) { return Running(f, e); };
  options.hooks.beforeBlock = [this](AdapterFilter& f, int64_t start, int64_t frames,
                                     std::string& e) { return BeforeBlock(f, start, frames, e); };
  options.hooks.finished = [this](AdapterFilter& f, std::string& e) { return Finished(f, e); };
}

bool HostSession::Refused(const std::string& file, std::string& error) {
  std::string shown;
  for (const std::string& text : catcher_.Take()) shown += (shown.empty() ? "" : "; ") + text;
  if (shown.empty()) return false;
  error = file + ": " + shown;
  return true;
}

bool HostSession::Connected(AdapterFilter& filter, std::string& error) {
  VstPlugInstance& plugin = *filter.Plugin;
  const std::string name = filter.Record->Name;
  if (!options_.loadState.empty()) {
    std::vector<uint8_t> bytes;
    if (!ReadWholeFile(options_.loadState, kMaxStateBytes, bytes, error)) return false;
    auto persist = Query<IPersistStream>(filter, IID_IPersistStream);
    host::MemoryStream stream(std::move(bytes));
    const HRESULT hr = persist ? persist->Load(&stream) : E_NOINTERFACE;
    if (Refused(options_.loadState, error)) return false;
    if (FAILED(hr)) {
      error = options_.loadState + ": " + name + " refused the saved state (" + Hex(hr) + ")";
      return false;
    }
  }
  const std::pair<const std::string*, void (VstPlugInstance::*)(FILE*)> loads[] = {
      {&options_.loadFxb, &VstPlugInstance::LoadBank},
      {&options_.loadFxp, &VstPlugInstance::LoadPreset}};
  for (const auto& [path, load] : loads) {
    if (path->empty()) continue;
    FILE* file = std::fopen(path->c_str(), "rb");
    if (file == nullptr) {
      error = *path + ": cannot open the file: " + std::strerror(errno);
      return false;
    }
    (plugin.*load)(file);
    std::fclose(file);
    if (Refused(*path, error)) return false;
  }
  if (options_.program) {
    const int32_t programs = plugin.GetNumPrograms();
    if (*options_.program >= programs) {
      error = name + ": --program " + std::to_string(*options_.program) + ": it has " +
              std::to_string(programs) + " program" + (programs == 1 ? "" : "s");
      return false;
    }
    plugin.SetProgram(*options_.program);
  }
  if (!options_.params.empty() || !automation_.empty()) {
    auto params = Query<IMediaParams>(filter, IID_IMediaParams);
    const int32_t count = plugin.GetNumParams();
    auto check = [&](int index, const char* what) {
      if (params && index < count) return true;
      error = name + ": " + what + " " + std::to_string(index) + ": it has " +
              std::to_string(count) + " parameter" + (count == 1 ? "" : "s");
      return false;
    };
    for (const auto& [index, value] : options_.params) {
      if (!check(index, "--param")) return false;
      const HRESULT hr = params->SetParam(static_cast<DWORD>(index), value);
      if (FAILED(hr)) {
        error = name + ": --param " + std::to_string(index) + " was refused (" + Hex(hr) + ")";
        return false;
      }
    }
    // Each point ends a jump segment that starts where the parameter's previous one ended.
    std::map<int, REFERENCE_TIME> segmentStart;
    for (const AutomationPoint& point : automation_) {
      if (!check(point.param, (options_.automationFile + ": parameter").c_str())) return false;
      const auto end = static_cast<REFERENCE_TIME>(std::llround(point.seconds * kUnitsPerSecond));
      MP_ENVELOPE_SEGMENT segment{};
      segment.rtStart = segmentStart.try_emplace(point.param, 0).first->second;
      segment.rtEnd = end;
      segment.valStart = point.value;
      segment.valEnd = point.value;
      segment.iCurve = MP_CURVE_JUMP;
      const HRESULT hr = params->AddEnvelope(static_cast<DWORD>(point.param), 1, &segment);
      if (FAILED(hr)) {
        error = options_.automationFile + ": " + name + " refused the point at " +
                std::to_string(point.seconds) + " s (" + Hex(hr) + ")";
        return false;
      }
      segmentStart[point.param] = end;
    }
  }
  if (HasMidi()) {
    synth_ = std::make_shared<Synth>();
    synth_->instrument = Query<ISynthInstrument>(filter, IID_ISynthInstrument);
    std::vector<host::TempoChange> changes;
    for (const MidiTempo& t : song_.tempos)
      changes.push_back({ClampTick(t.tick), static_cast<int32_t>(t.microsecondsPerQuarter)});
    try {
      synth_->timeline = host::HostTimeline::Create(song_.ticksPerQuarter, std::move(changes),
                                                    static_cast<uint32_t>(sampleRate_));
    } catch (const std::exception& e) {
      error = options_.midiFile + ": " + e.what();
      return false;
    }
    const HRESULT hr =
        synth_->instrument
            ? synth_->instrument->Connect(static_cast<IHostTempoMap*>(synth_->timeline.get()))
            : E_NOINTERFACE;
    if (FAILED(hr)) {
      error = name + ": its instrument interface refused the host (" + Hex(hr) + ")";
      return false;
    }
  }
  return true;
}

bool HostSession::Running(AdapterFilter&, std::string& error) {
  if (!synth_) return true;
  const HRESULT hr = synth_->instrument->OnStart(0);
  if (FAILED(hr)) error = "the instrument did not start (" + Hex(hr) + ")";
  return SUCCEEDED(hr);
}

bool HostSession::BeforeBlock(AdapterFilter&, int64_t start, int64_t frames, std::string& error) {
  if (!synth_) return true;
  // The events due in this block, handed over before it: a host stays ahead of the audio.
  host::HostEventList& list = *synth_->events;
  list.Clear();
  for (; nextEvent_ < song_.events.size(); ++nextEvent_) {
    const MidiEvent& e = song_.events[nextEvent_];
    const int32_t tick = ClampTick(e.tick);
    if (synth_->timeline->SampleAtTick(tick) >= start + frames) break;
    const uint8_t channel = e.status & 0x0F;
    switch (e.status & 0xF0) {
      case 0x90:
        list.AddNote(tick, channel, e.data1, e.data2, ClampTick(e.durationTicks));
        break;
      case 0xA0:
        list.AddKeyAftertouch(tick, channel, e.data1, e.data2);
        break;
      case 0xB0:
        list.AddController(tick, channel, e.data1, e.data2);
        break;
      case 0xC0:
        list.AddProgramChange(tick, channel, e.data1);
        break;
      case 0xD0:
        list.AddChannelAftertouch(tick, channel, e.data1);
        break;
      case 0xE0:
        list.AddPitchWheel(tick, channel, static_cast<int16_t>((e.data2 << 7 | e.data1) - 8192));
        break;
      default:
        break;
    }
  }
  if (list.Size() == 0) return true;
  const HRESULT hr = synth_->instrument->ProcessEvents(0, 0, 0, &list);
  if (FAILED(hr)) error = "the instrument refused events (" + Hex(hr) + ")";
  return SUCCEEDED(hr);
}

bool HostSession::Finished(AdapterFilter&, std::string&) {
  if (!synth_) return true;
  synth_->instrument->OnStop(ClampTick(song_.endTick));
  synth_->instrument->Disconnect();
  return true;
}

bool HostSession::SaveFiles(AdapterFilter& filter, std::string& error) {
  VstPlugInstance& plugin = *filter.Plugin;
  const std::pair<const std::string*, void (VstPlugInstance::*)(FILE*)> saves[] = {
      {&options_.saveFxp, &VstPlugInstance::SavePreset},
      {&options_.saveFxb, &VstPlugInstance::SaveBank}};
  for (const auto& [path, save] : saves) {
    if (path->empty()) continue;
    std::string reason;
    auto file = ReplacingFile::Create(*path, reason);
    if (!file) {
      error = *path + ": " + reason;
      return false;
    }
    (plugin.*save)(file->File());
    if (Refused(*path, error)) return false;
    if (std::ferror(file->File()) != 0 || !file->Commit(reason)) {
      error = *path + ": " + (reason.empty() ? "write failed" : reason);
      return false;
    }
  }
  if (!options_.saveState.empty()) {
    auto persist = Query<IPersistStream>(filter, IID_IPersistStream);
    host::MemoryStream stream;
    const HRESULT hr = persist ? persist->Save(&stream, TRUE) : E_NOINTERFACE;
    if (FAILED(hr)) {
      error = options_.saveState + ": " + filter.Record->Name + " did not save its state (" +
              Hex(hr) + ")";
      return false;
    }
    std::string reason;
    if (!ReplaceFileContents(options_.saveState, stream.Bytes().data(), stream.Bytes().size(),
                             reason)) {
      error = options_.saveState + ": " + reason;
      return false;
    }
  }
  return true;
}

}  // namespace brvst::render
