// Where a restore may write: only where a backup of the program's own
// removal rules can have taken something from. Even a backup this program
// wrote is restored nowhere else, so that no file, however it came to be,
// can make the elevated restore write the machine's other keys:
//   - a complete-key rule's key and everything below it, in the rule's root;
//   - a value rule's key, holding that one value and nothing else;
//   - for a rule on HKEY_CURRENT_USER, the same places in a user's hive,
//     HKEY_USERS\<user SID>\..., and for the user's classes (HKEY_CLASSES_ROOT
//     rules, HKEY_CURRENT_USER\Software\Classes\...) in HKEY_USERS\<SID>_Classes,
//     as a backup made over every user's profile names them.
// Names are compared with ASCII case folding only: two names count as the
// same only where the registry cannot tell them apart.
#pragma once

#include "definitions/ZolvaProduct.h"
#include "platform/Registry.h"

#include <cstddef>
#include <string>
#include <vector>

namespace keystrip {

struct TRegFileKey;

// Where one section of a backup goes.
struct TRestorePlace {
    platform::RegKey Root = 0; // a predefined root
    // The hive below HKEY_USERS of a user's profile ("S-1-5-21-...", or its
    // "..._Classes" hive) when the section lies in one; Parts are below it.
    std::u16string UserHive;
    std::vector<std::u16string> Parts; // the key below Root (or UserHive)
    // Parts from this index on are a complete-key rule's own key and what lies
    // below it, reached without following any registry link. A value rule's
    // key (Parts.size()) is reached as the removal reaches it.
    size_t OwnFrom = 0;
    bool ValueRule = false;
};

class TRestoreTargets {
public:
    // A rule that names no key below a root, or a name the registry calls
    // cannot carry (a NUL), adds no place: the removal refuses it too.
    void Add(const TZolvaProductRemoveRule& Rule);
    void Add(const TZolvaProduct& Product);
    bool Empty() const { return FTargets.empty(); }

    // Where Section may be written. False, with Why in English for the log,
    // when the section lies outside every rule's target.
    bool Place(const TRegFileKey& Section, TRestorePlace& Place, std::string& Why) const;

    // A user account's SID as Windows writes it: S-1-5-21- (local and domain
    // accounts) or S-1-12-1- (cloud accounts) and four decimal numbers.
    static bool IsUserSid(const std::u16string& Name);

private:
    struct TTarget {
        TZolvaProductRootKey Root = rkClassesRoot;
        std::vector<std::u16string> Key;
        bool ValueRule = false;
        std::u16string Name; // a value rule's value
    };
    std::vector<TTarget> FTargets;
};

} // namespace keystrip
