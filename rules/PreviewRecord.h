// What a preview found, as data rather than report lines: per product, each
// removal rule at each root it applies to, with the tree of keys a removal
// would take and their values. The inspector fills it only when a caller asks
// for it (the text report needs none of it); the preview window's tree and
// the -json file read it.
//
// A rule's tree is stored flat, parents before children in the order the
// walk met them, so that a key's subtree is the run of keys from its own
// index up to its End; 100,000 keys take a few megabytes.
#pragma once

#include "definitions/ZolvaProduct.h"
#include "platform/Registry.h"
#include "rules/RegistryTree.h"

#include <cstdint>
#include <string>
#include <vector>

namespace keystrip {

enum TPreviewStatus : uint8_t {
    psNotFound,          // nothing there to delete
    psWouldBeDeleted,    // a removal would delete it (Reason may add a note)
    psWouldNotBeDeleted, // a removal would refuse it, or fail: Reason says why
};

struct TPreviewValue {
    std::u16string Name; // may hold NUL characters; empty for the default value
    uint32_t Type = 0;
    uint32_t Size = 0; // bytes of data
};

constexpr uint32_t kNoPreviewKey = 0xFFFFFFFFu;

struct TPreviewKey {
    // The last part of its path; for the top key the rule's path below its root.
    std::u16string Name;
    uint32_t Parent = kNoPreviewKey;
    // One past its last descendant: its subtree is [its index, End).
    uint32_t End = 0;
    // Its values, as far as they could be read: TPreviewRule::KeyValues[FirstValue,
    // FirstValue + ListedValues).
    uint32_t FirstValue = 0;
    uint32_t ListedValues = 0;
    // The numbers of subkeys and values the registry gives for it (0 for a link).
    uint32_t SubKeyCount = 0;
    uint32_t ValueCount = 0;
    // Values in its subtree, its own included (summed from ValueCount).
    uint64_t SubtreeValues = 0;
    bool IsLink = false;       // met as itself and never entered
    std::u16string LinkTarget; // the kernel name a link leads to
    uint8_t Gaps = tgNone;     // TTreeGaps of what was left out at or right below it
};

// A subkey the walk left alone, with everything below it.
struct TPreviewLeftOut {
    uint32_t Parent = 0;  // the key it lies in
    uint8_t Gap = tgNone; // tgRefused (not what its name says) or tgUnreadable
    std::u16string Name;
};

struct TPreviewRule {
    int RuleIndex = 0; // of the removal rule in its product
    TZolvaProductRemoveAction Action = raCompleteKey;
    // HKEY_LOCAL_MACHINE, ..., or HKEY_USERS\<SID> for a user's hive.
    std::u16string RootText;
    std::u16string Key;       // below the root
    std::u16string ValueName; // a value rule's value
    TPreviewStatus Status = psNotFound;
    // Why a removal would refuse it; with psWouldBeDeleted a note such as
    // "part of it cannot be read".
    std::u16string Reason;
    // What it would delete (a refused tree: what it holds).
    uint64_t Keys = 0;
    uint64_t Values = 0;
    uint64_t Bytes = 0; // of value data
    uint8_t Gaps = tgNone;

    // A key rule that was reached: its tree, Tree[0] the rule's key.
    std::vector<TPreviewKey> Tree;
    std::vector<TPreviewValue> KeyValues; // the values of the tree's keys
    std::vector<TPreviewLeftOut> LeftOut;
    // A value rule whose value is there.
    TPreviewValue Value;

    // "HKEY_LOCAL_MACHINE\SOFTWARE\Zolva\Office", as the report names it.
    std::u16string KeyPath() const { return RootText + u'\\' + Key; }
};

struct TPreviewProduct {
    std::u16string Name;
    bool Complete = true; // every rule could be applied in full
    std::vector<TPreviewRule> Rules;
};

// "1 key, 0 values", "12 keys, 31 values": the counts as the report writes them.
std::u16string KeysAndValuesText(uint64_t Keys, uint64_t Values);
// "REG_SZ, 12 bytes": a value's type and size as the report writes them.
std::u16string TypeAndSizeText(uint32_t Type, uint64_t Size);

// Builds a rule's tree from the keys a TRegistryTree walk visits, reading
// each key's values through the key's open handle.
class TPreviewTreeBuilder {
public:
    TPreviewTreeBuilder(platform::IRegistry& Registry, TPreviewRule& Rule);

    // A visited key (parents come before their children).
    void Add(const TTreeKey& Key);
    // What the walk left out at Key: the subkey Name, or (Name null) Key's own
    // subkeys.
    void Gap(const TTreeKey& Key, uint8_t Gap, const std::u16string* Name);
    // Sets every key's End and SubtreeValues and the rule's totals.
    void Finish();

private:
    platform::IRegistry& FRegistry;
    TPreviewRule& FRule;
    std::vector<uint32_t> FOpen; // the keys on the way down to the last one added
};

} // namespace keystrip
