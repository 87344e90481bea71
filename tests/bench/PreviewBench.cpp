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
// window does.
#include "definitions/ZolvaProducts.h"
#include "platform/EmbeddedResources.h"
#include "resources/ShippedResources.h"
#include "rules/PreviewRecord.h"
#include "rules/RegistryAccess.h"
#include "tests/bench/BenchTiming.h"
#include "tests/bench/CountingRegistry.h"

#ifdef _WIN32
#include "platform/RegistryWin32.h"
#else
#include "platform/doubles/MemoryRegistry.h"
#endif

#include <cstdio>
#include <vector>

namespace {

using namespace keystrip;
using namespace keystrip::platform;
using bench::Median;
using bench::Milliseconds;
using bench::Plant;

RegKey Root(TZolvaProductRootKey root) {
    const RegKey roots[] = {kHkeyClassesRoot, kHkeyCurrentUser, kHkeyLocalMachine, kHkeyUsers};
    return root < 4 ? roots[root] : kHkeyClassesRoot;
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

} // namespace

int main() {
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
    return 0;
}
