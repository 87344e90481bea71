// Every user's profile for the rules on a user's keys: each user account's
// hive (for the rules on HKEY_CURRENT_USER) and classes hive (for the rules
// on HKEY_CURRENT_USER\Software\Classes and HKEY_CLASSES_ROOT), those loaded
// below HKEY_USERS now and those of the profile list that are not, loaded
// from their files (NTUSER.DAT, UsrClass.dat) under a temporary name for as
// long as this object lives and unloaded again; and the Default profile,
// which new accounts copy.
//
// The profile list and the folders it names are trusted no further than a
// user could aim them: only well-formed user SIDs are taken (a .bak entry,
// a malformed or NUL-holding name is skipped with a note), a key below
// HKEY_USERS counts as a hive only when its kernel name is a hive's root
// (not a link), no hive file is taken twice, a hive file reached through a
// junction is not loaded, and the temporary account of first-time setup,
// the service accounts and mandatory (read-only) profiles are left alone.
// Each profile gets a note line (aaProfileNote); one whose hive cannot be
// had an aaProfileNotLoaded warning, and one loaded for the run that cannot
// be unloaded (after a second try) an aaProfileNotUnloaded warning.
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
    std::u16string Sid;      // as the profile list names it; empty for the Default profile
    std::u16string HiveName; // below HKEY_USERS as the report names it: <SID>, <SID>_Classes
    std::u16string File;     // the hive file; empty when it was loaded already
    TProfileState State = TProfileState::psSkipped;
    std::u16string Reason;
    std::u16string Folder; // the profile's folder, expanded; empty when the list names none
};

// A state in words, for a result file: "loaded", "loaded for the run",
// "skipped", "not loaded", "read-only", "not unloaded".
std::u16string ProfileStateText(TProfileState State);

class TUserProfiles {
public:
    // The name of the Default profile's hive in the report (HKEY_USERS\Default).
    static constexpr char16_t kDefaultProfile[] = u"Default";

    TUserProfiles(platform::IRegistry& Registry, platform::IHives& Hives,
                  TActivityLogger* Activity);
    // Close.
    ~TUserProfiles();
    TUserProfiles(const TUserProfiles&) = delete;
    TUserProfiles& operator=(const TUserProfiles&) = delete;

    // How the note lines read: their severity (asDebug in a detection, which
    // the report leaves out) and what the run does to a profile it takes
    // ("cleaned"); "included" at asInfo unless set.
    void SetNotes(TActivitySeverity Severity, std::u16string Verb);

    // Opens (loading where needed) every user's hive and classes hive, once;
    // the roots hold one entry per hive, named HKEY_USERS\<SID> and
    // HKEY_USERS\<SID>_Classes in the report.
    const TRuleRoots& Open();
    // The hive of one user account, HiveName as the report names it below
    // HKEY_USERS (<SID>, <SID>_Classes, Default, Default_Classes): the loaded
    // HKEY_USERS\<SID> when its kernel name is that hive's root (not a link),
    // else the profile list's hive file loaded under the temporary name
    // (unloaded with the others). Null, with an aaProfileNotLoaded warning
    // and NotLoaded raised, when it cannot be had. Asking again gives the
    // same answer.
    const TRuleRoot* OpenUser(const std::u16string& HiveName);
    // Closes every hive's key, then unloads the hives it loaded, each tried
    // twice; the roots are empty afterwards. Runs once.
    void Close() noexcept;

    // How many profiles were left out with a warning.
    int NotLoaded() const { return FNotLoaded; }
    // How many hives loaded for the run stayed loaded (known after Close).
    int NotUnloaded() const { return FNotUnloaded; }
    // What happened to each profile's hives, in the order they were met.
    const std::vector<TProfileOutcome>& Outcomes() const { return FOutcomes; }

    // A user account's SID in its canonical form: S-1-5-21-a-b-c-RID (local
    // and domain accounts) or S-1-12-1-a-b-c-d (cloud accounts), each
    // sub-authority a decimal number of 32 bits without leading zeros.
    static bool IsUserAccount(const std::u16string& Sid);
    // LocalSystem, LocalService and NetworkService.
    static bool IsServiceAccount(const std::u16string& Sid);
    // The temporary account of first-time setup (a folder defaultuser0, ...).
    static bool IsSetupAccount(const std::u16string& Folder);
    // The name below HKEY_USERS a hive is loaded under for the run.
    static std::u16string TemporaryName(const std::u16string& HiveName);
    // A file path in the one form that Windows reads the same: backslashes,
    // no empty, "." or ".." parts, no trailing dots or blanks, case folded.
    static std::u16string NormalisedPath(const std::u16string& Path);

private:
    struct TListed {
        std::u16string Name;
        std::u16string Folder; // expanded; empty when it has none
        std::u16string Why;    // why it has none
    };
    struct THive {
        platform::RegKeyHandle Key;
        TRuleRoot Root;
        std::u16string HiveName;
    };
    struct TLoaded {
        std::u16string Name; // the temporary name
        std::u16string HiveName;
    };
    struct TClaim {
        std::u16string File; // normalised
        std::u16string HiveName;
    };
    enum class TMount : uint8_t { tmMounted, tmMissing, tmCannotOpen, tmNotAHive };
    enum class TMissing : uint8_t { tmWarn, tmNote, tmQuiet };

    void ReadProfileList();
    bool ReadText(platform::RegKey Key, const std::u16string& Name, std::u16string& Text,
                  std::u16string& Why);
    const TListed* Listed(const std::u16string& Sid) const;
    // Why a listed user's profile is left alone; empty when it is not.
    TProfileState Screen(const TListed& Profile, std::u16string& Reason);
    void TakeListed(const TListed& Profile, const std::vector<std::u16string>& Loaded,
                    std::vector<TRuleRoot>& Users, std::vector<TRuleRoot>& Classes);
    THive* TakeHive(const std::u16string& Sid, const std::u16string& HiveName,
                    const std::u16string& Folder, const std::u16string& RelativeFile,
                    bool LoadedNow, TMissing Missing);
    TMount Mount(const std::u16string& Name, const std::u16string& HiveName, THive*& Hive);
    THive* Load(const std::u16string& Sid, const std::u16string& HiveName,
                const std::u16string& File);
    bool Unload(const std::u16string& Name) noexcept;
    THive* Find(const std::u16string& HiveName);
    bool Met(const std::u16string& HiveName) const;

    void Note(const std::u16string& Sid, const std::u16string& HiveName, const std::u16string& File,
              TProfileState State, const std::u16string& Reason);
    void Warn(const std::u16string& Sid, const std::u16string& HiveName, const std::u16string& File,
              const std::u16string& Why);
    void WarnAll(const std::u16string& Why);

    platform::IRegistry& FRegistry;
    platform::IHives& FHives;
    TActivityLogger* FActivity;
    TActivitySeverity FNoteSeverity = asInfo;
    std::u16string FVerb = u"included";
    bool FOpened = false;
    bool FListRead = false;
    bool FPrivileges = false;
    int FNotLoaded = 0;
    int FNotUnloaded = 0;
    std::vector<TListed> FListed;
    std::u16string FDefaultFolder;
    std::vector<std::unique_ptr<THive>> FHivesOpened;
    std::vector<TLoaded> FLoaded; // what this object loaded and has yet to unload
    std::vector<TClaim> FClaims;  // the hive files taken, so that none is taken twice
    std::vector<TProfileOutcome> FOutcomes;
    std::u16string FFolder; // of the profile being taken, for its outcomes
    TRuleRoots FRoots;
};

} // namespace keystrip
