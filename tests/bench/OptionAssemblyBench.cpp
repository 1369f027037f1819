// Option assembly against the number of jars and the size of the init file.
// The cost per jar and per init-file byte should stay flat: assembling is
// linear in what it lists and reads.
#include <benchmark/benchmark.h>

#include <stdlib.h>

#include <memory>
#include <string>

#include "Installation.h"
#include "JvmOptions.h"

namespace {

// The list is meant to live as long as the process; a benchmark that builds
// it many times hands the memory back after each build.
void ReleaseOptionList(const JvmOptionList& list) {
    for (jint i = 2; i + 1 < list.count; ++i) free(list.options[i].optionString);
    free(list.bootClassPath);
    free(list.options);
}

void AssembleRepeatedly(benchmark::State& state, const Installation& installation) {
    std::string moduleDirectory = installation.moduleDirectory();
    for (auto _ : state) {
        JvmOptionList list = BuildJvmOptionList(moduleDirectory.c_str(), "alder.init");
        if (list.options == nullptr) state.SkipWithError("option list not built");
        benchmark::DoNotOptimize(list.options);
        ReleaseOptionList(list);
    }
}

// Jar names of a realistic length, all different.
void BM_OptionAssemblyByJarCount(benchmark::State& state) {
    const int jars = static_cast<int>(state.range(0));
    Installation installation;
    for (int i = 0; i < jars; ++i) installation.addJar("product-module-" + std::to_string(100000 + i) + ".jar");
    Installation::WriteFile(installation.bin() / "alder.init", "-Xms64m\n-Xmx512m\n-Dalder.port=8080\n");

    AssembleRepeatedly(state, installation);
    state.SetComplexityN(jars);
    state.counters["per_jar"] =
        benchmark::Counter(static_cast<double>(jars), benchmark::Counter::kIsIterationInvariantRate |
                                                          benchmark::Counter::kInvert);
}
BENCHMARK(BM_OptionAssemblyByJarCount)->Arg(10)->Arg(1000)->Arg(10000)->Complexity(benchmark::oN)
    ->Unit(benchmark::kMicrosecond);

// An init file of the given size: fifty option lines, the rest commentary
// lines that the reader passes over; no jars.
void BM_OptionAssemblyByInitFileSize(benchmark::State& state) {
    const size_t bytes = static_cast<size_t>(state.range(0));
    Installation installation;
    std::string text;
    for (int i = 0; i < 50; ++i) text += "-Dalder.setting" + std::to_string(i) + "=value\n";
    const std::string commentary = "# commentary line that the reader skips, sixty-four bytes long\n";
    while (text.size() + commentary.size() <= bytes) text += commentary;
    Installation::WriteFile(installation.bin() / "alder.init", text);

    AssembleRepeatedly(state, installation);
    state.SetComplexityN(static_cast<int64_t>(text.size()));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_OptionAssemblyByInitFileSize)->Arg(4 << 10)->Arg(256 << 10)->Arg(16 << 20)
    ->Complexity(benchmark::oN)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
