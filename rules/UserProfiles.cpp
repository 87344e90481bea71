#include "rules/UserProfiles.h"

#include "common/RegistryName.h"
#include "common/TextCase.h"
#include "common/Utf.h"

#include <algorithm>

namespace keystrip {

using namespace platform;

namespace {

const std::u16string kUsers = u"HKEY_USERS\\";
const std::u16string kClasses = u"_Classes";
const std::u16string kUserHive = u"NTUSER.DAT";
const std::u16string kMandatoryHive = u"NTUSER.MAN";
const std::u16string kClassesHive = u"AppData\\Local\\Microsoft\\Windows\\UsrClass.dat";

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

// A name as the log can show it: a NUL would end the subject of an entry.
std::u16string Visible(std::u16string name) {
    std::replace(name.begin(), name.end(), u'\0', u'\u2400');
    return name;
}

// Count decimal numbers of 32 bits, joined by '-', without leading zeros.
bool SubAuthorities(const std::u16string& text, size_t start, int count) {
    for (int i = 0; i < count; ++i) {
        size_t end = start;
        uint64_t value = 0;
        while (end < text.size() && text[end] >= u'0' && text[end] <= u'9' && end - start < 10) {
            value = value * 10 + (text[end] - u'0');
            ++end;
        }
        const size_t digits = end - start;
        if (digits == 0 || value > 0xFFFFFFFFu || (digits > 1 && text[start] == u'0'))
            return false;
        if (i + 1 < count) {
            if (end >= text.size() || text[end] != u'-')
                return false;
            start = end + 1;
        } else if (end != text.size()) {
            return false;
        }
    }
    return true;
}

bool Contains(const std::vector<std::u16string>& names, const std::u16string& name) {
    return std::any_of(names.begin(), names.end(),
                       [&](const std::u16string& n) { return SameRegistryName(n, name); });
}

} // namespace

std::u16string ProfileStateText(TProfileState State) {
    switch (State) {
    case TProfileState::psLoaded:
        return u"loaded";
    case TProfileState::psLoadedForRun:
        return u"loaded for the run";
    case TProfileState::psSkipped:
        return u"skipped";
    case TProfileState::psNotLoaded:
        return u"not loaded";
    case TProfileState::psReadOnly:
        return u"read-only";
    case TProfileState::psNotUnloaded:
        return u"not unloaded";
    }
    return u"";
}

TUserProfiles::TUserProfiles(IRegistry& Registry, IHives& Hives, TActivityLogger* Activity)
    : FRegistry(Registry), FHives(Hives), FActivity(Activity) {}

TUserProfiles::~TUserProfiles() {
    Close();
}

void TUserProfiles::SetNotes(TActivitySeverity Severity, std::u16string Verb) {
    FNoteSeverity = Severity;
    FVerb = std::move(Verb);
}

// --- What is a user's profile ------------------------------------------------

bool TUserProfiles::IsUserAccount(const std::u16string& Sid) {
    for (const std::u16string prefix : {u"S-1-5-21-", u"S-1-12-1-"})
        if (StartsWith(Sid, prefix))
            return SubAuthorities(Sid, prefix.size(), 4);
    return false;
}

bool TUserProfiles::IsServiceAccount(const std::u16string& Sid) {
    return Sid == u"S-1-5-18" || Sid == u"S-1-5-19" || Sid == u"S-1-5-20";
}

bool TUserProfiles::IsSetupAccount(const std::u16string& Folder) {
    const std::u16string path = NormalisedPath(Folder);
    const size_t slash = path.rfind(u'\\');
    const std::u16string name =
        AsciiLower(slash == std::u16string::npos ? path : path.substr(slash + 1));
    const std::u16string stem = u"defaultuser";
    return name.size() > stem.size() && StartsWith(name, stem) &&
           std::all_of(name.begin() + static_cast<std::ptrdiff_t>(stem.size()), name.end(),
                       [](char16_t c) { return c >= u'0' && c <= u'9'; });
}

std::u16string TUserProfiles::TemporaryName(const std::u16string& HiveName) {
    return u"ZolvaKeystrip_" + HiveName;
}

std::u16string TUserProfiles::NormalisedPath(const std::u16string& Path) {
    std::u16string path = FoldRegistryName(Path);
    std::replace(path.begin(), path.end(), u'/', u'\\');
    std::u16string lead;
    if (StartsWith(path, u"\\\\?\\UNC\\") || StartsWith(path, u"\\??\\UNC\\")) {
        path.erase(0, 8);
        lead = u"\\\\";
    } else if (StartsWith(path, u"\\\\?\\") || StartsWith(path, u"\\??\\")) {
        path.erase(0, 4);
    } else if (StartsWith(path, u"\\\\")) {
        lead = u"\\\\";
    }
    std::vector<std::u16string> parts;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find(u'\\', start);
        if (end == std::u16string::npos)
            end = path.size();
        std::u16string part = path.substr(start, end - start);
        // Windows drops trailing dots and blanks of a name.
        while (!part.empty() && part != u"." && part != u".." &&
               (part.back() == u'.' || part.back() == u' '))
            part.pop_back();
        if (part == u"..") {
            if (parts.size() > 1)
                parts.pop_back();
        } else if (!part.empty() && part != u".") {
            parts.push_back(part);
        }
        start = end + 1;
    }
    std::u16string normalised = lead;
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i > 0)
            normalised += u'\\';
        normalised += parts[i];
    }
    return normalised;
}

