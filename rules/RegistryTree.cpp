#include "rules/RegistryTree.h"

#include "common/RegistryName.h"

#include <string_view>
#include <vector>

namespace keystrip {

using namespace platform;

namespace {

enum class THive { Machine, User, Other };

bool StartsWithPart(std::u16string_view name, std::u16string_view prefix) {
    return name.size() >= prefix.size() &&
           SameRegistryName(name.substr(0, prefix.size()), prefix) &&
           (name.size() == prefix.size() || name[prefix.size()] == u'\\');
}

bool EndsWithPart(std::u16string_view name, std::u16string_view part) {
    const size_t length = part.size() + 1;
    return name.size() > length && name[name.size() - length] == u'\\' &&
           SameRegistryName(name.substr(name.size() - part.size()), part);
}

// True when name is parent, a backslash and child.
bool IsChildName(std::u16string_view name, std::u16string_view parent, std::u16string_view child) {
    return name.size() == parent.size() + 1 + child.size() && name[parent.size()] == u'\\' &&
           SameRegistryName(name.substr(0, parent.size()), parent) &&
           SameRegistryName(name.substr(parent.size() + 1), child);
}

THive HiveOf(const std::u16string& kernelName) {
    if (StartsWithPart(kernelName, u"\\REGISTRY\\MACHINE"))
        return THive::Machine;
    if (StartsWithPart(kernelName, u"\\REGISTRY\\USER"))
        return THive::User;
    return THive::Other;
}

// Where the keys below a predefined root may lie.
bool RootHolds(RegKey root, THive hive) {
    switch (root) {
    case kHkeyLocalMachine:
    case kHkeyCurrentConfig:
        return hive == THive::Machine;
    case kHkeyCurrentUser:
    case kHkeyUsers:
        return hive == THive::User;
    case kHkeyClassesRoot:
        // The machine's classes, or the user's own merged in.
        return hive != THive::Other;
    default:
        return false;
    }
}

std::u16string ChildName(const std::u16string& parent, const std::u16string& name) {
    std::u16string child;
    child.reserve(parent.size() + 1 + name.size());
    child += parent;
    child += u'\\';
    child += name;
    return child;
}

} // namespace

int KernelDepth(const std::u16string& KernelName) {
    int separators = 0;
    for (char16_t c : KernelName)
        if (c == u'\\')
            ++separators;
    return separators > 0 ? separators - 1 : 0;
}

TRegistryTree::TRegistryTree(IRegistry& Registry, uint32_t Access)
    : FRegistry(Registry), FAccess(Access) {}

TKeyReach TRegistryTree::Reach(RegKey Root, const std::u16string& Path, bool OpenLeafAsLink,
                               RegKeyHandle& Key, std::u16string& KernelName, TReachMode Mode,
                               bool* Created) {
    Key.Close();
    KernelName.clear();
    if (HasNul(Path))
        return TKeyReach::Refused;
    const std::vector<std::u16string> parts = SplitRegistryPath(Path);
    // A root itself is never reached: no rule owns one.
    if (parts.empty())
        return TKeyReach::Refused;
    // Below an open key (a user's hive loaded elsewhere), every part is
    // checked against that key's name.
    std::u16string currentName;
    if (!IsPredefinedKey(Root) && FRegistry.QueryKeyName(Root, currentName) != kErrorSuccess)
        return TKeyReach::Refused;
    RegKeyHandle current;
    for (size_t i = 0; i < parts.size(); ++i) {
        const bool leaf = i + 1 == parts.size();
        RegKeyHandle next;
        std::u16string nextName;
        const RegKey parent = i == 0 && !IsPredefinedKey(Root) ? Root : current.Get();
        bool created = false;
        const TKeyReach reach = Step(Root, parent, currentName, parts[i], leaf,
                                     leaf && OpenLeafAsLink, Mode, next, nextName, created);
        if (reach != TKeyReach::Reached)
            return reach;
        if (leaf && Created != nullptr)
            *Created = created;
        current = std::move(next);
        currentName = std::move(nextName);
    }
    Key = std::move(current);
    KernelName = std::move(currentName);
    return TKeyReach::Reached;
}

// One part of a path. Parent 0 is the predefined root: the first part is
// opened from it with the view flag, which may redirect it (HKLM\SOFTWARE is
// ...\Software\Wow6432Node for a 32-bit process), so it is checked by its
// last part and its hive; every later part must be exactly the child asked
// for. Each part is opened as itself even when it is a link; a link is then
// followed only when it leads from machine keys to machine keys. In
// rmCreate a missing part is created (as a link when AsLink).
TKeyReach TRegistryTree::Step(RegKey Root, RegKey Parent, const std::u16string& ParentName,
                              const std::u16string& Part, bool Leaf, bool AsLink, TReachMode Mode,
                              RegKeyHandle& Key, std::u16string& Name, bool& Created) {
    const bool first = Parent == 0;
    auto open = [&](uint32_t options, uint32_t access, RegKeyHandle& out) {
        return first ? OpenKeyHandle(FRegistry, Root, Part, options, access, out)
                     : OpenSubKeyHandle(FRegistry, Parent, Part, options, access, out);
    };
    const bool create = Mode == TReachMode::rmCreate;
    const uint32_t access =
        Leaf ? FAccess | kKeyQueryValue : kKeyQueryValue | (create ? kKeyCreateSubKey : 0);
    long error = open(kOptionOpenLink, access, Key);
    bool canRead = error == kErrorSuccess;
    if (error == kErrorAccessDenied && !create) {
        // A key on the path that denies reading can still be passed; a key
        // to delete needs no more than DELETE once its subkeys are gone.
        if (Leaf && AsLink)
            error = open(kOptionOpenLink, kDelete, Key);
        else if (!Leaf)
            error = open(kOptionOpenLink, 0, Key);
    }
    if (error == kErrorFileNotFound && create) {
        const uint32_t options = AsLink ? kOptionCreateLink : 0;
        RegKey created = 0;
        bool isNew = false;
        error = first ? FRegistry.CreateKey(Root, Part, options, access, created, isNew)
                      : FRegistry.CreateSubKey(Parent, Part, options, access, created, isNew);
        if (error == kErrorSuccess)
            Key = RegKeyHandle(FRegistry, created);
        Created = error == kErrorSuccess && isNew;
        canRead = error == kErrorSuccess;
    }
    if (error != kErrorSuccess)
        return TKeyReach::Absent;

    if (FRegistry.QueryKeyName(Key.Get(), Name) != kErrorSuccess)
        return TKeyReach::Refused; // what cannot be named cannot be checked
    const bool expected =
        first ? RootHolds(Root, HiveOf(Name)) &&
                    (EndsWithPart(Name, Part) || EndsWithPart(Name, Part + u"\\Wow6432Node"))
              : IsChildName(Name, ParentName, Part);
    if (!expected)
        return TKeyReach::Refused;
    if (AsLink || !canRead)
        return TKeyReach::Reached;

    std::u16string target;
    if (!ReadLink(Key.Get(), target))
        return TKeyReach::Reached;
    if (!FFollowLinks) {
        // Only a real link is refused: a plain key may hold a value of that
        // name and type, and then opening it by name still opens itself.
        RegKeyHandle followed;
        std::u16string followedName;
        return open(0, 0, followed) == kErrorSuccess &&
                       FRegistry.QueryKeyName(followed.Get(), followedName) == kErrorSuccess &&
                       SameRegistryName(followedName, Name)
                   ? TKeyReach::Reached
                   : TKeyReach::Refused;
    }
    // A link a user could plant (in a user's hive, or leading into one) would
    // steer the program into keys no rule names.
    if (HiveOf(Name) != THive::Machine || HiveOf(target) != THive::Machine)
        return TKeyReach::Refused;
    Key.Close();
    if (open(0, access, Key) != kErrorSuccess)
        return TKeyReach::Absent;
    std::u16string resolved;
    if (FRegistry.QueryKeyName(Key.Get(), resolved) != kErrorSuccess ||
        !SameRegistryName(resolved, target))
        return TKeyReach::Refused;
    Name = std::move(resolved);
    return TKeyReach::Reached;
}

bool TRegistryTree::ReadLink(RegKey Key, std::u16string& Target) {
    uint32_t type = 0;
    uint32_t size = 0;
    if (FRegistry.QueryValue(Key, kSymbolicLinkValueName, &type, nullptr, &size) != kErrorSuccess ||
        type != kRegLink)
        return false;
    std::vector<uint8_t> data(size);
    uint32_t read = size;
    if (size > 0 && FRegistry.QueryValue(Key, kSymbolicLinkValueName, &type, data.data(), &read) !=
                        kErrorSuccess)
        return false;
    Target.clear();
    for (uint32_t i = 0; i + 1 < read; i += 2)
        Target.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
    return true;
}

// Opens a subkey by its counted name, as itself even when it is a link, and
// checks that it is that very child: a key that names another (a followed
// link, a parent reopened by a cut name) is left alone.
bool TRegistryTree::OpenChild(RegKey Parent, const std::u16string& ParentName,
                              const std::u16string& Name, uint32_t Access, RegKeyHandle& Child,
                              std::u16string& ChildKernelName) {
    if (OpenSubKeyHandle(FRegistry, Parent, Name, kOptionOpenLink, Access, Child) !=
            kErrorSuccess &&
        OpenSubKeyHandle(FRegistry, Parent, Name, kOptionOpenLink, kDelete, Child) != kErrorSuccess)
        return false;
    return FRegistry.QueryKeyName(Child.Get(), ChildKernelName) == kErrorSuccess &&
           IsChildName(ChildKernelName, ParentName, Name);
}

// A key that holds a link's value is a link when opening it by name leads
// elsewhere (or nowhere); otherwise it is an ordinary key that happens to
// hold such a value, and its subkeys belong to the tree.
bool TRegistryTree::IsLinkKey(RegKey Parent, const std::u16string& Name, TTreeKey& Key) {
    if (!ReadLink(Key.Handle, Key.LinkTarget))
        return false;
    RegKeyHandle followed;
    if (OpenSubKeyHandle(FRegistry, Parent, Name, 0, 0, followed) != kErrorSuccess)
        return true;
    std::u16string name;
    if (FRegistry.QueryKeyName(followed.Get(), name) == kErrorSuccess &&
        SameRegistryName(name, Key.KernelName)) {
        Key.LinkTarget.clear();
        return false;
    }
    return true;
}

bool TRegistryTree::DeleteTree(RegKey Key, const std::u16string& KernelName) {
    return DeleteBelow(Key, KernelName, KernelDepth(KernelName));
}

bool TRegistryTree::DeleteBelow(RegKey Key, const std::u16string& KernelName, int Depth) {
    // A link opened as itself has no subkeys, so it is deleted itself.
    uint32_t subKeys = 0;
    uint32_t values = 0;
    if (Depth < kMaxDepth && FRegistry.QueryKeyInfo(Key, subKeys, values) == kErrorSuccess) {
        std::u16string name;
        for (uint32_t index = subKeys; index-- > 0;) {
            if (FRegistry.EnumSubKey(Key, index, name) != kErrorSuccess)
                continue;
            RegKeyHandle child;
            std::u16string childName;
            if (OpenChild(Key, KernelName, name, FAccess, child, childName))
                DeleteBelow(child.Get(), childName, Depth + 1);
        }
    }
    return FRegistry.DeleteOpenKey(Key) == kErrorSuccess;
}

uint8_t TRegistryTree::VisitTree(RegKey Key, const std::u16string& KernelName,
                                 const std::function<bool(const TTreeKey&)>& Visit,
                                 const TGapObserver& OnGap) {
    TTreeKey top;
    top.Handle = Key;
    top.KernelName = KernelName;
    // The top was opened as itself: a link holds no subkeys of its own.
    uint32_t subKeys = 0;
    uint32_t values = 0;
    top.IsLink = ReadLink(Key, top.LinkTarget) &&
                 FRegistry.QueryKeyInfo(Key, subKeys, values) == kErrorSuccess && subKeys == 0;
    uint8_t gaps = tgNone;
    VisitBelow(top, KernelDepth(KernelName), Visit, OnGap, gaps);
    return gaps;
}

void TRegistryTree::VisitBelow(TTreeKey& Key, int Depth,
                               const std::function<bool(const TTreeKey&)>& Visit,
                               const TGapObserver& OnGap, uint8_t& Gaps) {
    auto leaveOut = [&](uint8_t gap, const std::u16string* subKey) {
        Gaps |= gap;
        if (OnGap)
            OnGap(Key, gap, subKey);
    };
    const bool readable =
        Key.IsLink || FRegistry.QueryKeyInfo(Key.Handle, Key.SubKeys, Key.Values) == kErrorSuccess;
    if (Key.IsLink)
        Key.SubKeys = Key.Values = 0;
    if (!Visit(Key)) {
        Gaps |= tgStopped;
        return;
    }
    if (!readable) {
        leaveOut(tgUnreadable, nullptr);
        return;
    }
    if (Key.SubKeys == 0)
        return;
    if (Depth >= kMaxDepth) {
        leaveOut(tgTooDeep, nullptr);
        return;
    }
    for (uint32_t index = 0; index < Key.SubKeys; ++index) {
        std::u16string name;
        const long error = FRegistry.EnumSubKey(Key.Handle, index, name);
        if (error == kErrorNoMoreItems)
            break;
        if (error != kErrorSuccess) {
            leaveOut(tgUnreadable, nullptr);
            continue;
        }
        RegKeyHandle child;
        TTreeKey childKey;
        if (!OpenChild(Key.Handle, Key.KernelName, name, FAccess, child, childKey.KernelName)) {
            leaveOut(child ? tgRefused : tgUnreadable, &name);
            continue;
        }
        childKey.Handle = child.Get();
        childKey.Path = Key.Path.empty() ? name : ChildName(Key.Path, name);
        childKey.Level = Key.Level + 1;
        childKey.IsLink = IsLinkKey(Key.Handle, name, childKey);
        VisitBelow(childKey, Depth + 1, Visit, OnGap, Gaps);
        if (Gaps & tgStopped)
            return;
    }
}

} // namespace keystrip
