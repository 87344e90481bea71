// Where the rules on each root apply. Normally every rule works on its own
// predefined root. With every user's profile asked for, the rules on
// HKEY_CURRENT_USER apply to each user's hive instead, each an open key
// below HKEY_USERS with the name the report shows for it.
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

class TRuleRoots {
public:
    // The hives the rules on HKEY_CURRENT_USER apply to instead of it.
    void SetUserRoots(std::vector<TRuleRoot> Roots) { FUserRoots = std::move(Roots); }
    const std::vector<TRuleRoot>& UserRoots() const { return FUserRoots; }

private:
    std::vector<TRuleRoot> FUserRoots;
};

} // namespace keystrip