// --- The log and the outcomes -------------------------------------------------

void TUserProfiles::Note(const std::u16string& Sid, const std::u16string& HiveName,
                         const std::u16string& File, TProfileState State,
                         const std::u16string& Reason) {
    FOutcomes.push_back({Sid, HiveName, File, State, Reason, FFolder});
    if (FActivity == nullptr)
        return;
    std::u16string text;
    switch (State) {
    case TProfileState::psLoaded:
        text = FVerb + u" (its hive is loaded)";
        break;
    case TProfileState::psLoadedForRun:
        text = FVerb + u" (its hive " + File + u" is loaded for this run)";
        break;
    case TProfileState::psReadOnly:
        text = u"not written (" + Reason + u")";
        break;
    default:
        text = u"skipped (" + Reason + u")";
        break;
    }
    FActivity->Log(FNoteSeverity, aaProfileNote, WithDetail(kUsers + Visible(HiveName), text));
}

void TUserProfiles::Warn(const std::u16string& Sid, const std::u16string& HiveName,
                         const std::u16string& File, const std::u16string& Why) {
    FOutcomes.push_back({Sid, HiveName, File, TProfileState::psNotLoaded, Why, FFolder});
    ++FNotLoaded;
    if (FActivity != nullptr)
        FActivity->Log(asWarning, aaProfileNotLoaded, WithDetail(kUsers + Visible(HiveName), Why));
}

void TUserProfiles::WarnAll(const std::u16string& Why) {
    ++FNotLoaded;
    if (FActivity != nullptr)
        FActivity->Log(asWarning, aaProfileNotLoaded, WithDetail(kUsers + u"*", Why));
}

// --- The profile list ---------------------------------------------------------

// A text value as the system's readers take it: without its final NULs; one
// that holds a NUL before its end would read as another text to them.
bool TUserProfiles::ReadText(RegKey Key, const std::u16string& Name, std::u16string& Text,
                             std::u16string& Why) {
    Text.clear();
    uint32_t type = 0;
    uint32_t size = 0;
    if (FRegistry.QueryValue(Key, Name, &type, nullptr, &size) != kErrorSuccess) {
        Why = u"the profile names no folder";
        return false;
    }
    std::vector<uint8_t> data(size);
    uint32_t read = size;
    if ((type != kRegSz && type != kRegExpandSz) ||
        (size > 0 && FRegistry.QueryValue(Key, Name, &type, data.data(), &read) != kErrorSuccess)) {
        Why = u"its folder cannot be read as a text";
        return false;
    }
    for (uint32_t i = 0; i + 1 < read; i += 2)
        Text.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
    while (!Text.empty() && Text.back() == u'\0')
        Text.pop_back();
    if (Text.find(u'\0') != std::u16string::npos) {
        Text.clear();
        Why = u"its folder holds a NUL character";
        return false;
    }
    if (Text.empty()) {
        Why = u"the profile names no folder";
        return false;
    }
    Text = FHives.ExpandFolder(Text);
    return true;
}

