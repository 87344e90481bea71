#include "rules/ZolvaProductInspector.h"

#include "common/Utf.h"
#include "rules/RegistryAccess.h"
#include "rules/RegistryTree.h"

#include <string>

namespace keystrip {

using namespace platform;

namespace {

const std::u16string kNamesRoot = u"it names a whole root";
const std::u16string kHoldsNul = u"its name holds a NUL character";
const std::u16string kSteered = u"the way to it leads through a registry link";
const std::u16string kUnreadablePart = u"part of it cannot be read";
const std::u16string kCheckFailed = u"an error stopped the check";

} // namespace

std::u16string RegistryTypeName(uint32_t Type) {
    switch (Type) {
    case kRegNone:
        return u"REG_NONE";
    case kRegSz:
        return u"REG_SZ";
    case kRegExpandSz:
        return u"REG_EXPAND_SZ";
    case kRegBinary:
        return u"REG_BINARY";
    case kRegDword:
        return u"REG_DWORD";
    case kRegDwordBigEndian:
        return u"REG_DWORD_BIG_ENDIAN";
    case kRegLink:
        return u"REG_LINK";
    case kRegMultiSz:
        return u"REG_MULTI_SZ";
    case kRegQword:
        return u"REG_QWORD";
    default:
        return U16("type " + std::to_string(Type));
    }
}

TZolvaProductInspector::TZolvaProductInspector(TZolvaProduct* Product, TActivityLogger* Activity,
                                               IRegistry& Registry)
    : TZolvaRuleProcessor(Product, Activity, Registry) {}

bool TZolvaProductInspector::ProductInspected() {
    bool answer = true;
    if (FProduct == nullptr)
        return true;
    try {
        if (FRecord != nullptr) {
            FRecord->Name = FProduct->Name();
            FRecord->Rules.clear();
        }
        LogSuccess(aaStartPreview, FProduct->Name());
        const int count = FProduct->RemovalCount();
        for (int index = 0; index < count; ++index)
            if (!InspectRule(*FProduct->Removals(index), index))
                answer = false;
        LogSuccess(aaStopPreview, GetResultText(answer));
    } catch (...) {
        answer = false;
        try {
            LogActivity(aaFatalError, asError, u"5");
        } catch (...) {
            // Only exhausted memory gets here; the caller must not see it.
        }
    }
    if (FRecord != nullptr)
        FRecord->Complete = answer;
    FRule = nullptr;
    return answer;
}

void TZolvaProductInspector::Note(TPreviewStatus Status, const std::u16string& Reason) {
    if (FRule == nullptr)
        return;
    FRule->Status = Status;
    FRule->Reason = Reason;
}

bool TZolvaProductInspector::InspectRule(const TZolvaProductRemoveRule& Rule, int Index) {
    const std::vector<TRuleRoot> roots = RootsOf(Rule.Root);
    bool applies = true;
    for (const auto& root : roots) {
        FRoot = &root;
        if (FRecord != nullptr) {
            FRule = &FRecord->Rules.emplace_back();
            FRule->RuleIndex = Index;
            FRule->Action = Rule.Action;
            FRule->RootText = RootText(Rule.Root);
            FRule->Key = Rule.Key;
            if (Rule.Action == raNameOnly)
                FRule->ValueName = Rule.Name;
        }
        if (!InspectRuleAt(Rule))
            applies = false;
    }
    FRoot = nullptr;
    FRule = nullptr;
    return applies;
}

bool TZolvaProductInspector::InspectRuleAt(const TZolvaProductRemoveRule& Rule) {
    try {
        TZolvaRuleLogData data;
        data.Root = Rule.Root;
        data.Key = Rule.Key;
        data.Name = Rule.Name;
        data.RootText = FRoot != nullptr ? FRoot->Text : u"";
        const std::u16string keyPath = GetKeyPath(data);
        switch (Rule.Action) {
        case raCompleteKey:
            return InspectKey(Rule, keyPath);
        case raNameOnly:
            return InspectValue(Rule, keyPath, GetValuePath(data));
        }
        return true;
    } catch (...) {
        LogActivity(aaFatalError, asError, u"6");
        Note(psWouldNotBeDeleted, kCheckFailed);
        return false;
    }
}

bool TZolvaProductInspector::InspectKey(const TZolvaProductRemoveRule& Rule,
                                        const std::u16string& KeyPath) {
    auto refuse = [&](const std::u16string& why, const std::u16string& detail) {
        LogActivity(aaKeyWouldNotBeDeleted, FLogFailureSeverity, WithDetail(KeyPath, detail));
        Note(psWouldNotBeDeleted, why);
        return false;
    };
    if (TRegistryAccess::NamesRoot(Rule.Key))
        return refuse(kNamesRoot, kNamesRoot);
    if (TRegistryTree::HasNul(Rule.Key))
        return refuse(kHoldsNul, kHoldsNul);
    TRegistryAccess access(FRegistry, kKeyAllAccess);
    access.SetRootKey(RootHandle(Rule.Root));
    if (!access.KeyExists(Rule.Key)) {
        LogSuccess(aaKeyNotFound, KeyPath);
        return true;
    }
    TRegistryTree tree(FRegistry, kKeyAllAccess);
    RegKeyHandle key;
    std::u16string kernelName;
    switch (tree.Reach(RootHandle(Rule.Root), Rule.Key, true, key, kernelName)) {
    case TKeyReach::Absent:
        LogSuccess(aaKeyNotFound, KeyPath);
        return true;
    case TKeyReach::Refused:
        return refuse(kSteered, kSteered);
    case TKeyReach::Reached:
        break;
    }
    uint64_t keys = 0;
    uint64_t values = 0;
    uint8_t gaps = tgNone;
    if (FRule == nullptr) {
        gaps = tree.VisitTree(key.Get(), kernelName, [&](const TTreeKey& visited) {
            ++keys;
            values += visited.Values;
            return true;
        });
    } else {
        // The same walk, recording each key with its values as it goes.
        TPreviewTreeBuilder builder(FRegistry, *FRule);
        gaps = tree.VisitTree(
            key.Get(), kernelName,
            [&](const TTreeKey& visited) {
                builder.Add(visited);
                return true;
            },
            [&](const TTreeKey& at, uint8_t gap, const std::u16string* subKey) {
                builder.Gap(at, gap, subKey);
            });
        builder.Finish();
        FRule->Gaps = gaps;
        keys = FRule->Keys;
        values = FRule->Values;
    }
    const std::u16string counted = KeysAndValuesText(keys, values);
    if (gaps & (tgRefused | tgTooDeep)) {
        const std::u16string why = (gaps & tgTooDeep)
                                       ? u"keys below the registry's depth limit would stay"
                                       : u"a key inside it is not what its name says";
        return refuse(why, counted + u"; " + why);
    }
    if (gaps & tgUnreadable) {
        LogSuccess(aaKeyWouldBeDeleted,
                   WithDetail(KeyPath, u"at least " + counted + u"; " + kUnreadablePart));
        Note(psWouldBeDeleted, kUnreadablePart);
        return true;
    }
    LogSuccess(aaKeyWouldBeDeleted, WithDetail(KeyPath, counted));
    Note(psWouldBeDeleted);
    return true;
}

bool TZolvaProductInspector::InspectValue(const TZolvaProductRemoveRule& Rule,
                                          const std::u16string& KeyPath,
                                          const std::u16string& ValuePath) {
    if (TRegistryTree::HasNul(Rule.Key) || TRegistryTree::HasNul(Rule.Name)) {
        LogActivity(aaNameWouldNotBeDeleted, FLogFailureSeverity, WithDetail(ValuePath, kHoldsNul));
        Note(psWouldNotBeDeleted, kHoldsNul);
        return false;
    }
    TRegistryAccess access(FRegistry, kKeyAllAccess);
    access.SetRootKey(RootHandle(Rule.Root));
    const TKeyReach reach =
        TRegistryAccess::NamesRoot(Rule.Key)
            ? (access.OpenKey(Rule.Key) ? TKeyReach::Reached : TKeyReach::Absent)
            : access.ReachKey(Rule.Key);
    if (reach == TKeyReach::Absent) {
        LogSuccess(aaKeyNotFound, KeyPath);
        return true;
    }
    if (reach == TKeyReach::Refused) {
        LogActivity(aaNameWouldNotBeDeleted, FLogFailureSeverity, WithDetail(ValuePath, kSteered));
        Note(psWouldNotBeDeleted, kSteered);
        return false;
    }
    uint32_t type = 0;
    uint32_t size = 0;
    if (!access.ValueInfo(Rule.Name, type, size)) {
        LogSuccess(aaNameNotFound, ValuePath);
        return true;
    }
    LogSuccess(aaNameWouldBeDeleted, WithDetail(ValuePath, TypeAndSizeText(type, size)));
    if (FRule != nullptr) {
        Note(psWouldBeDeleted);
        FRule->Value = TPreviewValue{Rule.Name, type, size};
        FRule->Values = 1;
        FRule->Bytes = size;
    }
    return true;
}

} // namespace keystrip
