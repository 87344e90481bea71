// Every user's profile for the rules on HKEY_CURRENT_USER: the hives of user
// accounts loaded below HKEY_USERS now, and those of the listed profiles that
// are not, loaded under a temporary name for as long as this object lives and
// always unloaded again. A profile whose hive cannot be loaded gives an
// aaProfileNotLoaded warning; the others go on.
#pragma once

#include "activity/ActivityLogger.h"
#include "platform/Hives.h"
#include "platform/Registry.h"
#include "rules/RuleRoots.h"

#include <string>
#include <vector>

namespace keystrip {

class TUserProfiles {
public:
    TUserProfiles(platform::IRegistry& Registry, platform::IHives& Hives,
                  TActivityLogger* Activity);
    // Closes every hive's key, then unloads the hives it loaded.
    ~TUserProfiles();
    TUserProfiles(const TUserProfiles&) = delete;
    TUserProfiles& operator=(const TUserProfiles&) = delete;

    // Opens (loading where needed) every user's hive, once; the roots hold
    // one entry per profile, named HKEY_USERS\<SID> in the report.
    const TRuleRoots& Open();
    // How many profiles Open left out with a warning.
    int NotLoaded() const { return FNotLoaded; }

    // A user account's profile: S-1-5-21-... (local and domain accounts) or
    // S-1-12-1-... (cloud accounts), not its _Classes hive.
    static bool IsUserAccount(const std::u16string& Sid);
    // The name below HKEY_USERS a profile's hive is loaded under.
    static std::u16string TemporaryName(const std::u16string& Sid);

private:
    void Warn(const std::u16string& Sid, const std::u16string& Why);
    void Add(const std::u16string& Name, const std::u16string& Sid);
    void Close() noexcept;

    platform::IRegistry& FRegistry;
    platform::IHives& FHives;
    TActivityLogger* FActivity;
    bool FOpened = false;
    int FNotLoaded = 0;
    std::vector<platform::RegKeyHandle> FKeys;
    std::vector<std::u16string> FLoaded; // names this object loaded
    TRuleRoots FRoots;
};

} // namespace keystrip
