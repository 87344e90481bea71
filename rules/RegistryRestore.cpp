#include "rules/RegistryRestore.h"

#include "backup/RegFile.h"
#include "common/Errors.h"
#include "common/TextCase.h"
#include "common/Utf.h"
#include "platform/Files.h"
#include "rules/RegistryTree.h"

#include <algorithm>

namespace keystrip {

using namespace platform;

namespace {

const char16_t kNoWay[] = u"the way to it leads through a registry link";
const char16_t kNoHive[] = u"the user's hive could not be loaded";
const char16_t kKeyExists[] = u"a key of that name exists: a link is made only where there is none";

std::u16string ValueCount(size_t count) {
    return U16(std::to_string(count) + (count == 1 ? " value" : " values"));
}

std::u16string JoinParts(const std::vector<std::u16string>& parts, size_t from, size_t to) {
    std::u16string path;
    for (size_t i = from; i < to; ++i) {
        if (i > from)
            path += u'\\';
        path += parts[i];
    }
    return path;
}

// True when a later or earlier section lies below the one at index: a link
// is never entered, so the backup holds nothing below one, and a section
// with sections below it was a plain key that holds a link's value.
bool HasSectionBelow(const std::vector<TRestorePlace>& places, size_t index) {
    const TRestorePlace& top = places[index];
    return std::any_of(places.begin(), places.end(), [&](const TRestorePlace& place) {
        return place.Root == top.Root && AsciiSameText(place.UserHive, top.UserHive) &&
               place.Parts.size() > top.Parts.size() &&
               std::equal(top.Parts.begin(), top.Parts.end(), place.Parts.begin(),
                          [](const std::u16string& a, const std::u16string& b) {
                              return AsciiSameText(a, b);
                          });
    });
}

} // namespace

TRegistryRestorer::TRegistryRestorer(TActivityLogger* Activity, IRegistry& Registry,
                                     const TRestoreTargets& Targets)
    : TZolvaRuleProcessor(nullptr, Activity, Registry), FTargets(Targets) {}

TRestoreResult TRegistryRestorer::Restore(const std::u16string& FileName) {
    std::vector<uint8_t> bytes;
    try {
        bytes = ReadFileBytes(FileName);
    } catch (const EKeystripError& e) {
        LogSuccess(FPreviewOnly ? aaStartRestorePreview : aaStartRestore, FileName);
        LogActivity(aaRestoreRefused, asError, U16(e.what()));
        return TRestoreResult::Refused;
    }
    return Restore(FileName, bytes);
}

// The one step that decides what the file holds; everything after it works
// on the document alone.
TRegFileDocument TRegistryRestorer::ReadDocument(const std::vector<uint8_t>& Bytes) {
    return ReadRegFile(Bytes);
}

TRestoreResult TRegistryRestorer::Restore(const std::u16string& FileName,
                                          const std::vector<uint8_t>& Bytes) {
    LogSuccess(FPreviewOnly ? aaStartRestorePreview : aaStartRestore, FileName);
    TRegFileDocument document;
    try {
        document = ReadDocument(Bytes);
    } catch (const EKeystripError& e) {
        LogActivity(aaRestoreRefused, asError, U16(e.what()));
        return TRestoreResult::Refused;
    }
    return Apply(document);
}

TRestoreResult TRegistryRestorer::RestoreVouched(const std::u16string& FileName,
                                                 const TRegFileDocument& Document) {
    LogSuccess(FPreviewOnly ? aaStartRestorePreview : aaStartRestore, FileName);
    return Apply(Document);
}

TRestoreResult TRegistryRestorer::Apply(const TRegFileDocument& Document) {
    // Every section is placed before the first is written: one outside the
    // targets refuses the whole file.
    std::vector<TRestorePlace> places(Document.Keys.size());
    for (size_t i = 0; i < places.size(); ++i) {
        std::string why;
        if (!FTargets.Place(Document.Keys[i], places[i], why)) {
            LogActivity(aaRestoreRefused, asError, U16(why));
            return TRestoreResult::Refused;
        }
    }
    bool complete = true;
    for (size_t i = 0; i < places.size(); ++i) {
        const TRegFileKey& section = Document.Keys[i];
        const bool link = section.IsLink() && !HasSectionBelow(places, i);
        if (!(FPreviewOnly ? PreviewSection(section, places[i], link)
                           : RestoreSection(section, places[i], link)))
            complete = false;
    }
    LogSuccess(aaStopRestore, GetResultText(complete));
    return complete ? TRestoreResult::Restored : TRestoreResult::Incomplete;
}

// The path above a complete-key rule's own key is reached as a removal
// reaches it (a link from machine keys to machine keys followed, as the
// system's own are); from that key down no link is followed, so a link in
// the tree, or one the file itself made, carries no later section elsewhere.
TRegistryRestorer::TPlaceReach TRegistryRestorer::Reach(const TRestorePlace& Place, bool AsLink,
                                                        bool Create, RegKeyHandle& Key,
                                                        bool& Created, size_t Depth) {
    Key.Close();
    Created = false;
    const TReachMode mode = Create ? TReachMode::rmCreate : TReachMode::rmOpen;
    auto result = [](TKeyReach reach) {
        return reach == TKeyReach::Reached  ? TPlaceReach::Reached
               : reach == TKeyReach::Absent ? TPlaceReach::Absent
                                            : TPlaceReach::Refused;
    };
    RegKey root = Place.Root;
    RegKeyHandle hive;
    std::u16string kernelName;
    if (!Place.UserHive.empty()) {
        if (FUserHives) {
            const TRuleRoot* user = FUserHives(Place.UserHive);
            if (user == nullptr)
                return TPlaceReach::NoHive;
            root = user->Handle;
        } else {
            // A hive loaded now, opened, never created: a key made in its
            // place would not be the user's hive.
            if (TRegistryTree(FRegistry, kKeyAllAccess)
                    .Reach(Place.Root, Place.UserHive, false, hive, kernelName) !=
                TKeyReach::Reached)
                return TPlaceReach::NoHive;
            root = hive.Get();
        }
    }
    const size_t own = std::min(Place.OwnFrom, Depth);
    RegKeyHandle parent;
    if (own > 0) {
        TRegistryTree tree(FRegistry, kKeyAllAccess);
        if (own == Depth)
            return result(tree.Reach(root, JoinParts(Place.Parts, 0, own), AsLink, Key, kernelName,
                                     mode, &Created));
        const TKeyReach reach =
            tree.Reach(root, JoinParts(Place.Parts, 0, own), false, parent, kernelName, mode);
        if (reach != TKeyReach::Reached)
            return result(reach);
        root = parent.Get();
    }
    TRegistryTree tree(FRegistry, kKeyAllAccess);
    tree.SetFollowLinks(false);
    return result(tree.Reach(root, JoinParts(Place.Parts, own, Depth), AsLink, Key, kernelName,
                             mode, &Created));
}

bool TRegistryRestorer::SameLink(RegKey Key, const TRegFileKey& Section) {
    const std::vector<uint8_t>& target = Section.Values[0].Data;
    uint32_t type = 0;
    uint32_t size = 0;
    if (FRegistry.QueryValue(Key, kSymbolicLinkValueName, &type, nullptr, &size) != kErrorSuccess ||
        type != kRegLink || size != target.size())
        return false;
    std::vector<uint8_t> data(size);
    return size == 0 || (FRegistry.QueryValue(Key, kSymbolicLinkValueName, &type, data.data(),
                                              &size) == kErrorSuccess &&
                         data == target);
}

bool TRegistryRestorer::RestoreSection(const TRegFileKey& Section, const TRestorePlace& Place,
                                       bool Link) {
    auto fail = [&](const std::u16string& why) {
        LogActivity(aaKeyNotRestored, FLogFailureSeverity, WithDetail(Section.Path, why));
        return false;
    };
    RegKeyHandle key;
    bool created = false;
    switch (Reach(Place, Link, true, key, created, Place.Parts.size())) {
    case TPlaceReach::Absent:
        return fail(u"it could not be created");
    case TPlaceReach::Refused:
        return fail(kNoWay);
    case TPlaceReach::NoHive:
        return fail(kNoHive);
    case TPlaceReach::Reached:
        break;
    }
    if (Link) {
        const std::u16string what = u"a link to " + Section.LinkTarget();
        // An existing key is left as it is: a link is never pointed
        // elsewhere, and a plain key never becomes one.
        if (!created) {
            if (!SameLink(key.Get(), Section))
                return fail(kKeyExists);
            LogSuccess(aaKeyRestored, WithDetail(Section.Path, what + u", there already"));
            return true;
        }
        const TRegFileValue& target = Section.Values[0];
        if (FRegistry.SetValue(key.Get(), kSymbolicLinkValueName, kRegLink, target.Data) !=
            kErrorSuccess) {
            // A link that leads nowhere is not left behind.
            FRegistry.DeleteOpenKey(key.Get());
            return fail(u"its target could not be set");
        }
        LogSuccess(aaKeyRestored, WithDetail(Section.Path, what));
        return true;
    }
    size_t set = 0;
    for (const auto& value : Section.Values)
        if (FRegistry.SetValue(key.Get(), value.Name, value.Type, value.Data) == kErrorSuccess)
            ++set;
    if (set != Section.Values.size())
        return fail(u"not every value could be set");
    LogSuccess(aaKeyRestored, WithDetail(Section.Path, ValueCount(set)));
    return true;
}

bool TRegistryRestorer::PreviewSection(const TRegFileKey& Section, const TRestorePlace& Place,
                                       bool Link) {
    auto wouldNot = [&](const std::u16string& why) {
        LogActivity(aaKeyWouldNotBeRestored, FLogFailureSeverity, WithDetail(Section.Path, why));
        return false;
    };
    const std::u16string what =
        Link ? u"a link to " + Section.LinkTarget() : ValueCount(Section.Values.size());
    RegKeyHandle key;
    bool created = false;
    const size_t depth = Place.Parts.size();
    TPlaceReach reach = Reach(Place, Link, false, key, created, depth);
    const bool exists = reach == TPlaceReach::Reached;
    // A key that is missing would be created below the deepest part of its
    // path that exists, which decides whether it can be.
    for (size_t d = depth - 1; reach == TPlaceReach::Absent && d > 0; --d)
        reach = Reach(Place, false, false, key, created, d);
    if (reach == TPlaceReach::Refused)
        return wouldNot(kNoWay);
    if (reach == TPlaceReach::NoHive)
        return wouldNot(kNoHive);
    if (Link && exists) {
        if (!SameLink(key.Get(), Section))
            return wouldNot(kKeyExists);
        LogSuccess(aaKeyWouldBeRestored, WithDetail(Section.Path, what + u", there already"));
        return true;
    }
    LogSuccess(aaKeyWouldBeRestored, WithDetail(Section.Path, what));
    return true;
}

} // namespace keystrip
