// Loading and saving a full settings file: every key of the store, the
// two numbered lists at 256 entries, six fonts. Reported per operation.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "app/settings.h"

namespace {

struct TBenchFile {
    TBenchFile() {
        char pattern[] = "/tmp/zorvex-settings-bench-XXXXXX";
        Dir = mkdtemp(pattern);
        Path = Dir + "/vantrel.ini";
        zorvex::TSettingsStore store(Path, zorvex::TNoOtherSettingsKept::Instance());
        store.LoadSettings();
        for (size_t i = 0; i < zorvex::NUMBERED_COUNT_MAX; ++i) {
            store.PathPrefixes.push_back("prefix" + std::to_string(i) + " alt.binaries.g" +
                                         std::to_string(i));
            store.AutoScanPaths.push_back("/home/user/download/scan" + std::to_string(i));
        }
        store.Settings().EncryptionKey = "a key phrase of some length";
        store.SaveWithSet(0xFF);
    }
    ~TBenchFile() {
        unlink(Path.c_str());
        rmdir(Dir.c_str());
    }
    std::string Dir, Path;
};

void BM_LoadSettings(benchmark::State& state) {
    TBenchFile file;
    for (auto _ : state) {
        zorvex::TSettingsStore store(file.Path, zorvex::TNoOtherSettingsKept::Instance());
        benchmark::DoNotOptimize(store.LoadSettings());
    }
}
BENCHMARK(BM_LoadSettings)->Unit(benchmark::kMillisecond);

// The default save set: one rewrite of the file, fsync included.
void BM_SaveDefaultSet(benchmark::State& state) {
    TBenchFile file;
    zorvex::TSettingsStore store(file.Path, zorvex::TNoOtherSettingsKept::Instance());
    store.LoadSettings();
    for (auto _ : state) benchmark::DoNotOptimize(store.SaveWithSet(store.DefaultSaveSet()));
}
BENCHMARK(BM_SaveDefaultSet)->Unit(benchmark::kMillisecond);

}  // namespace
