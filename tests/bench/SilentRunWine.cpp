// Timed silent removals in-process, on the real registry under Wine: the
// main window created in silent mode with -silent -product for the shipped
// product with the most removal rules, as the exe does it, from the start of
// the application to the window's end. Two variants alternate round by round
// in one run: "filled" also puts the terms into their view, which every
// silent run did before it stopped filling a view no one sees; "skipped" is
// the program as it is. The traces are planted afresh before every timed run.
// Build and run on a display (the window is created hidden):
//   cmake --build --preset win64 --target keystrip_bench_silent_wine
//   P=$PWD/build/win64/guiprefix
//   tests/e2e/with-xvfb.sh $P cmake/wine-run.sh $P
//       build/win64/tests/bench/keystrip_bench_silent_wine.exe [ROUNDS]
// (one command line).
#include "app/Application.h"
#include "app/MainFormUnit.h"
#include "app/TermsView.h"
#include "definitions/ZolvaProducts.h"
#include "platform/RegistryWin32.h"
#include "platform/ResourcesWin32.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using namespace keystrip;
using Clock = std::chrono::steady_clock;

const REGSAM kView = static_cast<REGSAM>(platform::Win32Registry::ViewFlag());

HKEY RootOf(TZolvaProductRootKey root) {
    switch (root) {
    case rkClassesRoot:
        return HKEY_CLASSES_ROOT;
    case rkCurrentUser:
        return HKEY_CURRENT_USER;
    case rkUsers:
        return HKEY_USERS;
    default:
        return HKEY_LOCAL_MACHINE;
    }
}

std::wstring Wide(const std::u16string& text) {
    return std::wstring(text.begin(), text.end());
}

void SetString(HKEY root, const std::wstring& key, const std::wstring& name,
               const std::wstring& value) {
    HKEY open = nullptr;
    if (RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | kView, nullptr, &open,
                        nullptr) != ERROR_SUCCESS)
        return;
    RegSetValueExW(open, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(open);
}

// What the product's removal rules name: each key with a value and a
// subkey, each value.
void Plant(const TZolvaProduct& product) {
    for (int i = 0; i < product.RemovalCount(); ++i) {
        const TZolvaProductRemoveRule& rule = *product.Removals(i);
        const HKEY root = RootOf(rule.Root);
        if (rule.Action == raCompleteKey) {
            SetString(root, Wide(rule.Key), L"InstallDir", L"C:\\Zolva");
            SetString(root, Wide(rule.Key) + L"\\Settings", L"Level", L"3");
        } else {
            SetString(root, Wide(rule.Key), Wide(rule.Name), L"planted");
        }
    }
}

bool Removed(const TZolvaProduct& product) {
    for (int i = 0; i < product.RemovalCount(); ++i) {
        const TZolvaProductRemoveRule& rule = *product.Removals(i);
        if (rule.Action != raCompleteKey)
            continue;
        HKEY open = nullptr;
        if (RegOpenKeyExW(RootOf(rule.Root), Wide(rule.Key).c_str(), 0, KEY_READ | kView, &open) ==
            ERROR_SUCCESS) {
            RegCloseKey(open);
            return false;
        }
    }
    return true;
}

// One silent run as the exe makes it; true when it ended as a silent removal does.
bool SilentRun(const std::u16string& name, bool fillTerms) {
    TApplication application;
    application.Initialize();
    application.SetTitle(u"Zolva Keystrip");
    application.SetShowMainForm(false);
    platform::Win32Registry registry;
    platform::Win32Resources resources;
    TMainFormServices services;
    services.Registry = &registry;
    services.Resources = &resources;
    services.CommandLine = u"ZolvaKeystrip.exe -silent -product \"" + name + u"\"";
    bool ended = false;
    {
        TMainForm form(application, services);
        if (fillTerms)
            FillTermsView(form.Control(ciEulaEdit), ReadTerms(resources));
        ended = application.Terminated() && form.Outcome().ProductsRemoved() == 1;
    }
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    }
    return ended;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

} // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 30;
    platform::Win32Registry registry;
    platform::Win32Resources resources;
    TZolvaProducts catalogue(registry, resources);
    catalogue.LoadFromResource();
    const TZolvaProduct* largest = nullptr;
    for (int i = 0; i < catalogue.Count(); ++i) {
        const TZolvaProduct* product = catalogue.Items(i)->Product.get();
        if (product && (!largest || product->RemovalCount() > largest->RemovalCount()))
            largest = product;
    }
    if (!largest) {
        std::fprintf(stderr, "no product definitions\n");
        return 1;
    }
    std::printf("product: %s (%d removal rules), %d rounds\n",
                std::string(largest->Name().begin(), largest->Name().end()).c_str(),
                largest->RemovalCount(), rounds);

    std::vector<double> filled, skipped;
    // One untimed run of each first: the libraries and the resources load once.
    for (bool fill : {true, false}) {
        Plant(*largest);
        SilentRun(largest->Name(), fill);
    }
    for (int round = 0; round < rounds; ++round) {
        for (int k = 0; k < 2; ++k) {
            const bool fill = (round + k) % 2 == 0;
            Plant(*largest);
            const auto start = Clock::now();
            const bool ended = SilentRun(largest->Name(), fill);
            const double ms =
                std::chrono::duration<double, std::milli>(Clock::now() - start).count();
            if (!ended || !Removed(*largest)) {
                std::fprintf(stderr, "round %d: the silent removal did not end as it should\n",
                             round + 1);
                return 1;
            }
            (fill ? filled : skipped).push_back(ms);
        }
    }
    const double before = Median(filled), after = Median(skipped);
    std::printf("terms filled (before):  median %.1f ms\n", before);
    std::printf("terms skipped (after):  median %.1f ms\n", after);
    std::printf("after / before: %.3f, i.e. %.1f%% faster\n", after / before,
                (1 - after / before) * 100);
    return 0;
}
