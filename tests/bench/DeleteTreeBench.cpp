// Google Benchmark of TRegistryAccess::DeleteKey on the in-memory registry.
// Build and run (a Release tree gives meaningful times):
//   cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release
//   cmake --build build/bench --target keystrip_bench && build/bench/tests/bench/keystrip_bench
#include "platform/doubles/MemoryRegistry.h"
#include "rules/RegistryAccess.h"
#include "tests/bench/CountingRegistry.h"

#include <benchmark/benchmark.h>

#include <string>

namespace {

using namespace keystrip;
using namespace keystrip::platform;

void BuildTree(MemoryRegistry& registry) {
    const std::u16string top = u"SOFTWARE\\ZolvaBench";
    registry.SetString(kHkeyLocalMachine, top, u"v", u"data");
    for (int c = 0; c < bench::kChildren; ++c) {
        std::string child = "\\Child" + std::to_string(c);
        std::u16string childPath = top + std::u16string(child.begin(), child.end());
        registry.SetString(kHkeyLocalMachine, childPath, u"v", u"data");
        for (int g = 0; g < bench::kGrandchildren; ++g) {
            std::string grand = "\\Grandchild" + std::to_string(g);
            registry.SetString(kHkeyLocalMachine,
                               childPath + std::u16string(grand.begin(), grand.end()), u"v",
                               u"data");
        }
    }
}

void DeleteTenThousandKeys(benchmark::State& state) {
    double callsPerKey = 0;
    for (auto _ : state) {
        state.PauseTiming();
        MemoryRegistry memory;
        BuildTree(memory);
        bench::CountingRegistry counting(memory);
        state.ResumeTiming();

        TRegistryAccess access(counting, kKeyAllAccess);
        access.SetRootKey(kHkeyLocalMachine);
        if (!access.DeleteKey(u"SOFTWARE\\ZolvaBench"))
            state.SkipWithError("the tree was not deleted");
        callsPerKey = static_cast<double>(counting.Calls()) / bench::kKeys;
    }
    state.counters["calls_per_key"] = callsPerKey;
    state.counters["keys"] = bench::kKeys;
}
BENCHMARK(DeleteTenThousandKeys)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
