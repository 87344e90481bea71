// Google Benchmark of reading a product definition of 4,000, 16,000 and
// 32,000 removal rules. Next to TZolvaProduct::LoadFromBuffer it times the
// library's parse of the same text twice: with a parser callback that refuses
// nesting beyond 256 levels (the way the reader once bounded nesting) and
// without any callback, so one run gives the cost of that callback, how it
// grows with the rule count, and the reader's own cost.
// Build and run (a Release tree gives meaningful times):
//   cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release
//   cmake --build build/bench --target keystrip_bench_definitions
//   build/bench/tests/bench/keystrip_bench_definitions
#include "common/Errors.h"
#include "common/Utf.h"
#include "definitions/ZolvaProduct.h"

#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>

#include <map>
#include <string>

namespace {

using namespace keystrip;
using Json = nlohmann::json;

// One line in the shipped definitions' form.
std::string Document(int rules) {
    std::string text = R"({"creator":"bench","detection":[{"action":"KeyExist",)"
                       R"("key":"SOFTWARE\\Zolva\\Bench","value":"","root":"HKEY_LOCAL_MACHINE",)"
                       R"("name":""}],"version":1,"removal":[)";
    for (int i = 0; i < rules; ++i) {
        if (i > 0)
            text += ',';
        text += R"({"action":"CompleteKey","key":"SOFTWARE\\Zolva\\Bench\\Part)" +
                std::to_string(i) + R"(","root":"HKEY_LOCAL_MACHINE","name":""})";
    }
    text += R"(],"name":"Zolva Bench"})";
    return text;
}

const std::string& Utf8(int rules) {
    static std::map<int, std::string> texts;
    auto it = texts.find(rules);
    if (it == texts.end())
        it = texts.emplace(rules, Document(rules)).first;
    return it->second;
}

void Sizes(benchmark::internal::Benchmark* bench) {
    bench->Arg(4000)->Arg(16000)->Arg(32000)->Unit(benchmark::kMillisecond);
}

void ParseWithDepthCallback(benchmark::State& state) {
    const auto boundDepth = [](int depth, Json::parse_event_t event, Json&) {
        if ((event == Json::parse_event_t::object_start ||
             event == Json::parse_event_t::array_start) &&
            depth >= 256)
            throw EParseError("The product definition is nested too deeply.");
        return true;
    };
    const std::string& text = Utf8(static_cast<int>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(Json::parse(text, boundDepth, true, false));
}
BENCHMARK(ParseWithDepthCallback)->Apply(Sizes);

void ParseWithoutCallback(benchmark::State& state) {
    const std::string& text = Utf8(static_cast<int>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(Json::parse(text, nullptr, true, false));
}
BENCHMARK(ParseWithoutCallback)->Apply(Sizes);

void LoadFromBuffer(benchmark::State& state) {
    const int rules = static_cast<int>(state.range(0));
    const std::u16string text = Utf8ToUtf16(Utf8(rules));
    for (auto _ : state) {
        TZolvaProduct product(u"");
        product.LoadFromBuffer(text);
        if (product.RemovalCount() != rules)
            state.SkipWithError("the rules were not all read");
    }
}
BENCHMARK(LoadFromBuffer)->Apply(Sizes);

} // namespace

BENCHMARK_MAIN();
