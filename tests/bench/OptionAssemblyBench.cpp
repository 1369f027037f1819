// Option assembly against the number of jars and the size of the init file.
// The cost per jar and per init-file byte should stay flat: assembling is
// linear in what it lists and reads.
#include <benchmark/benchmark.h>

#include <windows.h>

#include <stdlib.h>
#include <string.h>

#include <filesystem>
#include <string>
#include <vector>

#include "Installation.h"
#include "JvmOptions.h"

// A directory listing held in memory, served in place of the platform's
// own while armed: the host's share of the cost, without the file system's.
namespace listing {
bool armed = false;
std::vector<std::string> names;
size_t next = 0;
char handle;
}  // namespace listing

extern "C" HANDLE WINAPI __real_FindFirstFileA(LPCSTR pattern, LPWIN32_FIND_DATAA data);
extern "C" BOOL WINAPI __real_FindNextFileA(HANDLE search, LPWIN32_FIND_DATAA data);
extern "C" BOOL WINAPI __real_FindClose(HANDLE search);

static void ServeName(LPWIN32_FIND_DATAA data) {
    memset(data, 0, sizeof *data);
    const std::string& name = listing::names[listing::next++];
    memcpy(data->cFileName, name.c_str(), name.size() + 1);
}

extern "C" HANDLE WINAPI __wrap_FindFirstFileA(LPCSTR pattern, LPWIN32_FIND_DATAA data) {
    if (!listing::armed) return __real_FindFirstFileA(pattern, data);
    listing::next = 0;
    if (listing::names.empty()) return INVALID_HANDLE_VALUE;
    ServeName(data);
    return &listing::handle;
}

extern "C" BOOL WINAPI __wrap_FindNextFileA(HANDLE search, LPWIN32_FIND_DATAA data) {
    if (search != &listing::handle) return __real_FindNextFileA(search, data);
    if (listing::next == listing::names.size()) return FALSE;
    ServeName(data);
    return TRUE;
}

extern "C" BOOL WINAPI __wrap_FindClose(HANDLE search) {
    return search == &listing::handle ? TRUE : __real_FindClose(search);
}

namespace {

// The list is meant to live as long as the process; a benchmark that builds
// it many times hands the memory back after each build.
void ReleaseOptionList(JvmOptionList list) {
    ReleaseBootClassPath(&list);
    for (jint i = 2; i < BootClassPathIndex(list); ++i) free(list.options[i].optionString);
    free(list.options);
}

std::string JarName(int i) { return "product-module-" + std::to_string(100000 + i) + ".jar"; }

void CountPerJar(benchmark::State& state, int jars) {
    state.SetComplexityN(jars);
    state.counters["per_jar"] = benchmark::Counter(
        static_cast<double>(jars), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void AssembleRepeatedly(benchmark::State& state, const Installation& installation) {
    std::string moduleDirectory = installation.moduleDirectory();
    for (auto _ : state) {
        JvmOptionList list = BuildJvmOptionList(moduleDirectory.c_str(), "alder.init", ClassicVm, VmHooks());
        if (list.options == nullptr) state.SkipWithError("option list not built");
        benchmark::DoNotOptimize(list.options);
        ReleaseOptionList(list);
    }
}

// The whole cost on disk: listing the jar directory and assembling.
void BM_OptionAssemblyByJarCount(benchmark::State& state) {
    const int jars = static_cast<int>(state.range(0));
    Installation installation;
    for (int i = 0; i < jars; ++i) installation.addJar(JarName(i));
    Installation::WriteFile(installation.bin() / "alder.init", "-Xms64m\n-Xmx512m\n-Dalder.port=8080\n");

    AssembleRepeatedly(state, installation);
    CountPerJar(state, jars);
}
BENCHMARK(BM_OptionAssemblyByJarCount)
    ->Arg(10)
    ->Arg(1000)
    ->Arg(10000)
    ->Complexity(benchmark::oN)
    ->Unit(benchmark::kMicrosecond);

// The host's own share: the same listing served from memory.
void BM_OptionAssemblyByJarCountListedInMemory(benchmark::State& state) {
    const int jars = static_cast<int>(state.range(0));
    Installation installation;
    std::filesystem::create_directories(installation.jarDirectory());
    listing::names.clear();
    for (int i = 0; i < jars; ++i) listing::names.push_back(JarName(i));

    listing::armed = true;
    AssembleRepeatedly(state, installation);
    listing::armed = false;
    CountPerJar(state, jars);
}
BENCHMARK(BM_OptionAssemblyByJarCountListedInMemory)
    ->Arg(10)
    ->Arg(1000)
    ->Arg(10000)
    ->Complexity(benchmark::oN)
    ->Unit(benchmark::kMicrosecond);

// An init file of the given size: commentary lines that the reader passes
// over, then fifty option lines, so that it reads the whole file; no jars.
void BM_OptionAssemblyByInitFileSize(benchmark::State& state) {
    const size_t bytes = static_cast<size_t>(state.range(0));
    Installation installation;
    std::string options;
    for (int i = 0; i < 50; ++i) options += "-Dalder.setting" + std::to_string(i) + "=value\n";
    const std::string commentary = "# commentary line that the reader skips, sixty-four bytes long\n";
    std::string text;
    while (text.size() + commentary.size() + options.size() <= bytes) text += commentary;
    text += options;
    Installation::WriteFile(installation.bin() / "alder.init", text);

    AssembleRepeatedly(state, installation);
    state.SetComplexityN(static_cast<int64_t>(text.size()));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_OptionAssemblyByInitFileSize)
    ->Arg(4 << 10)
    ->Arg(256 << 10)
    ->Arg(16 << 20)
    ->Complexity(benchmark::oN)
    ->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
