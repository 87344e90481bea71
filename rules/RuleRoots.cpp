#include "rules/RuleRoots.h"

#include "common/RegistryName.h"

namespace keystrip {

using namespace platform;

namespace {

// The rest of Key below Software\Classes; false when Key does not lie there.
bool BelowClasses(const std::u16string& Key, std::u16string& Rest) {
    const std::vector<std::u16string> parts = SplitRegistryPath(Key);
    if (parts.size() < 2 || !SameRegistryName(parts[0], u"Software") ||
        !SameRegistryName(parts[1], u"Classes"))
        return false;
    Rest.clear();
    for (size_t i = 2; i < parts.size(); ++i) {
        if (i > 2)
            Rest += u'\\';
        Rest += parts[i];
    }
    return true;
}

} // namespace

RegKey TRuleRoots::RootHandle(TZolvaProductRootKey Root) {
    switch (Root) {
    case rkClassesRoot:
        return kHkeyClassesRoot;
    case rkCurrentUser:
        return kHkeyCurrentUser;
    case rkLocalMachine:
        return kHkeyLocalMachine;
    case rkUsers:
        return kHkeyUsers;
    case rkPerformanceData:
        return kHkeyPerformanceData;
    case rkCurrentConfig:
        return kHkeyCurrentConfig;
    case rkDynData:
        return kHkeyDynData;
    }
    return kHkeyClassesRoot;
}

std::vector<TRuleTarget> TRuleRoots::TargetsOf(const TRuleRoots* Roots, TZolvaProductRootKey Root,
                                               const std::u16string& Key) {
    std::vector<TRuleTarget> targets;
    if (Roots != nullptr && Root == rkCurrentUser) {
        std::u16string rest;
        if (BelowClasses(Key, rest)) {
            for (const auto& root : Roots->FClassesRoots)
                targets.push_back({root, rest});
        } else {
            for (const auto& root : Roots->FUserRoots)
                targets.push_back({root, Key});
        }
        return targets;
    }
    targets.push_back({TRuleRoot{RootHandle(Root), u""}, Key});
    if (Roots != nullptr && Root == rkClassesRoot)
        for (const auto& root : Roots->FClassesRoots)
            targets.push_back({root, Key});
    return targets;
}

} // namespace keystrip
