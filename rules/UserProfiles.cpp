#include "rules/UserProfiles.h"

#include "common/RegistryName.h"
#include "common/Utf.h"

#include <algorithm>

namespace keystrip {

using namespace platform;

namespace {

const std::u16string kUsers = u"HKEY_USERS\\";
const std::u16string kClasses = u"_Classes";

bool StartsWith(const std::u16string& text, const std::u16string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

bool EndsWith(const std::u16string& text, const std::u16string& suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::u16string ErrorText(long error) {
    return U16("error " + std::to_string(error));
}

} // namespace

TUserProfiles::TUserProfiles(IRegistry& Registry, IHives& Hives, TActivityLogger* Activity)
    : FRegistry(Registry), FHives(Hives), FActivity(Activity) {}

TUserProfiles::~TUserProfiles() {
    Close();
}

bool TUserProfiles::IsUserAccount(const std::u16string& Sid) {
    return (StartsWith(Sid, u"S-1-5-21-") || StartsWith(Sid, u"S-1-12-1-")) &&
           !EndsWith(Sid, kClasses);
}

std::u16string TUserProfiles::TemporaryName(const std::u16string& Sid) {
    return u"ZolvaKeystrip_" + Sid;
}

void TUserProfiles::Warn(const std::u16string& Sid, const std::u16string& Why) {
    ++FNotLoaded;
    if (FActivity != nullptr)
        FActivity->Log(asWarning, aaProfileNotLoaded, WithDetail(kUsers + Sid, Why));
}

void TUserProfiles::Record(const std::u16string& Sid, const std::u16string& HiveName,
                           const std::u16string& File, TProfileState State,
                           const std::u16string& Reason) {
    FOutcomes.push_back({Sid, HiveName, File, State, Reason});
}

TUserProfiles::THive* TUserProfiles::Find(const std::u16string& HiveName) {
    for (const auto& hive : FHivesOpened)
        if (SameRegistryName(hive->Root.Text, kUsers + HiveName))
            return hive.get();
    return nullptr;
}

// A key below HKEY_USERS is a user's hive only when it is a hive's root
// itself: a link there (to \REGISTRY\MACHINE, say) would turn the rules on
// a user's keys onto the machine's.
TUserProfiles::THive* TUserProfiles::Mount(const std::u16string& Name,
                                           const std::u16string& HiveName) {
    RegKeyHandle key;
    std::u16string kernelName;
    if (OpenKeyHandle(FRegistry, kHkeyUsers, Name, 0, kKeyAllAccess, key) != kErrorSuccess ||
        FRegistry.QueryKeyName(key.Get(), kernelName) != kErrorSuccess ||
        !SameRegistryName(kernelName, u"\\REGISTRY\\USER\\" + Name))
        return nullptr;
    auto hive = std::make_unique<THive>();
    hive->Root = TRuleRoot{key.Get(), kUsers + HiveName};
    hive->Key = std::move(key);
    FHivesOpened.push_back(std::move(hive));
    return FHivesOpened.back().get();
}

// Loads File under the temporary name; nothing stays mounted when that or
// opening it fails.
TUserProfiles::THive* TUserProfiles::Load(const std::u16string& HiveName,
                                          const std::u16string& File) {
    if (!FPrivileges) {
        FPrivileges = true;
        if (const long error = FHives.EnablePrivileges())
            Warn(u"*", u"the privileges to load hives are missing: " + ErrorText(error));
    }
    const std::u16string name = TemporaryName(HiveName);
    FLoaded.reserve(FLoaded.size() + 1); // so that recording the load cannot fail after it
    if (const long error = FHives.LoadHive(name, File)) {
        Warn(HiveName, File + u" cannot be loaded: " + ErrorText(error));
        Record(HiveName, HiveName, File, TProfileState::psNotLoaded,
               File + u" cannot be loaded: " + ErrorText(error));
        return nullptr;
    }
    FLoaded.push_back(name);
    THive* hive = Mount(name, HiveName);
    if (hive == nullptr) {
        Unload(name);
        Warn(HiveName, u"its hive cannot be opened");
        Record(HiveName, HiveName, File, TProfileState::psNotLoaded, u"its hive cannot be opened");
        return nullptr;
    }
    Record(HiveName, HiveName, File, TProfileState::psLoadedForRun, u"");
    return hive;
}

bool TUserProfiles::Unload(const std::u16string& Name) {
    auto loaded = std::find(FLoaded.begin(), FLoaded.end(), Name);
    if (loaded == FLoaded.end())
        return true;
    if (FHives.UnloadHive(Name) != kErrorSuccess)
        return false;
    FLoaded.erase(loaded);
    return true;
}

const TRuleRoot* TUserProfiles::OpenUser(const std::u16string& HiveName) {
    if (THive* hive = Find(HiveName))
        return &hive->Root;
    // One that could not be had is not tried, nor reported, again.
    for (const auto& outcome : FOutcomes)
        if (outcome.HiveName == HiveName)
            return nullptr;
    const std::u16string sid = EndsWith(HiveName, kClasses)
                                   ? HiveName.substr(0, HiveName.size() - kClasses.size())
                                   : HiveName;
    if (!IsUserAccount(sid)) {
        Warn(HiveName, u"it names no user account");
        Record(sid, HiveName, u"", TProfileState::psNotLoaded, u"it names no user account");
        return nullptr;
    }
    if (THive* hive = Mount(HiveName, HiveName)) {
        Record(sid, HiveName, u"", TProfileState::psLoaded, u"");
        return &hive->Root;
    }
    std::vector<ListedProfile> listed;
    if (const long error = FHives.ListedProfiles(listed)) {
        Warn(HiveName, u"the profile list cannot be read: " + ErrorText(error));
        Record(sid, HiveName, u"", TProfileState::psNotLoaded,
               u"the profile list cannot be read: " + ErrorText(error));
        return nullptr;
    }
    for (const auto& profile : listed)
        if (profile.Sid == sid && !profile.HiveFile.empty() && HiveName == sid) {
            THive* hive = Load(HiveName, profile.HiveFile);
            return hive != nullptr ? &hive->Root : nullptr;
        }
    Warn(HiveName, u"the profile list names no hive file for it");
    Record(sid, HiveName, u"", TProfileState::psNotLoaded,
           u"the profile list names no hive file for it");
    return nullptr;
}

const TRuleRoots& TUserProfiles::Open() {
    if (FOpened)
        return FRoots;
    FOpened = true;
    std::vector<std::u16string> loaded;
    if (const long error = FHives.LoadedHives(loaded))
        Warn(u"*", u"the loaded hives cannot be listed: " + ErrorText(error));
    std::sort(loaded.begin(), loaded.end());
    std::vector<TRuleRoot> roots;
    for (const auto& name : loaded)
        if (IsUserAccount(name)) {
            if (THive* hive = Find(name)) {
                roots.push_back(hive->Root);
            } else if (THive* hive = Mount(name, name)) {
                Record(name, name, u"", TProfileState::psLoaded, u"");
                roots.push_back(hive->Root);
            } else {
                Warn(name, u"its hive cannot be opened");
                Record(name, name, u"", TProfileState::psNotLoaded, u"its hive cannot be opened");
            }
        }

    std::vector<ListedProfile> listed;
    if (const long error = FHives.ListedProfiles(listed))
        Warn(u"*", u"the profile list cannot be read: " + ErrorText(error));
    std::sort(listed.begin(), listed.end(),
              [](const ListedProfile& a, const ListedProfile& b) { return a.Sid < b.Sid; });
    for (const auto& profile : listed) {
        if (!IsUserAccount(profile.Sid) ||
            std::find(loaded.begin(), loaded.end(), profile.Sid) != loaded.end())
            continue;
        if (THive* hive = Find(profile.Sid)) {
            roots.push_back(hive->Root);
            continue;
        }
        if (profile.HiveFile.empty()) {
            Warn(profile.Sid, u"the profile names no folder");
            Record(profile.Sid, profile.Sid, u"", TProfileState::psNotLoaded,
                   u"the profile names no folder");
            continue;
        }
        if (THive* hive = Load(profile.Sid, profile.HiveFile))
            roots.push_back(hive->Root);
    }
    FRoots.SetUserRoots(std::move(roots));
    return FRoots;
}

void TUserProfiles::Close() noexcept {
    FRoots.SetUserRoots({});
    FHivesOpened.clear();
    for (const auto& name : FLoaded)
        FHives.UnloadHive(name);
    FLoaded.clear();
}

} // namespace keystrip