// The entries are read by their counted names: a name holding a NUL, which
// a C-string call would cut short into another profile's, is read whole.
void TUserProfiles::ReadProfileList() {
    if (FListRead)
        return;
    FListRead = true;
    RegKey listKey = 0;
    const long error = FHives.OpenProfileList(listKey);
    if (error == kErrorFileNotFound)
        return;
    if (error != kErrorSuccess) {
        WarnAll(u"the profile list cannot be read: " + ErrorText(error));
        return;
    }
    RegKeyHandle list(FRegistry, listKey);
    uint32_t subKeys = 0;
    uint32_t values = 0;
    if (const long info = FRegistry.QueryKeyInfo(list.Get(), subKeys, values)) {
        WarnAll(u"the profile list cannot be read: " + ErrorText(info));
        return;
    }
    for (uint32_t index = 0; index < subKeys; ++index) {
        TListed profile;
        const long enumerated = FRegistry.EnumSubKey(list.Get(), index, profile.Name);
        if (enumerated == kErrorNoMoreItems)
            break;
        if (enumerated != kErrorSuccess) {
            WarnAll(u"an entry of the profile list cannot be read: " + ErrorText(enumerated));
            continue;
        }
        RegKeyHandle entry;
        if (const long opened =
                OpenSubKeyHandle(FRegistry, list.Get(), profile.Name, 0, kKeyRead, entry))
            profile.Why = u"its entry in the profile list cannot be read: " + ErrorText(opened);
        else
            ReadText(entry.Get(), u"ProfileImagePath", profile.Folder, profile.Why);
        FListed.push_back(std::move(profile));
    }
    std::u16string why;
    ReadText(list.Get(), u"Default", FDefaultFolder, why);
    std::sort(FListed.begin(), FListed.end(),
              [](const TListed& a, const TListed& b) { return a.Name < b.Name; });
}

const TUserProfiles::TListed* TUserProfiles::Listed(const std::u16string& Sid) const {
    for (const auto& profile : FListed)
        if (profile.Name == Sid)
            return &profile;
    return nullptr;
}

// --- Hives --------------------------------------------------------------------

TUserProfiles::THive* TUserProfiles::Find(const std::u16string& HiveName) {
    for (const auto& hive : FHivesOpened)
        if (SameRegistryName(hive->HiveName, HiveName))
            return hive.get();
    return nullptr;
}

bool TUserProfiles::Met(const std::u16string& HiveName) const {
    return std::any_of(FOutcomes.begin(), FOutcomes.end(), [&](const TProfileOutcome& o) {
        return SameRegistryName(o.HiveName, HiveName);
    });
}

// A key below HKEY_USERS is a hive only when it is a hive's root itself: a
// link there (to \REGISTRY\MACHINE, say) would turn the rules on a user's
// keys onto the machine's.
TUserProfiles::TMount TUserProfiles::Mount(const std::u16string& Name,
                                           const std::u16string& HiveName, THive*& Hive) {
    Hive = nullptr;
    RegKeyHandle key;
    const long error = OpenKeyHandle(FRegistry, kHkeyUsers, Name, 0, kKeyAllAccess, key);
    if (error == kErrorFileNotFound)
        return TMount::tmMissing;
    std::u16string kernelName;
    if (error != kErrorSuccess || FRegistry.QueryKeyName(key.Get(), kernelName) != kErrorSuccess)
        return TMount::tmCannotOpen;
    if (!SameRegistryName(kernelName, u"\\REGISTRY\\USER\\" + Name))
        return TMount::tmNotAHive;
    auto hive = std::make_unique<THive>();
    hive->Root = TRuleRoot{key.Get(), kUsers + HiveName};
    hive->HiveName = HiveName;
    hive->Key = std::move(key);
    FHivesOpened.push_back(std::move(hive));
    Hive = FHivesOpened.back().get();
    return TMount::tmMounted;
}

