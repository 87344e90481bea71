// Where the rules on each root apply. Normally every rule works on its own
// predefined root. With every user's profile asked for, the rules on
// HKEY_CURRENT_USER apply to each user's hive instead, and the rules on a
// user's classes (HKEY_CURRENT_USER\Software\Classes, which is the user's
// classes hive, and HKEY_CLASSES_ROOT, which merges it over the machine's)
// to each user's classes hive: each an open key below HKEY_USERS with the
// name the report shows for it.
#pragma once

#include "definitions/ZolvaProduct.h"
#include "platform/Registry.h"

#include <string>
#include <vector>

namespace keystrip {

struct TRuleRoot {
    platform::RegKey Handle = 0;
    // How paths below it read in the report (HKEY_USERS\S-1-5-21-...);
    // empty for a predefined root, which reads as its own name.
    std::u16string Text;
};

// One place a rule applies: the root, and the rule's key below it.
struct TRuleTarget {
    TRuleRoot Root;
    std::u16string Key;
};

class TRuleRoots {
public:
    // The hives the rules on HKEY_CURRENT_USER apply to instead of it.
    void SetUserRoots(std::vector<TRuleRoot> Roots) { FUserRoots = std::move(Roots); }
    const std::vector<TRuleRoot>& UserRoots() const { return FUserRoots; }
    // The users' classes hives (HKEY_USERS\<SID>_Classes).
    void SetClassesRoots(std::vector<TRuleRoot> Roots) { FClassesRoots = std::move(Roots); }
    const std::vector<TRuleRoot>& ClassesRoots() const { return FClassesRoots; }

    // Where a rule on Root with Key applies, in order: a rule on
    // HKEY_CURRENT_USER at each user's hive, or, below Software\Classes, at
    // each classes hive with the rest of its key; a rule on
    // HKEY_CLASSES_ROOT at that root and then at each classes hive; any
    // other at its own root. Without roots (null) every rule applies at its
    // own root alone.
    static std::vector<TRuleTarget> TargetsOf(const TRuleRoots* Roots, TZolvaProductRootKey Root,
                                              const std::u16string& Key);
    // The predefined root of a rule's root (HKEY_CLASSES_ROOT for a value
    // outside the enumeration).
    static platform::RegKey RootHandle(TZolvaProductRootKey Root);

private:
    std::vector<TRuleRoot> FUserRoots;
    std::vector<TRuleRoot> FClassesRoots;
};

} // namespace keystrip
