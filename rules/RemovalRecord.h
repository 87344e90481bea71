// What a removal did, as data rather than report lines: per product, each
// removal rule at each root it applied to and what became of it. The remover
// fills it only when a caller asks for it (the -json file); the report lines
// stay as they are.
#pragma once

#include "definitions/ZolvaProduct.h"

#include <cstdint>
#include <string>
#include <vector>

namespace keystrip {

enum TRemovalResult : uint8_t {
    rrDeleted,     // the key with its subtree, or the value, was deleted
    rrNotFound,    // nothing there to delete
    rrNotDeleted,  // deleting it failed or was refused
    rrNotBackedUp, // its backup could not be written, so nothing was deleted
    rrFailed,      // a fault broke the rule off
    rrSimulated,   // only logged, as the remover simulates
};

struct TRemovalRule {
    int RuleIndex = 0; // of the removal rule in its product
    TZolvaProductRemoveAction Action = raCompleteKey;
    // HKEY_LOCAL_MACHINE, ..., or HKEY_USERS\<SID> for a user's hive.
    std::u16string RootText;
    std::u16string Key;       // below the root
    std::u16string ValueName; // a value rule's value
    TRemovalResult Result = rrNotFound;
    std::u16string Reason; // why it was not backed up
};

struct TRemovalProduct {
    std::u16string Name;
    bool Complete = true; // every rule succeeded
    std::vector<TRemovalRule> Rules;
};

} // namespace keystrip
