#include "app/RunJson.h"

#include "common/Utf.h"
#include "rules/ZolvaProductInspector.h"

#include <nlohmann/json.hpp>

#include <map>
#include <optional>

#ifndef KEYSTRIP_VERSION
#define KEYSTRIP_VERSION "0.0.0"
#endif

namespace keystrip {

namespace {

// The library's plain form, as the definitions use it (it writes members in name order).
using Json = nlohmann::json;

std::string Text(const std::u16string& text) {
    return Utf16ToUtf8(text);
}

std::string Digits(int value, int width) {
    std::string text = std::to_string(value < 0 ? -value : value);
    if (static_cast<int>(text.size()) < width)
        text.insert(0, static_cast<size_t>(width) - text.size(), '0');
    return text;
}

// Stable names, for tools; the texts beside them are for people.
const char* ProblemName(TRunProblem Problem) {
    switch (Problem) {
    case TRunProblem::RuleFailed:
        return "ruleFailed";
    case TRunProblem::RunBrokeOff:
        return "runBrokeOff";
    case TRunProblem::UnknownProduct:
        return "unknownProduct";
    case TRunProblem::NoDefinitions:
        return "noDefinitions";
    case TRunProblem::TermsUnreadable:
        return "termsUnreadable";
    case TRunProblem::WindowNotCreated:
        return "windowNotCreated";
    case TRunProblem::LogNotWritten:
        return "logNotWritten";
    case TRunProblem::BackupNotWritten:
        return "backupNotWritten";
    case TRunProblem::ProfileNotLoaded:
        return "profileNotLoaded";
    case TRunProblem::WouldNotRemove:
        return "wouldNotRemove";
    case TRunProblem::RestoreIncomplete:
        return "restoreIncomplete";
    case TRunProblem::RestoreUnreadable:
        return "restoreUnreadable";
    case TRunProblem::PreviewWithoutLog:
        return "previewWithoutLog";
    case TRunProblem::WouldNotRestore:
        return "wouldNotRestore";
    case TRunProblem::RestoreCombined:
        return "restoreCombined";
    case TRunProblem::ProfileNotUnloaded:
        return "profileNotUnloaded";
    case TRunProblem::AnotherCopyRunning:
        return "anotherCopyRunning";
    case TRunProblem::UnknownLogFormat:
        return "unknownLogFormat";
    case TRunProblem::ResultNotWritten:
        return "resultNotWritten";
    case TRunProblem::LockUnguarded:
        return "lockUnguarded";
    }
    return "unknown";
}

const char* ResultName(TRemovalResult Result) {
    switch (Result) {
    case rrDeleted:
        return "deleted";
    case rrNotFound:
        return "notFound";
    case rrNotDeleted:
        return "notDeleted";
    case rrNotBackedUp:
        return "notBackedUp";
    case rrFailed:
        return "failed";
    case rrSimulated:
        return "simulated";
    }
    return "failed";
}

std::u16string PathOf(const std::u16string& Root, const std::u16string& Key,
                      TZolvaProductRemoveAction Action, const std::u16string& Value) {
    std::u16string path = Root + u'\\' + Key;
    if (Action == raNameOnly)
        path += u'\\' + Value;
    return path;
}

Json RuleBase(TZolvaProductRemoveAction Action, const std::u16string& Root,
              const std::u16string& Key, const std::u16string& Value) {
    Json rule;
    rule["action"] = Text(RemoveActionToText(Action));
    rule["root"] = Text(Root);
    rule["key"] = Text(Key);
    if (Action == raNameOnly)
        rule["name"] = Text(Value);
    rule["path"] = Text(PathOf(Root, Key, Action, Value));
    return rule;
}

Json RemovalRules(const TRemovalProduct& Removal) {
    Json rules = Json::array();
    for (const TRemovalRule& r : Removal.Rules) {
        Json rule = RuleBase(r.Action, r.RootText, r.Key, r.ValueName);
        rule["result"] = ResultName(r.Result);
        if (!r.Reason.empty())
            rule["reason"] = Text(r.Reason);
        rules.push_back(std::move(rule));
    }
    return rules;
}

Json ValueOf(const TPreviewValue& Value) {
    Json value;
    value["name"] = Text(Value.Name);
    value["type"] = Text(RegistryTypeName(Value.Type));
    value["size"] = Value.Size;
    return value;
}

Json GapNames(uint8_t Gaps) {
    Json names = Json::array();
    if (Gaps & tgRefused)
        names.push_back("refused");
    if (Gaps & tgUnreadable)
        names.push_back("unreadable");
    if (Gaps & tgTooDeep)
        names.push_back("tooDeep");
    return names;
}

// Every key a removal would delete, by its real path, parents first.
void AddTree(const TPreviewRule& Rule, Json& Out) {
    std::vector<std::u16string> paths(Rule.Tree.size());
    Json tree = Json::array();
    for (size_t i = 0; i < Rule.Tree.size(); ++i) {
        const TPreviewKey& key = Rule.Tree[i];
        paths[i] = key.Parent == kNoPreviewKey || key.Parent >= i
                       ? Rule.KeyPath()
                       : paths[key.Parent] + u'\\' + key.Name;
        Json entry;
        entry["path"] = Text(paths[i]);
        Json values = Json::array();
        for (uint32_t v = key.FirstValue;
             v < key.FirstValue + key.ListedValues && v < Rule.KeyValues.size(); ++v)
            values.push_back(ValueOf(Rule.KeyValues[v]));
        entry["values"] = std::move(values);
        if (key.IsLink)
            entry["link"] = Text(key.LinkTarget);
        if (key.Gaps != tgNone)
            entry["gaps"] = GapNames(key.Gaps);
        tree.push_back(std::move(entry));
    }
    Out["tree"] = std::move(tree);
    Json leftOut = Json::array();
    for (const TPreviewLeftOut& gap : Rule.LeftOut) {
        Json entry;
        entry["path"] = Text((gap.Parent < paths.size() ? paths[gap.Parent] : Rule.KeyPath()) +
                             u'\\' + gap.Name);
        entry["why"] = gap.Gap & tgRefused ? "refused" : "unreadable";
        leftOut.push_back(std::move(entry));
    }
    Out["leftOut"] = std::move(leftOut);
}

Json PreviewRules(const TPreviewProduct& Preview) {
    Json rules = Json::array();
    for (const TPreviewRule& r : Preview.Rules) {
        Json rule = RuleBase(r.Action, r.RootText, r.Key, r.ValueName);
        rule["result"] = r.Status == psNotFound         ? "notFound"
                         : r.Status == psWouldBeDeleted ? "wouldBeDeleted"
                                                        : "wouldNotBeDeleted";
        if (!r.Reason.empty())
            rule["reason"] = Text(r.Reason);
        if (r.Status != psNotFound) {
            rule["keys"] = r.Keys;
            rule["values"] = r.Values;
            rule["bytes"] = r.Bytes;
        }
        if (r.Action == raCompleteKey && !r.Tree.empty())
            AddTree(r, rule);
        if (r.Action == raNameOnly && r.Status == psWouldBeDeleted)
            rule["value"] = ValueOf(r.Value);
        rules.push_back(std::move(rule));
    }
    return rules;
}

const char* StateName(TProfileState State) {
    switch (State) {
    case TProfileState::psLoaded:
        return "loaded";
    case TProfileState::psLoadedForRun:
        return "loadedForRun";
    case TProfileState::psSkipped:
        return "skipped";
    case TProfileState::psNotLoaded:
        return "notLoaded";
    case TProfileState::psReadOnly:
        return "readOnly";
    case TProfileState::psNotUnloaded:
        return "notUnloaded";
    }
    return "notLoaded";
}

// Whether the run met anything of the product.
bool MetTraces(const TProductRecord& Product) {
    if (Product.Previewed) {
        for (const TPreviewRule& rule : Product.Preview.Rules)
            if (rule.Status != psNotFound)
                return true;
        return false;
    }
    for (const TRemovalRule& rule : Product.Removal.Rules)
        if (rule.Result != rrNotFound)
            return true;
    return false;
}

} // namespace

std::u16string IsoTime(const platform::LocalTime& Time) {
    const int offset = Time.UtcOffsetMinutes;
    return U16(Digits(Time.Year, 4) + "-" + Digits(Time.Month, 2) + "-" + Digits(Time.Day, 2) +
               "T" + Digits(Time.Hour, 2) + ":" + Digits(Time.Minute, 2) + ":" +
               Digits(Time.Second, 2) + (offset < 0 ? "-" : "+") + Digits(offset / 60, 2) + ":" +
               Digits(offset % 60, 2));
}

std::string RunResultJson(const TRunJsonHeader& Header, const TActivityLogger* Activity,
                          const TRunOutcome& Outcome, bool ExitCodeSwitch) {
    const TRunRecord& record = Outcome.Record();
    Json doc;
    doc["schemaVersion"] = kResultSchemaVersion;
    doc["program"] = "Zolva Keystrip";
    doc["version"] = KEYSTRIP_VERSION;
    doc["computer"] = Text(Header.Computer);
    doc["commandLine"] = Text(Header.CommandLine);
    doc["time"] = Text(IsoTime(Header.Time));
    const TExitCode code = ExitCodeOf(Outcome);
    doc["exitCode"] = ProcessExitCode(Outcome, ExitCodeSwitch);
    doc["result"] = static_cast<int>(code);
    doc["resultText"] = Text(DescribeExitCode(code));
    Json problems = Json::array();
    for (const TRunNote& note : Outcome.Notes()) {
        Json problem;
        problem["problem"] = ProblemName(note.Problem);
        problem["code"] = static_cast<int>(ExitCodeOf(note.Problem));
        problem["text"] = Text(DescribeProblem(note.Problem));
        problem["detail"] = Text(note.Detail);
        problems.push_back(std::move(problem));
    }
    doc["problems"] = std::move(problems);
    doc["preview"] = record.Preview;
    doc["allUsers"] = record.AllUsers;
    doc["productsRequested"] = Outcome.ProductsRequested();
    doc["productsRemovedCompletely"] = Outcome.ProductsRemoved();

    // Products in the order a detection met them, then those a run went
    // through without a detection (-product).
    std::vector<std::u16string> order;
    std::map<std::u16string, bool> detected;
    if (Activity != nullptr) {
        std::u16string current;
        for (int i = 0; i < Activity->Count(); ++i) {
            const TActivityItem& item = *Activity->Entries(i);
            if (item.Action == aaStartDetection) {
                current = item.Data;
                if (!detected.count(current))
                    order.push_back(current);
                detected[current] = false;
            } else if (item.Action == aaStopDetection) {
                detected[current] = item.Data == u"Success";
            }
        }
    }
    std::map<std::u16string, const TProductRecord*> applied;
    for (const TProductRecord& product : record.Products) {
        if (!detected.count(product.Name) && !applied.count(product.Name))
            order.push_back(product.Name);
        applied[product.Name] = &product;
    }
    Json products = Json::array();
    for (const std::u16string& name : order) {
        const auto run = applied.find(name);
        const TProductRecord* product = run == applied.end() ? nullptr : run->second;
        Json entry;
        entry["name"] = Text(name);
        const auto found = detected.find(name);
        entry["found"] =
            found != detected.end() ? found->second : product != nullptr && MetTraces(*product);
        entry["action"] = product == nullptr   ? "none"
                          : product->Previewed ? "previewed"
                                               : "removed";
        entry["complete"] = product == nullptr ? Json() : Json(product->Complete);
        entry["removedCompletely"] = product != nullptr && !product->Previewed && product->Complete;
        entry["rules"] = product == nullptr   ? Json::array()
                         : product->Previewed ? PreviewRules(product->Preview)
                                              : RemovalRules(product->Removal);
        products.push_back(std::move(entry));
    }
    doc["products"] = std::move(products);
    Json profiles = Json::array();
    for (const TProfileOutcome& outcome : record.Profiles) {
        Json profile;
        profile["sid"] = Text(outcome.Sid);
        profile["hive"] = Text(u"HKEY_USERS\\" + outcome.HiveName);
        profile["file"] = Text(outcome.File);
        profile["state"] = StateName(outcome.State);
        profile["reason"] = Text(outcome.Reason);
        profiles.push_back(std::move(profile));
    }
    doc["profiles"] = std::move(profiles);
    return doc.dump(2, ' ', true, Json::error_handler_t::replace) + "\r\n";
}

} // namespace keystrip
