// What the module check costs: one helper process that loads a module (or dies loading it), and
// the kept verdict a later load finds. Beside it, an in-process load and unload of the same module,
// the cost the check adds to. Each checked iteration changes the file's modification time, so
// that the check cannot answer from what it kept.
#include "platform/module_check.h"
#include "platform/platform.h"

#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <system_error>

namespace brvst::platform {
namespace {

namespace fs = std::filesystem;

// A copy of a probe in a folder of its own, so that the bin folder's files keep their times.
class ProbeCopy {
 public:
  explicit ProbeCopy(const char* probe)
      : folder_(fs::temp_directory_path() / ("brvst_check_bench_" + std::to_string(getpid()))),
        path_((folder_ / probe).string()) {
    fs::create_directories(folder_);
    fs::copy_file(fs::path(BRVST_BIN_DIR) / probe, path_, fs::copy_options::overwrite_existing);
  }
  ~ProbeCopy() {
    std::error_code ignored;
    fs::remove(path_, ignored);
    fs::remove(folder_, ignored);  // once the last copy is gone
  }

  const char* path() const { return path_.c_str(); }
  // A new modification time: the file counts as changed.
  void touch() {
    ++stamp_.tv_nsec;
    const timespec times[2] = {stamp_, stamp_};
    utimensat(AT_FDCWD, path_.c_str(), times, 0);
  }

 private:
  fs::path folder_;
  std::string path_;
  timespec stamp_{1'000'000'000, 0};
};

void CheckEveryTime(benchmark::State& state, const char* probe, ModuleLoad expected) {
  ProbeCopy copy(probe);
  for (auto _ : state) {
    copy.touch();
    if (CheckModuleLoads(copy.path()).verdict != expected) state.SkipWithError("wrong verdict");
  }
}
BENCHMARK_CAPTURE(CheckEveryTime, loads, "probe_effect.dll", ModuleLoad::Loads)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(CheckEveryTime, faults, "probe_fault_load.dll", ModuleLoad::InitFails)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

void CheckKept(benchmark::State& state) {
  ProbeCopy copy("probe_effect.dll");
  CheckModuleLoads(copy.path());
  for (auto _ : state) benchmark::DoNotOptimize(CheckModuleLoads(copy.path()).verdict);
}
BENCHMARK(CheckKept)->Unit(benchmark::kMicrosecond);

void LoadAndFreeInProcess(benchmark::State& state) {
  ProbeCopy copy("probe_effect.dll");
  for (auto _ : state) {
    void* module = dlopen(copy.path(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) state.SkipWithError("cannot load");
    dlclose(module);
  }
}
BENCHMARK(LoadAndFreeInProcess)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace brvst::platform

BENCHMARK_MAIN();