// Loads File under the temporary name; nothing stays mounted when that or
// opening it fails.
TUserProfiles::THive* TUserProfiles::Load(const std::u16string& Sid, const std::u16string& HiveName,
                                          const std::u16string& File) {
    if (!FPrivileges) {
        FPrivileges = true;
        if (const long error = FHives.EnablePrivileges())
            WarnAll(u"the privileges to load hives are missing: " + ErrorText(error));
    }
    const std::u16string name = TemporaryName(HiveName);
    // Room first, so that recording the load cannot fail once it is done.
    FLoaded.reserve(FLoaded.size() + 1);
    FHivesOpened.reserve(FHivesOpened.size() + 1);
    if (const long error = FHives.LoadHive(name, File)) {
        Warn(Sid, HiveName, File, File + u" cannot be loaded: " + ErrorText(error));
        return nullptr;
    }
    FLoaded.push_back({name, HiveName});
    THive* hive = nullptr;
    if (Mount(name, HiveName, hive) != TMount::tmMounted) {
        Unload(name);
        Warn(Sid, HiveName, File, u"its hive cannot be opened once loaded");
        return nullptr;
    }
    Note(Sid, HiveName, File, TProfileState::psLoadedForRun, u"");
    return hive;
}

// A hive another process holds open refuses its unloading; it is tried once
// more, and then it stays loaded with a warning.
bool TUserProfiles::Unload(const std::u16string& Name) noexcept {
    auto loaded = std::find_if(FLoaded.begin(), FLoaded.end(),
                               [&](const TLoaded& l) { return l.Name == Name; });
    if (loaded == FLoaded.end())
        return true;
    const std::u16string hiveName = loaded->HiveName;
    FLoaded.erase(loaded);
    long error = FHives.UnloadHive(Name);
    if (error != kErrorSuccess)
        error = FHives.UnloadHive(Name);
    if (error == kErrorSuccess)
        return true;
    ++FNotUnloaded;
    try {
        for (auto& outcome : FOutcomes)
            if (outcome.HiveName == hiveName && outcome.State == TProfileState::psLoadedForRun)
                outcome.State = TProfileState::psNotUnloaded;
        if (FActivity != nullptr)
            FActivity->Log(asWarning, aaProfileNotUnloaded,
                           WithDetail(kUsers + hiveName,
                                      ErrorText(error) + u"; it stays loaded as " + kUsers + Name));
    } catch (...) {
        // Only exhausted memory gets here; the count still tells.
    }
    return false;
}

