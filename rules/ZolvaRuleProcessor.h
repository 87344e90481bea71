// The registry rule engine: the rule processor that binds one product to the
// shared activity log, the detector that evaluates the product's detection
// rules and the remover that applies its removal rules. Each reaches the
// registry through one TRegistryAccess per rule; no key stays open after a
// rule, and every error is caught per rule and per product and logged as an
// aaFatalError entry whose text is one digit naming where it was caught:
// "1" and "2" detection (product, rule), "3" and "4" removal (product, rule).
#pragma once

#include "activity/ActivityLogger.h"
#include "definitions/ZolvaProduct.h"
#include "platform/Registry.h"
#include "rules/RegistryTree.h"
#include "rules/RemovalRecord.h"
#include "rules/RuleRoots.h"

#include <string>
#include <utility>
#include <vector>

namespace keystrip {

class IBackupSink;

// A neutral copy of a rule's fields, from which every log text is built.
// RootText, when set, names the root instead of Root's own name (a user's
// hive below HKEY_USERS).
struct TZolvaRuleLogData {
    TZolvaProductRootKey Root = rkClassesRoot;
    std::u16string Key;
    std::u16string Name;
    std::u16string Value;
    std::u16string RootText;
};

// The entry of a check that succeeded, and of one that failed.
using TZolvaResultActions = std::pair<TActivityAction, TActivityAction>;

class TZolvaRuleProcessor {
public:
    // Product and Activity are borrowed; Product may be null. The registry is
    // the one every rule works on (the real one in the program).
    TZolvaRuleProcessor(TZolvaProduct* Product, TActivityLogger* Activity,
                        platform::IRegistry& Registry);

    // Where the rules apply (borrowed; null: each on its own root).
    void SetRoots(const TRuleRoots* Roots) { FRoots = Roots; }

protected:
    static platform::RegKey GetRootHandle(TZolvaProductRootKey Root);
    // The places a rule on Root with Key applies, one after the other (see
    // TRuleRoots::TargetsOf).
    std::vector<TRuleTarget> TargetsOf(TZolvaProductRootKey Root, const std::u16string& Key) const;
    // The root the rule at hand is applied at, and its name in the report.
    platform::RegKey RootHandle(TZolvaProductRootKey Root) const;
    std::u16string RootText(TZolvaProductRootKey Root) const;
    void LogActivity(TActivityAction Action, TActivitySeverity Severity,
                     const std::u16string& Data);
    void LogSuccess(TActivityAction Action, const std::u16string& Data);
    void LogResult(bool Succeeded, TZolvaResultActions Actions, const std::u16string& Data);
    static std::u16string GetKeyPath(const TZolvaRuleLogData& LogData);
    static std::u16string GetValuePath(const TZolvaRuleLogData& LogData);
    static std::u16string GetValueText(const TZolvaRuleLogData& LogData);
    static std::u16string GetResultText(bool Value);

    TZolvaProduct* FProduct;
    TActivityLogger* FActivity;
    TActivitySeverity FLogSuccessSeverity = asInfo;
    TActivitySeverity FLogFailureSeverity = asWarning;
    platform::IRegistry& FRegistry;
    const TRuleRoots* FRoots = nullptr;
    const TRuleRoot* FRoot = nullptr; // while a rule is applied at one of TargetsOf
};

class TZolvaProductDetector : public TZolvaRuleProcessor {
public:
    // Every entry but the fatal-error ones is a debug entry.
    TZolvaProductDetector(TZolvaProduct* Product, TActivityLogger* Activity,
                          platform::IRegistry& Registry);

    // True when a detection rule holds; the rules after it are not checked.
    bool ProductPresent();

private:
    void GetLogData(const TZolvaProductDectectRule& Rule, TZolvaRuleLogData& LogData) const;
    // At every root the rule applies to, until it holds at one.
    bool CheckRule(const TZolvaProductDectectRule& Rule);
    bool CheckRuleAt(const TZolvaProductDectectRule& Rule);
};

class TZolvaProductRemover : public TZolvaRuleProcessor {
public:
    TZolvaProductRemover(TZolvaProduct* Product, TActivityLogger* Activity,
                         platform::IRegistry& Registry);

    // When true, every rule is only logged as what would be deleted.
    bool SimulateOnly() const { return FSimulateOnly; }
    void SetSimulateOnly(bool Value) { FSimulateOnly = Value; }

    // With a backup, every rule writes what it is about to delete to it
    // first and deletes only once that is on disk; a rule whose targets
    // cannot be backed up deletes nothing and fails (aaKeyNotBackedUp,
    // aaNameNotBackedUp). Borrowed; null for none.
    void SetBackup(IBackupSink* Backup) { FBackup = Backup; }

    // Where ProductRemoved also records what became of each rule at each
    // root (borrowed; null, the default, for the report alone).
    void SetRecord(TRemovalProduct* Record) { FRecord = Record; }

    // True when every removal rule succeeded; a failing rule does not stop
    // the ones after it, and nothing is undone.
    bool ProductRemoved();

private:
    void GetLogData(const TZolvaProductRemoveRule& Rule, TZolvaRuleLogData& LogData) const;
    // At every root the rule applies to; it succeeds when it does at each.
    bool ApplyRule(const TZolvaProductRemoveRule& Rule, int Index);
    bool ApplyRuleAt(const TZolvaProductRemoveRule& Rule);
    bool DeleteKeyBackedUp(const TZolvaProductRemoveRule& Rule, const std::u16string& KeyPath);
    // A deletion the program refused itself: the failure entry with the reason.
    void LogRefusal(TActivityAction Action, const std::u16string& Path, TRefusal Refusal);
    // Adds the rule's record from what it logged since the log held First entries.
    void Record(const TZolvaProductRemoveRule& Rule, int Index, int First, bool Applied);

    bool FSimulateOnly = false;
    IBackupSink* FBackup = nullptr;
    TRemovalProduct* FRecord = nullptr;
};

} // namespace keystrip
