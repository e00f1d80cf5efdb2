#include "tools/render/load_diagnosis.h"

#include "platform/module_check.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

namespace brvst::render {
namespace {

namespace fs = std::filesystem;

// The loader's text without the path it names and without trailing full stops and blanks:
// dlerror texts start with "PATH: ", and Windows texts hold "%1" where the file goes.
std::string LoaderReason(std::string text, const std::string& path) {
  std::error_code error;
  for (const std::string& named : {path, fs::absolute(path, error).string()}) {
    const std::string prefix = named + ": ";
    if (!named.empty() && text.compare(0, prefix.size(), prefix) == 0) {
      text.erase(0, prefix.size());
      break;
    }
  }
  for (size_t at = text.find("%1"); at != std::string::npos; at = text.find("%1"))
    text.replace(at, 2, "the file");
  while (!text.empty() &&
         (text.back() == '.' || text.back() == ' ' || text.back() == '\r' || text.back() == '\n'))
    text.pop_back();
  return text;
}

// Why the system's loader refused the module, as far as the file and a second look tell.
std::string ModuleCause(const std::string& path, DWORD loaderError) {
  std::error_code error;
  const fs::file_status status = fs::status(path, error);
  if (!fs::exists(status)) return "the file does not exist";
  if (fs::is_directory(status)) return "it is a folder";
  const platform::ModuleCheck check = platform::CheckModuleLoads(path.c_str());
  const std::string reason = LoaderReason(check.message, path);
  switch (check.verdict) {
    case platform::ModuleLoad::Fails:
      return "it is not a loadable module for this platform: " + reason;
    case platform::ModuleLoad::InitFails:
      return "it is a module whose initialisation failed" +
             (reason.empty() ? "" : " (" + reason + ")");
    case platform::ModuleLoad::Loads:
    case platform::ModuleLoad::Unchecked:
      break;
  }
  // Loaded on the second look, or not looked at: only the loader's code is known.
  return "the system's loader refused it (error " + std::to_string(loaderError) + ")";
}

}  // namespace

std::string LoadFailureCause(const std::string& path, const VstPlugInstance& plugin) {
  using Failure = VstPlugInstance::LoadFailure;
  switch (plugin.loadFailure) {
    case Failure::None:
      return {};
    case Failure::PathTooLong:
      return "the path is longer than the " + std::to_string(sizeof plugin.dllPath - 1) +
             " characters a plug-in's path may have";
    case Failure::ModuleNotLoaded:
      return ModuleCause(path, plugin.loaderError);
    case Failure::NoEntryPoint:
      return "it exports no VST 2 entry point (main, Main or VSTPluginMain)";
    case Failure::NoEffect:
      return "its entry point returned no plug-in";
    case Failure::WrongMagic: {
      char magic[16];
      std::snprintf(magic, sizeof magic, "0x%08X", static_cast<unsigned>(plugin.seenMagic));
      return std::string("its entry point returned no VST 2 plug-in (magic ") + magic + ")";
    }
    case Failure::NoDispatcher:
      return "its plug-in has no dispatcher";
    case Failure::BadCounts:
      return "it reports more channels, programs or parameters than a plug-in can have";
    case Failure::OutOfMemory:
      return "there was not enough memory for its channels and programs";
    case Failure::Fault:
      return "it crashed while it was being opened";
  }
  return "its load failed";
}

}  // namespace brvst::render
