// Reaching a rule's key and walking the tree below it without being steered
// elsewhere. The program runs elevated and a user can plant odd states under
// keys it deletes: subkey names with NUL characters (which C-string calls cut
// short, reaching the parent or a sibling), registry links (which lead
// anywhere), and trees deeper than the registry allows. So:
//   - the path to a key is opened one part at a time, each part checked to be
//     the key asked for (by its kernel name); a link on the path is followed
//     only when it leads from machine keys to machine keys, as the system's
//     own do (CurrentControlSet, the 32-bit view's shared keys), and refuses
//     the key otherwise;
//   - below the key every subkey is enumerated, opened and deleted by its
//     counted name, relative to its parent, without the view flag and without
//     following links; each one opened is checked to be the child it was asked
//     for, and anything else is left alone with everything below it;
//   - the walk stops at the registry's depth limit.
// Deleting, counting and exporting all walk the same way, so they agree on
// what a rule covers.
#pragma once

#include "platform/Registry.h"

#include <cstdint>
#include <functional>
#include <string>

namespace keystrip {

// How reaching a key ended.
enum class TKeyReach {
    Reached, // the key is open
    Absent,  // it, or a part of its path, does not exist or cannot be opened
    Refused, // a link the walk must not follow, or a key that is not what was asked for
};

// Whether reaching a key may create the parts of its path that are missing.
enum class TReachMode { rmOpen, rmCreate };

// A key met by a walk.
struct TTreeKey {
    platform::RegKey Handle = 0;
    // Below the walk's top key, parts joined by backslashes; empty for the top.
    std::u16string Path;
    // Levels below the walk's top key (0 for the top).
    uint32_t Level = 0;
    std::u16string KernelName;
    // A link is met as itself: it is never entered.
    bool IsLink = false;
    // The numbers of its subkeys and values (0 for a link, or for a key whose
    // numbers cannot be read: see TTreeGaps).
    uint32_t SubKeys = 0;
    uint32_t Values = 0;
    std::u16string LinkTarget; // the kernel name a link leads to
};

// What a walk over a tree left out, as bits; 0 when it covered everything.
enum TTreeGaps : uint8_t {
    tgNone = 0,
    tgUnreadable = 1, // a key whose subkeys could not be read
    tgRefused = 2,    // a subkey that was not what was asked for
    tgTooDeep = 4,    // keys below the registry's depth limit
    tgStopped = 8,    // the visitor stopped the walk
};

class TRegistryTree {
public:
    // The deepest a key can sit in the registry (levels below \REGISTRY).
    static constexpr int kMaxDepth = 512;

    // Keys are opened with Access (the top and everything below it) and with
    // read access along the path to the top.
    TRegistryTree(platform::IRegistry& Registry, uint32_t Access);

    // Reach follows a link on the path only from machine keys to machine
    // keys; with false it follows none: a link met on the path (or as the
    // last part, unless that is opened as itself) refuses the key.
    void SetFollowLinks(bool Follow) { FFollowLinks = Follow; }

    // Opens Path below Root, a predefined root or an open key. With
    // OpenLeafAsLink the last part is opened as itself even when it is a link
    // (to delete the link, not its target); otherwise it is treated like
    // every other part of the path. rmCreate creates what is missing, the
    // last part as a link when OpenLeafAsLink (its target is then to be set);
    // Created then tells whether the last part was new.
    TKeyReach Reach(platform::RegKey Root, const std::u16string& Path, bool OpenLeafAsLink,
                    platform::RegKeyHandle& Key, std::u16string& KernelName,
                    TReachMode Mode = TReachMode::rmOpen, bool* Created = nullptr);

    // Deletes the reached key with its whole subtree, from the last subkey
    // down; true iff the key itself is gone. What cannot be deleted (refused,
    // too deep, or refused by the registry) stays, with the keys on the path
    // down to it.
    bool DeleteTree(platform::RegKey Key, const std::u16string& KernelName);

    // Calls Visit for the reached key and every key below it, parents before
    // children, subkeys in enumeration order; a link is visited but not
    // entered. Returns what was left out (TTreeGaps); Visit returns false to
    // stop the walk. OnGap, when given, hears of each thing left out where it
    // happens: at a visited key, the subkey it left alone (by name) or, with
    // no name, the key's own subkeys (unreadable, or below the depth limit).
    using TGapObserver =
        std::function<void(const TTreeKey& Key, uint8_t Gap, const std::u16string* SubKey)>;
    uint8_t VisitTree(platform::RegKey Key, const std::u16string& KernelName,
                      const std::function<bool(const TTreeKey&)>& Visit,
                      const TGapObserver& OnGap = {});

    // True for a name a C-string call cannot address (it holds a NUL).
    static bool HasNul(const std::u16string& Name) {
        return Name.find(u'\0') != std::u16string::npos;
    }

private:
    TKeyReach Step(platform::RegKey Root, platform::RegKey Parent, const std::u16string& ParentName,
                   const std::u16string& Part, bool Leaf, bool AsLink, TReachMode Mode,
                   platform::RegKeyHandle& Key, std::u16string& Name, bool& Created);
    bool DeleteBelow(platform::RegKey Key, const std::u16string& KernelName, int Depth);
    void VisitBelow(TTreeKey& Key, int Depth, const std::function<bool(const TTreeKey&)>& Visit,
                    const TGapObserver& OnGap, uint8_t& Gaps);
    bool OpenChild(platform::RegKey Parent, const std::u16string& ParentName,
                   const std::u16string& Name, uint32_t Access, platform::RegKeyHandle& Child,
                   std::u16string& ChildKernelName);
    bool ReadLink(platform::RegKey Key, std::u16string& Target);
    bool IsLinkKey(platform::RegKey Parent, const std::u16string& Name, TTreeKey& Key);

    platform::IRegistry& FRegistry;
    uint32_t FAccess;
    bool FFollowLinks = true;
};

// The number of levels below \REGISTRY of a kernel name.
int KernelDepth(const std::u16string& KernelName);

} // namespace keystrip