TUserProfiles::THive* TUserProfiles::TakeHive(const std::u16string& Sid,
                                              const std::u16string& HiveName,
                                              const std::u16string& Folder,
                                              const std::u16string& RelativeFile, bool LoadedNow,
                                              TMissing Missing) {
    if (THive* hive = Find(HiveName))
        return hive;
    if (Met(HiveName))
        return nullptr;
    const std::u16string file = Folder + u'\\' + RelativeFile;
    const std::u16string normalised = NormalisedPath(file);
    if (LoadedNow) {
        THive* hive = nullptr;
        switch (Mount(HiveName, HiveName, hive)) {
        case TMount::tmMounted:
            FClaims.push_back({normalised, HiveName});
            Note(Sid, HiveName, u"", TProfileState::psLoaded, u"");
            return hive;
        case TMount::tmCannotOpen:
            Warn(Sid, HiveName, u"", u"its hive cannot be opened");
            return nullptr;
        case TMount::tmMissing:
        case TMount::tmNotAHive:
            // Not the hive: the profile's file is the hive, and it is free.
            break;
        }
    }
    for (const auto& claim : FClaims)
        if (claim.File == normalised) {
            Note(Sid, HiveName, file, TProfileState::psSkipped,
                 u"its hive file is that of " + kUsers + claim.HiveName);
            return nullptr;
        }
    switch (const long state = FHives.HiveFileState(Folder, RelativeFile)) {
    case kErrorSuccess:
        break;
    case kErrorFileNotFound:
        if (Missing == TMissing::tmWarn)
            Warn(Sid, HiveName, file, u"its hive file " + file + u" is missing");
        else if (Missing == TMissing::tmNote)
            Note(Sid, HiveName, file, TProfileState::psSkipped, u"it has no hive file " + file);
        return nullptr;
    case kErrorCantAccessFile:
        Warn(Sid, HiveName, file,
             u"its hive file " + file + u" is reached through a junction or symbolic link");
        return nullptr;
    default:
        Warn(Sid, HiveName, file, file + u" cannot be looked at: " + ErrorText(state));
        return nullptr;
    }
    FClaims.push_back({normalised, HiveName});
    return Load(Sid, HiveName, file);
}

// --- Which profiles -----------------------------------------------------------

TProfileState TUserProfiles::Screen(const TListed& Profile, std::u16string& Reason) {
    if (IsServiceAccount(Profile.Name)) {
        Reason = u"a service account";
        return TProfileState::psSkipped;
    }
    if (!IsUserAccount(Profile.Name)) {
        Reason = u"not a user account's SID";
        return TProfileState::psSkipped;
    }
    if (Profile.Folder.empty()) {
        Reason = Profile.Why;
        return TProfileState::psNotLoaded;
    }
    if (IsSetupAccount(Profile.Folder)) {
        // Unloading its hive during first-time setup can start setup anew.
        Reason = u"the temporary account of first-time setup";
        return TProfileState::psSkipped;
    }
    if (FHives.HiveFileState(Profile.Folder, kMandatoryHive) == kErrorSuccess) {
        Reason = u"a mandatory profile, " + kMandatoryHive + u", read-only by design";
        return TProfileState::psReadOnly;
    }
    Reason.clear();
    return TProfileState::psLoaded;
}

void TUserProfiles::TakeListed(const TListed& Profile, const std::vector<std::u16string>& Loaded,
                               std::vector<TRuleRoot>& Users, std::vector<TRuleRoot>& Classes) {
    FFolder = Profile.Folder;
    std::u16string reason;
    switch (const TProfileState state = Screen(Profile, reason)) {
    case TProfileState::psLoaded:
        break;
    case TProfileState::psNotLoaded:
        Warn(Profile.Name, Profile.Name, u"", reason);
        return;
    default:
        Note(Profile.Name, Profile.Name, u"", state, reason);
        return;
    }
    const std::u16string& sid = Profile.Name;
    if (THive* hive =
            TakeHive(sid, sid, Profile.Folder, kUserHive, Contains(Loaded, sid), TMissing::tmWarn))
        Users.push_back(hive->Root);
    const std::u16string classes = sid + kClasses;
    if (THive* hive = TakeHive(sid, classes, Profile.Folder, kClassesHive,
                               Contains(Loaded, classes), TMissing::tmQuiet))
        Classes.push_back(hive->Root);
}

