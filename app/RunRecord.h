// What the -json file tells beyond the run's outcome: each product that a
// removal or a preview went through, rule by rule at each root, and what
// became of each user's profile. Kept only when -json asks for it.
#pragma once

#include "rules/PreviewRecord.h"
#include "rules/RemovalRecord.h"
#include "rules/UserProfiles.h"

#include <string>
#include <vector>

namespace keystrip {

struct TProductRecord {
    std::u16string Name;
    bool Previewed = false; // a preview, else a removal
    bool Complete = true;   // every rule went, or would go, in full
    TRemovalProduct Removal;
    TPreviewProduct Preview;
};

struct TRunRecord {
    bool Kept = false; // -json: the runs fill it
    bool Preview = false;
    bool AllUsers = false;
    std::vector<TProductRecord> Products;
    // What became of each user's profile in the last run over them.
    std::vector<TProfileOutcome> Profiles;
};

} // namespace keystrip
