#include "rules/ZolvaRuleProcessor.h"

#include "backup/RegFile.h"
#include "common/Errors.h"
#include "common/TextCase.h"
#include "common/Utf.h"
#include "rules/RegistryAccess.h"
#include "rules/RuleBackup.h"

namespace keystrip {

using namespace platform;

// --- TZolvaRuleProcessor ------------------------------------------------------

TZolvaRuleProcessor::TZolvaRuleProcessor(TZolvaProduct* Product, TActivityLogger* Activity,
                                         IRegistry& Registry)
    : FProduct(Product), FActivity(Activity), FRegistry(Registry) {}

RegKey TZolvaRuleProcessor::GetRootHandle(TZolvaProductRootKey Root) {
    return TRuleRoots::RootHandle(Root);
}

void TZolvaRuleProcessor::LogActivity(TActivityAction Action, TActivitySeverity Severity,
                                      const std::u16string& Data) {
    if (FActivity != nullptr)
        FActivity->Log(Severity, Action, Data);
}

void TZolvaRuleProcessor::LogSuccess(TActivityAction Action, const std::u16string& Data) {
    LogActivity(Action, FLogSuccessSeverity, Data);
}

void TZolvaRuleProcessor::LogResult(bool Succeeded, TZolvaResultActions Actions,
                                    const std::u16string& Data) {
    if (Succeeded)
        LogActivity(Actions.first, FLogSuccessSeverity, Data);
    else
        LogActivity(Actions.second, FLogFailureSeverity, Data);
}

std::vector<TRuleTarget> TZolvaRuleProcessor::TargetsOf(TZolvaProductRootKey Root,
                                                        const std::u16string& Key) const {
    return TRuleRoots::TargetsOf(FRoots, Root, Key);
}

RegKey TZolvaRuleProcessor::RootHandle(TZolvaProductRootKey Root) const {
    return FRoot != nullptr ? FRoot->Handle : GetRootHandle(Root);
}

std::u16string TZolvaRuleProcessor::RootText(TZolvaProductRootKey Root) const {
    return FRoot != nullptr && !FRoot->Text.empty() ? FRoot->Text : RootKeyToText(Root);
}

std::u16string TZolvaRuleProcessor::GetKeyPath(const TZolvaRuleLogData& LogData) {
    return (LogData.RootText.empty() ? RootKeyToText(LogData.Root) : LogData.RootText) + u'\\' +
           LogData.Key;
}

std::u16string TZolvaRuleProcessor::GetValuePath(const TZolvaRuleLogData& LogData) {
    return GetKeyPath(LogData) + u'\\' + LogData.Name;
}

std::u16string TZolvaRuleProcessor::GetValueText(const TZolvaRuleLogData& LogData) {
    return GetValuePath(LogData) + u": " + LogData.Value;
}

std::u16string TZolvaRuleProcessor::GetResultText(bool Value) {
    return Value ? u"Success" : u"Failure";
}

// --- TZolvaProductDetector ----------------------------------------------------

TZolvaProductDetector::TZolvaProductDetector(TZolvaProduct* Product, TActivityLogger* Activity,
                                             IRegistry& Registry)
    : TZolvaRuleProcessor(Product, Activity, Registry) {
    FLogSuccessSeverity = asDebug;
    FLogFailureSeverity = asDebug;
}

void TZolvaProductDetector::GetLogData(const TZolvaProductDectectRule& Rule,
                                       TZolvaRuleLogData& LogData) const {
    LogData.Root = Rule.Root;
    LogData.Key = Rule.Key;
    LogData.Name = Rule.Name;
    LogData.Value = Rule.Value;
    LogData.RootText = FRoot != nullptr ? FRoot->Text : u"";
}

bool TZolvaProductDetector::ProductPresent() {
    bool answer = false;
    if (FProduct == nullptr)
        return false;
    try {
        LogSuccess(aaStartDetection, FProduct->Name());
        const int count = FProduct->DetectionCount();
        for (int index = 0; index < count; ++index) {
            if (CheckRule(*FProduct->Detections(index))) {
                answer = true;
                break;
            }
        }
        LogSuccess(aaStopDetection, GetResultText(answer));
    } catch (...) {
        answer = false;
        try {
            LogActivity(aaFatalError, asError, u"1");
        } catch (...) {
            // Only exhausted memory gets here; the caller must not see it.
        }
    }
    return answer;
}

namespace {

// The value's data as the text a detection rule compares with.
std::u16string ReadValueText(TRegistryAccess& Access, const std::u16string& Name) {
    switch (Access.GetDataType(Name)) {
    case rdString:
    case rdExpandString:
        return Access.ReadString(Name);
    case rdInteger:
        return U16(std::to_string(Access.ReadInteger(Name)));
    default:
        return {};
    }
}

} // namespace

bool TZolvaProductDetector::CheckRule(const TZolvaProductDectectRule& Rule) {
    const std::vector<TRuleTarget> targets = TargetsOf(Rule.Root, Rule.Key);
    bool holds = false;
    for (const auto& target : targets) {
        FRoot = &target.Root;
        TZolvaProductDectectRule at = Rule;
        at.Key = target.Key;
        holds = CheckRuleAt(at);
        if (holds)
            break;
    }
    FRoot = nullptr;
    return holds;
}

bool TZolvaProductDetector::CheckRuleAt(const TZolvaProductDectectRule& Rule) {
    try {
        TRegistryAccess access(FRegistry, kKeyRead);
        access.SetRootKey(RootHandle(Rule.Root));
        TZolvaRuleLogData data;
        // Each entry's text comes from a copy of the rule made right before it.
        auto logData = [&]() -> const TZolvaRuleLogData& {
            GetLogData(Rule, data);
            return data;
        };

        switch (Rule.Action) {
        case daKeyExist: {
            bool found = access.KeyExists(Rule.Key);
            LogResult(found, {baKeyFound, aaKeyNotFound}, GetKeyPath(logData()));
            return found;
        }
        case daNameExist: {
            if (!access.OpenKey(Rule.Key)) {
                LogSuccess(aaKeyNotFound, GetKeyPath(logData()));
                return false;
            }
            bool exists = access.ValueExists(Rule.Name);
            access.CloseKey();
            LogResult(exists, {aaNameFound, aaNameNotFound}, GetValuePath(logData()));
            return exists;
        }
        case daNameMatchValue: {
            if (!access.OpenKey(Rule.Key)) {
                LogSuccess(aaKeyNotFound, GetKeyPath(logData()));
                return false;
            }
            bool equal = false;
            if (access.ValueExists(Rule.Name)) {
                std::u16string text = ReadValueText(access, Rule.Name);
                if (!text.empty()) {
                    equal = AsciiSameText(text, Rule.Value);
                    LogResult(equal, {aaValueEqual, aaValueDifferent}, GetValueText(logData()));
                } else {
                    LogSuccess(aaNameInvalid, GetValuePath(logData()));
                }
            } else {
                LogSuccess(aaNameNotFound, GetValuePath(logData()));
            }
            access.CloseKey();
            return equal;
        }
        }
        return false;
    } catch (...) {
        LogActivity(aaFatalError, asError, u"2");
        return false;
    }
}

// --- TZolvaProductRemover -----------------------------------------------------

namespace {

// A rule's key as the backup names it: the root's full name, then the path
// below it without empty parts.
std::u16string BackupPath(const std::u16string& RootText, const std::u16string& Key) {
    std::u16string path = RootText;
    size_t start = 0;
    while (start < Key.size()) {
        size_t end = Key.find(u'\\', start);
        if (end == std::u16string::npos)
            end = Key.size();
        if (end > start)
            path += u'\\' + Key.substr(start, end - start);
        start = end + 1;
    }
    return path;
}

} // namespace

TZolvaProductRemover::TZolvaProductRemover(TZolvaProduct* Product, TActivityLogger* Activity,
                                           IRegistry& Registry)
    : TZolvaRuleProcessor(Product, Activity, Registry) {}

void TZolvaProductRemover::GetLogData(const TZolvaProductRemoveRule& Rule,
                                      TZolvaRuleLogData& LogData) const {
    LogData.Root = Rule.Root;
    LogData.Key = Rule.Key;
    LogData.Name = Rule.Name;
    LogData.Value.clear();
    LogData.RootText = FRoot != nullptr ? FRoot->Text : u"";
}

bool TZolvaProductRemover::ProductRemoved() {
    bool answer = true;
    if (FProduct == nullptr)
        return true;
    try {
        if (FRecord != nullptr)
            FRecord->Name = FProduct->Name();
        LogSuccess(ssStartRemoval, FProduct->Name());
        const int count = FProduct->RemovalCount();
        for (int index = 0; index < count; ++index)
            if (!ApplyRule(*FProduct->Removals(index), index))
                answer = false;
        LogSuccess(ssStopRemoval, GetResultText(answer));
    } catch (...) {
        answer = false;
        try {
            LogActivity(aaFatalError, asError, u"3");
        } catch (...) {
            // Only exhausted memory gets here; the caller must not see it.
        }
    }
    if (FRecord != nullptr)
        FRecord->Complete = answer;
    return answer;
}

bool TZolvaProductRemover::ApplyRule(const TZolvaProductRemoveRule& Rule, int Index) {
    const std::vector<TRuleTarget> targets = TargetsOf(Rule.Root, Rule.Key);
    bool applied = true;
    for (const auto& target : targets) {
        FRoot = &target.Root;
        TZolvaProductRemoveRule at = Rule;
        at.Key = target.Key;
        const int first = FActivity != nullptr ? FActivity->Count() : 0;
        const bool done = ApplyRuleAt(at);
        if (!done)
            applied = false;
        if (FRecord != nullptr)
            Record(at, Index, first, done);
    }
    FRoot = nullptr;
    return applied;
}

// The record follows from the entry the rule ended with, so that it says
// exactly what the report says.
void TZolvaProductRemover::Record(const TZolvaProductRemoveRule& Rule, int Index, int First,
                                  bool Applied) {
    TRemovalRule record;
    record.RuleIndex = Index;
    record.Action = Rule.Action;
    record.RootText = RootText(Rule.Root);
    record.Key = Rule.Key;
    if (Rule.Action == raNameOnly)
        record.ValueName = Rule.Name;
    record.Result = Applied ? rrDeleted : rrNotDeleted;
    if (FActivity != nullptr && FActivity->Count() > First) {
        const TActivityItem& last = *FActivity->Entries(FActivity->Count() - 1);
        switch (last.Action) {
        case aaKeyNotFound:
        case aaNameNotFound:
            record.Result = rrNotFound;
            break;
        case aaKeyNotBackedUp:
        case aaNameNotBackedUp: {
            record.Result = rrNotBackedUp;
            const size_t detail = last.Data.find(u'\0');
            if (detail != std::u16string::npos)
                record.Reason = last.Data.substr(detail + 1);
            break;
        }
        case aaFatalError:
            record.Result = rrFailed;
            break;
        case ssSimulationOnly:
            record.Result = rrSimulated;
            break;
        default:
            break;
        }
    }
    FRecord->Rules.push_back(std::move(record));
}

bool TZolvaProductRemover::ApplyRuleAt(const TZolvaProductRemoveRule& Rule) {
    TZolvaRuleLogData data;
    auto logData = [&]() -> const TZolvaRuleLogData& {
        GetLogData(Rule, data);
        return data;
    };

    if (FSimulateOnly) {
        LogSuccess(ssSimulationOnly, GetValuePath(logData()));
        return true;
    }

    try {
        TRegistryAccess access(FRegistry, kKeyAllAccess);
        access.SetRootKey(RootHandle(Rule.Root));

        switch (Rule.Action) {
        case raCompleteKey: {
            // A key that names the root itself would take every key below
            // it, and one holding a NUL would be cut short by the registry
            // calls into one no rule names: nothing is deleted.
            if (TRegistryAccess::NamesRoot(Rule.Key)) {
                LogRefusal(aaKeyRefused, GetKeyPath(logData()), TRefusal::rfNamesRoot);
                return false;
            }
            if (TRegistryTree::HasNul(Rule.Key)) {
                LogRefusal(aaKeyRefused, GetKeyPath(logData()), TRefusal::rfHoldsNul);
                return false;
            }
            if (!access.KeyExists(Rule.Key)) {
                LogSuccess(aaKeyNotFound, GetKeyPath(logData()));
                return true;
            }
            if (FBackup != nullptr)
                return DeleteKeyBackedUp(Rule, GetKeyPath(logData()));
            TRefusal refusal = TRefusal::rfNone;
            const bool deleted = access.DeleteKey(Rule.Key, refusal);
            if (deleted)
                LogSuccess(aaKeyDeleted, GetKeyPath(logData()));
            else
                LogRefusal(aaKeyRefused, GetKeyPath(logData()), refusal);
            return deleted;
        }
        case raNameOnly: {
            if (TRegistryTree::HasNul(Rule.Key) || TRegistryTree::HasNul(Rule.Name)) {
                LogRefusal(aaNameRefused, GetValuePath(logData()), TRefusal::rfHoldsNul);
                return false;
            }
            // The key holding the value is reached the way a deletion must
            // be; a value of a root itself is on the root.
            const TKeyReach reach =
                TRegistryAccess::NamesRoot(Rule.Key)
                    ? (access.OpenKey(Rule.Key) ? TKeyReach::Reached : TKeyReach::Absent)
                    : access.ReachKey(Rule.Key);
            if (reach == TKeyReach::Absent) {
                LogSuccess(aaKeyNotFound, GetKeyPath(logData()));
                return true;
            }
            if (reach == TKeyReach::Refused) {
                LogRefusal(aaNameRefused, GetValuePath(logData()), access.ReachRefusal());
                return false;
            }
            bool removed = true;
            if (access.ValueExists(Rule.Name)) {
                if (FBackup != nullptr) {
                    try {
                        TRuleBackup(FRegistry, *FBackup)
                            .BackUpValue(access.CurrentKey(),
                                         BackupPath(RootText(Rule.Root), Rule.Key), Rule.Name);
                    } catch (const EKeystripError& e) {
                        LogActivity(aaNameNotBackedUp, FLogFailureSeverity,
                                    WithDetail(GetValuePath(logData()), U16(e.what())));
                        return false;
                    }
                }
                removed = access.DeleteValue(Rule.Name);
                LogResult(removed, {aaNameDeleted, aaNameNotDeleted}, GetValuePath(logData()));
            } else {
                LogSuccess(aaNameNotFound, GetValuePath(logData()));
            }
            access.CloseKey();
            return removed;
        }
        }
        return true;
    } catch (...) {
        LogActivity(aaFatalError, asError, u"4");
        return false;
    }
}

// The key is reached once: what is backed up is exactly the tree that is
// then deleted, and nothing of it goes before the backup is on disk.
bool TZolvaProductRemover::DeleteKeyBackedUp(const TZolvaProductRemoveRule& Rule,
                                             const std::u16string& KeyPath) {
    TRegistryTree tree(FRegistry, kKeyAllAccess);
    RegKeyHandle key;
    std::u16string kernelName;
    switch (tree.Reach(RootHandle(Rule.Root), Rule.Key, true, key, kernelName)) {
    case TKeyReach::Absent:
        LogResult(false, {aaKeyDeleted, aaKeyNotDeleted}, KeyPath);
        return false;
    case TKeyReach::Refused:
        LogRefusal(aaKeyRefused, KeyPath, tree.LastRefusal());
        return false;
    case TKeyReach::Reached:
        break;
    }
    try {
        TRuleBackup(FRegistry, *FBackup)
            .BackUpTree(tree, key.Get(), kernelName, BackupPath(RootText(Rule.Root), Rule.Key));
    } catch (const EKeystripError& e) {
        LogActivity(aaKeyNotBackedUp, FLogFailureSeverity, WithDetail(KeyPath, U16(e.what())));
        return false;
    }
    uint8_t gaps = tgNone;
    const bool deleted = tree.DeleteTree(key.Get(), kernelName, &gaps);
    if (deleted)
        LogSuccess(aaKeyDeleted, KeyPath);
    else
        LogRefusal(aaKeyRefused, KeyPath, RefusalOf(gaps));
    return deleted;
}

// rfNone (the registry refused) keeps the entry that says so.
void TZolvaProductRemover::LogRefusal(TActivityAction Action, const std::u16string& Path,
                                      TRefusal Refusal) {
    if (Refusal == TRefusal::rfNone)
        LogActivity(Action == aaKeyRefused ? aaKeyNotDeleted : aaNameNotDeleted,
                    FLogFailureSeverity, Path);
    else
        LogActivity(Action, FLogFailureSeverity, WithDetail(Path, RefusalText(Refusal)));
}

} // namespace keystrip