const TRuleRoots& TUserProfiles::Open() {
    if (FOpened)
        return FRoots;
    FOpened = true;
    std::vector<std::u16string> loaded;
    if (const long error = FHives.LoadedHives(loaded))
        WarnAll(u"the loaded hives cannot be listed: " + ErrorText(error));
    std::sort(loaded.begin(), loaded.end());
    ReadProfileList();

    std::vector<TRuleRoot> users;
    std::vector<TRuleRoot> classes;
    for (const auto& profile : FListed)
        TakeListed(profile, loaded, users, classes);
    // Hives of user accounts loaded now that the list does not name.
    FFolder.clear();
    for (const auto& name : loaded) {
        const bool isClasses = EndsWith(name, kClasses);
        const std::u16string sid = isClasses ? name.substr(0, name.size() - kClasses.size()) : name;
        if (!IsUserAccount(sid) || Listed(sid) != nullptr || Met(name))
            continue;
        THive* hive = nullptr;
        switch (Mount(name, name, hive)) {
        case TMount::tmMounted:
            Note(sid, name, u"", TProfileState::psLoaded, u"");
            (isClasses ? classes : users).push_back(hive->Root);
            break;
        case TMount::tmNotAHive:
            Note(sid, name, u"", TProfileState::psSkipped, u"a registry link, not a hive");
            break;
        case TMount::tmMissing:
            break;
        case TMount::tmCannotOpen:
            Warn(sid, name, u"", u"its hive cannot be opened");
            break;
        }
    }
    if (!FDefaultFolder.empty()) {
        FFolder = FDefaultFolder;
        const std::u16string name = kDefaultProfile;
        if (THive* hive = TakeHive(u"", name, FDefaultFolder, kUserHive, false, TMissing::tmNote))
            users.push_back(hive->Root);
        if (THive* hive = TakeHive(u"", name + kClasses, FDefaultFolder, kClassesHive, false,
                                   TMissing::tmQuiet))
            classes.push_back(hive->Root);
    }
    FRoots.SetUserRoots(std::move(users));
    FRoots.SetClassesRoots(std::move(classes));
    return FRoots;
}

const TRuleRoot* TUserProfiles::OpenUser(const std::u16string& HiveName) {
    if (THive* hive = Find(HiveName))
        return &hive->Root;
    // One that could not be had is not tried, nor reported, again.
    if (Met(HiveName))
        return nullptr;
    const bool classes = EndsWith(HiveName, kClasses);
    const std::u16string sid =
        classes ? HiveName.substr(0, HiveName.size() - kClasses.size()) : HiveName;
    const std::u16string& file = classes ? kClassesHive : kUserHive;
    ReadProfileList();
    const TListed* profile = Listed(sid);
    FFolder = sid == kDefaultProfile ? FDefaultFolder
                                     : (profile != nullptr ? profile->Folder : std::u16string());
    THive* hive = nullptr;
    if (sid == kDefaultProfile) {
        if (FDefaultFolder.empty())
            Warn(u"", HiveName, u"", u"the profile list names no Default profile");
        else
            hive = TakeHive(u"", HiveName, FDefaultFolder, file, false, TMissing::tmWarn);
        return hive != nullptr ? &hive->Root : nullptr;
    }
    if (!IsUserAccount(sid)) {
        Warn(sid, HiveName, u"", u"it names no user account");
        return nullptr;
    }
    if (Mount(HiveName, HiveName, hive) == TMount::tmMounted) {
        Note(sid, HiveName, u"", TProfileState::psLoaded, u"");
        return &hive->Root;
    }
    if (profile == nullptr) {
        Warn(sid, HiveName, u"", u"the profile list does not name it");
        return nullptr;
    }
    std::u16string reason;
    if (Screen(*profile, reason) != TProfileState::psLoaded) {
        Warn(sid, HiveName, u"", reason);
        return nullptr;
    }
    hive = TakeHive(sid, HiveName, profile->Folder, file, false, TMissing::tmWarn);
    return hive != nullptr ? &hive->Root : nullptr;
}

void TUserProfiles::Close() noexcept {
    FRoots.SetUserRoots({});
    FRoots.SetClassesRoots({});
    FHivesOpened.clear();
    while (!FLoaded.empty()) {
        const TLoaded loaded = FLoaded.front(); // Unload drops the entry
        Unload(loaded.Name);
    }
}

} // namespace keystrip
