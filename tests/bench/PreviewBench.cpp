// The preview of all seven shipped products against their detection and
// their removal, in one run, on a registry holding every trace the products'
// rules name (each complete key with a small subtree of its own). Under Wine
// it works on the real registry of the prefix it runs in (use a prefix of its
// own), natively on the in-memory registry:
//   cmake --build --preset win64 --target keystrip_bench_preview
//   cmake/wine-run.sh $PWD/build/win64/benchprefix
//   build/win64/tests/bench/keystrip_bench_preview.exe cmake --build --preset native --target
//   keystrip_bench_preview build/native/tests/bench/keystrip_bench_preview
// Detection, preview and removal each run 20 times, alternating, on the same
// planted traces (planted again before each removal); medians are printed.
// The preview runs twice a round: for the report alone, as the text preview
// and -preview do, and recording every key and value as well, as the preview
// window does. With a number N on the command line it then previews one key
// with a tree of N keys (a thousand children with the rest below them, a value
// on each key), the same two ways, and prints what the record holds.
#include "common/Utf.h"
#include "definitions/ZolvaProducts.h"
#include "platform/EmbeddedResources.h"
#include "resources/ShippedResources.h"
#include "rules/PreviewRecord.h"
#include "rules/RegistryAccess.h"
#include "rules/ZolvaProductInspector.h"
#include "tests/bench/CountingRegistry.h"

#ifdef _WIN32
#include "platform/RegistryWin32.h"
#else
#include "platform/doubles/MemoryRegistry.h"
#endif

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using namespace keystrip;
using namespace keystrip::platform;
using Clock = std::chrono::steady_clock;

RegKey Root(TZolvaProductRootKey root) {
    const RegKey roots[] = {kHkeyClassesRoot, kHkeyCurrentUser, kHkeyLocalMachine, kHkeyUsers};
    return root < 4 ? roots[root] : kHkeyClassesRoot;
}

// Creates the key (and its path) and sets a string value on it.
void Plant(IRegistry& registry, RegKey root, const std::u16string& path,
           const std::u16string& name) {
    RegKey key = 0;
    bool created = false;
    if (registry.CreateKey(root, path, 0, kKeyAllAccess, key, created) != kErrorSuccess)
        return;
    registry.SetValue(key, name, kRegSz, {'x', 0, 0, 0});
    registry.CloseKey(key);
}

