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

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace keystrip {

// What became of one profile's hive in a run.
enum class TProfileState : uint8_t {
    psLoaded,       // it was loaded already and was used where it is
    psLoadedForRun, // loaded from its file for the run, unloaded after it
    psSkipped,      // left out on purpose (Reason says why)
    psNotLoaded,    // could not be had: a warning (Reason says why)
    psReadOnly,     // a mandatory profile: reported, never written
    psNotUnloaded,  // loaded for the run and still loaded after it: a warning
};

struct TProfileOutcome {
    std::u16string Sid;      // the account's SID as the profile list names it
    std::u16string HiveName; // below HKEY_USERS as the report names it: <SID>, <SID>_Classes
    std::u16string File;     // the hive file; empty when it was loaded already
    TProfileState State = TProfileState::psSkipped;
    std::u16string Reason;
};

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
    // The hive of one user account, HiveName as the report names it below
    // HKEY_USERS: the loaded HKEY_USERS\<SID> when its kernel name is that
    // hive's root (not a link), else the profile list's hive file loaded
    // under the temporary name (unloaded with the others when this object
    // dies). Null, with an aaProfileNotLoaded warning and NotLoaded raised,
    // when it cannot be had. Asking again gives the same root.
    const TRuleRoot* OpenUser(const std::u16string& HiveName);
    // How many profiles were left out with a warning.
    int NotLoaded() const { return FNotLoaded; }
    // What happened to each profile, in the order they were met.
    const std::vector<TProfileOutcome>& Outcomes() const { return FOutcomes; }

    // A user account's profile: S-1-5-21-... (local and domain accounts) or
    // S-1-12-1-... (cloud accounts), not its _Classes hive.
    static bool IsUserAccount(const std::u16string& Sid);
    // The name below HKEY_USERS a profile's hive is loaded under.
    static std::u16string TemporaryName(const std::u16string& Sid);

private:
    struct THive {
        platform::RegKeyHandle Key;
        TRuleRoot Root;
    };

    void Warn(const std::u16string& Sid, const std::u16string& Why);
    void Record(const std::u16string& Sid, const std::u16string& HiveName,
                const std::u16string& File, TProfileState State, const std::u16string& Reason);
    // The hive loaded below HKEY_USERS under Name, when its kernel name is
    // that hive's root; null otherwise.
    THive* Mount(const std::u16string& Name, const std::u16string& HiveName);
    THive* Find(const std::u16string& HiveName);
    THive* Load(const std::u16string& HiveName, const std::u16string& File);
    bool Unload(const std::u16string& Name);
    void Close() noexcept;

    platform::IRegistry& FRegistry;
    platform::IHives& FHives;
    TActivityLogger* FActivity;
    bool FOpened = false;
    bool FPrivileges = false;
    int FNotLoaded = 0;
    std::vector<std::unique_ptr<THive>> FHivesOpened;
    std::vector<std::u16string> FLoaded; // names this object loaded
    std::vector<TProfileOutcome> FOutcomes;
    TRuleRoots FRoots;
};

} // namespace keystrip
