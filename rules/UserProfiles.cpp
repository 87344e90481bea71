#include "rules/UserProfiles.h"

#include "common/Utf.h"

#include <algorithm>

namespace keystrip {

using namespace platform;

namespace {

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
           !EndsWith(Sid, u"_Classes");
}

std::u16string TUserProfiles::TemporaryName(const std::u16string& Sid) {
    return u"ZolvaKeystrip_" + Sid;
}

void TUserProfiles::Warn(const std::u16string& Sid, const std::u16string& Why) {
    ++FNotLoaded;
    if (FActivity != nullptr)
        FActivity->Log(asWarning, aaProfileNotLoaded, WithDetail(u"HKEY_USERS\\" + Sid, Why));
}

void TUserProfiles::Add(const std::u16string& Name, const std::u16string& Sid) {
    RegKeyHandle key;
    if (OpenKeyHandle(FRegistry, kHkeyUsers, Name, 0, kKeyAllAccess, key) != kErrorSuccess) {
        Warn(Sid, u"its hive cannot be opened");
        return;
    }
    std::vector<TRuleRoot> roots = FRoots.UserRoots();
    roots.push_back({key.Get(), u"HKEY_USERS\\" + Sid});
    FRoots.SetUserRoots(std::move(roots));
    FKeys.push_back(std::move(key));
}

const TRuleRoots& TUserProfiles::Open() {
    if (FOpened)
        return FRoots;
    FOpened = true;
    std::vector<std::u16string> loaded;
    if (const long error = FHives.LoadedHives(loaded))
        Warn(u"*", u"the loaded hives cannot be listed: " + ErrorText(error));
    std::sort(loaded.begin(), loaded.end());
    for (const auto& name : loaded)
        if (IsUserAccount(name))
            Add(name, name);

    std::vector<ListedProfile> listed;
    if (const long error = FHives.ListedProfiles(listed))
        Warn(u"*", u"the profile list cannot be read: " + ErrorText(error));
    std::sort(listed.begin(), listed.end(),
              [](const ListedProfile& a, const ListedProfile& b) { return a.Sid < b.Sid; });
    bool privileges = false;
    for (const auto& profile : listed) {
        if (!IsUserAccount(profile.Sid) ||
            std::find(loaded.begin(), loaded.end(), profile.Sid) != loaded.end())
            continue;
        if (profile.HiveFile.empty()) {
            Warn(profile.Sid, u"the profile names no folder");
            continue;
        }
        if (!privileges) {
            privileges = true;
            if (const long error = FHives.EnablePrivileges())
                Warn(u"*", u"the privileges to load hives are missing: " + ErrorText(error));
        }
        const std::u16string name = TemporaryName(profile.Sid);
        if (const long error = FHives.LoadHive(name, profile.HiveFile)) {
            Warn(profile.Sid, profile.HiveFile + u" cannot be loaded: " + ErrorText(error));
            continue;
        }
        FLoaded.push_back(name);
        Add(name, profile.Sid);
    }
    return FRoots;
}

void TUserProfiles::Close() noexcept {
    FRoots.SetUserRoots({});
    FKeys.clear();
    for (const auto& name : FLoaded)
        FHives.UnloadHive(name);
    FLoaded.clear();
}

} // namespace keystrip