void PlantTraces(IRegistry& registry, TZolvaProducts& products) {
    for (int i = 0; i < products.Count(); ++i) {
        const TZolvaProduct& product = *products.Items(i)->Product;
        for (int r = 0; r < product.DetectionCount(); ++r)
            Plant(registry, Root(product.Detections(r)->Root), product.Detections(r)->Key, u"");
        for (int r = 0; r < product.RemovalCount(); ++r) {
            const auto& rule = *product.Removals(r);
            if (rule.Action == raNameOnly) {
                Plant(registry, Root(rule.Root), rule.Key, rule.Name);
            } else {
                Plant(registry, Root(rule.Root), rule.Key, u"");
                Plant(registry, Root(rule.Root), rule.Key + u"\\Settings", u"Path");
                Plant(registry, Root(rule.Root), rule.Key + u"\\Settings\\Deep", u"Level");
            }
        }
    }
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

template <typename Run> double Milliseconds(Run run) {
    const auto start = Clock::now();
    run();
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Below HKLM\SOFTWARE\ZolvaBench\Tree: Keys keys in all, each with one value.
uint64_t PlantTree(IRegistry& registry, int keys) {
    const std::u16string top = u"SOFTWARE\\ZolvaBench\\Tree";
    int planted = 0;
    Plant(registry, kHkeyLocalMachine, top, u"v");
    ++planted;
    const int children = std::min(1000, keys - 1);
    for (int c = 0; c < children && planted < keys; ++c) {
        const std::u16string child = top + u"\\C" + U16(std::to_string(c));
        Plant(registry, kHkeyLocalMachine, child, u"v");
        ++planted;
        const int below = (keys - 1 - children) / std::max(1, children) +
                          (c < (keys - 1 - children) % std::max(1, children) ? 1 : 0);
        for (int g = 0; g < below; ++g, ++planted)
            Plant(registry, kHkeyLocalMachine, child + u"\\G" + U16(std::to_string(g)), u"v");
    }
    return static_cast<uint64_t>(planted);
}

int LargeTree(IRegistry& registry, int keys) {
    const uint64_t planted = PlantTree(registry, keys);
    TZolvaProduct product(u"Zolva Bench");
    product.AddRemoval(rkLocalMachine, u"SOFTWARE\\ZolvaBench\\Tree", u"", raCompleteKey);
    std::vector<double> report, recorded;
    TPreviewProduct record;
    for (int round = 0; round < 5; ++round) {
        report.push_back(Milliseconds([&] {
            TActivityLogger log;
            TZolvaProductInspector(&product, &log, registry).ProductInspected();
        }));
        recorded.push_back(Milliseconds([&] {
            TActivityLogger log;
            TZolvaProductInspector inspector(&product, &log, registry);
            inspector.SetRecord(&record);
            inspector.ProductInspected();
        }));
    }
    const TPreviewRule& rule = record.Rules.at(0);
    if (rule.Keys != planted || rule.Values != planted) {
        std::fprintf(stderr, "the record holds %llu keys and %llu values of %llu\n",
                     static_cast<unsigned long long>(rule.Keys),
                     static_cast<unsigned long long>(rule.Values),
                     static_cast<unsigned long long>(planted));
        return 1;
    }
    size_t bytes = sizeof(TPreviewRule) + rule.Tree.capacity() * sizeof(TPreviewKey) +
                   rule.KeyValues.capacity() * sizeof(TPreviewValue);
    for (const auto& key : rule.Tree)
        bytes += key.Name.capacity() * sizeof(char16_t);
    const double r = Median(report), w = Median(recorded);
    std::printf("one key with %llu keys below it, medians of 5 runs\n",
                static_cast<unsigned long long>(planted));
    std::printf("preview, report alone  %8.2f ms\n", r);
    std::printf("preview with record    %8.2f ms  (%.2f times the report alone)\n", w, w / r);
    std::printf("record: %zu keys, %zu values, about %.1f MB\n", rule.Tree.size(),
                rule.KeyValues.size(), static_cast<double>(bytes) / 1e6);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
    Win32Registry real;
#else
    MemoryRegistry real;
#endif
    bench::CountingRegistry registry(real);
    EmbeddedResources files(resources::ShippedFiles());
    TZolvaProducts products(registry, files);
    products.LoadFromResource();
    if (products.Count() != 7) {
        std::fprintf(stderr, "the shipped definitions did not load\n");
        return 1;
    }
    const int count = products.Count();
    std::vector<double> detection, preview, recorded, removal;
    unsigned long long detectionCalls = 0, previewCalls = 0, removalCalls = 0;
    for (int round = 0; round < 20; ++round) {
        PlantTraces(registry, products);
        auto calls = registry.Calls();
        detection.push_back(Milliseconds([&] {
            for (int i = 0; i < count; ++i)
                products.Detect(products.Items(i));
        }));
        detectionCalls = registry.Calls() - calls;
        calls = registry.Calls();
        preview.push_back(Milliseconds([&] {
            for (int i = 0; i < count; ++i)
                products.Inspect(products.Items(i));
        }));
        previewCalls = registry.Calls() - calls;
        recorded.push_back(Milliseconds([&] {
            for (int i = 0; i < count; ++i) {
                TPreviewProduct record;
                products.Inspect(products.Items(i), nullptr, &record);
            }
        }));
        calls = registry.Calls();
        removal.push_back(Milliseconds([&] {
            for (int i = 0; i < count; ++i)
                products.Remove(products.Items(i));
        }));
        removalCalls = registry.Calls() - calls;
    }
    for (int i = 0; i < count; ++i)
        if (!products.Items(i)->Found || !products.Items(i)->Removed) {
            std::fprintf(stderr, "product %d was not found or not removed\n", i + 1);
            return 1;
        }
    const double d = Median(detection), p = Median(preview), w = Median(recorded),
                 r = Median(removal);
    std::printf("seven products, traces planted, medians of 20 runs\n");
    std::printf("detection %8.2f ms  %6llu registry calls\n", d, detectionCalls);
    std::printf("preview   %8.2f ms  %6llu registry calls\n", p, previewCalls);
    std::printf("recorded  %8.2f ms\n", w);
    std::printf("removal   %8.2f ms  %6llu registry calls\n", r, removalCalls);
    std::printf("preview / detection %.1f, preview / removal %.2f, recorded / preview %.2f\n",
                p / d, p / r, w / p);
    if (argc > 1)
        return LargeTree(real, std::atoi(argv[1]));
    return 0;
}
