#include "rules/RegistryRestore.h"

#include "backup/BackupProvenance.h"
#include "backup/RegFile.h"
#include "common/Errors.h"
#include "common/Utf.h"
#include "platform/Files.h"
#include "rules/RegistryTree.h"

#include <memory>
#include <utility>

namespace keystrip {

using namespace platform;

namespace {

std::u16string ValueCount(size_t count) {
    return U16(std::to_string(count) + (count == 1 ? " value" : " values"));
}

} // namespace

TRegistryRestorer::TRegistryRestorer(TActivityLogger* Activity, IRegistry& Registry)
    : TZolvaRuleProcessor(nullptr, Activity, Registry) {}

TRestoreResult TRegistryRestorer::Restore(const std::u16string& FileName) {
    std::vector<uint8_t> bytes;
    try {
        bytes = ReadFileBytes(FileName);
    } catch (const EKeystripError& e) {
        LogSuccess(aaStartRestore, FileName);
        LogActivity(aaRestoreRefused, asError, U16(e.what()));
        return TRestoreResult::Refused;
    }
    return Restore(FileName, bytes);
}

TRegFileDocument TRegistryRestorer::ReadDocument(const std::vector<uint8_t>& Bytes) {
    std::unique_ptr<TRegistryLedger> own;
    if (FLedger == nullptr)
        own = std::make_unique<TRegistryLedger>(FRegistry);
    TVerifiedBackup verified = VerifyBackup(Bytes, FLedger ? *FLedger : *own);
    FIncomplete = verified.Incomplete;
    for (const std::u16string& note : verified.Notes)
        LogActivity(aaRestoreNote, FIncomplete ? FLogFailureSeverity : FLogSuccessSeverity, note);
    return std::move(verified.Document);
}

TRestoreResult TRegistryRestorer::Restore(const std::u16string& FileName,
                                          const std::vector<uint8_t>& Bytes) {
    LogSuccess(aaStartRestore, FileName);
    TRegFileDocument document;
    std::vector<std::pair<RegKey, std::u16string>> places;
    try {
        document = ReadDocument(Bytes);
        for (const auto& key : document.Keys) {
            RegKey root = 0;
            std::u16string relative;
            if (!SplitRegFilePath(key.Path, root, relative) || relative.empty())
                throw ERegFileError(key.Line, "the section [" + Utf16ToUtf8(key.Path) +
                                                  "] names no key below a root");
            places.emplace_back(root, relative);
        }
    } catch (const ERegFileError& e) {
        LogActivity(aaRestoreRefused, asError, U16(e.what()));
        return TRestoreResult::Refused;
    } catch (const EBackupRefused& e) {
        LogActivity(aaRestoreRefused, asError, U16(e.what()));
        return TRestoreResult::Refused;
    }

    bool complete = !FIncomplete;
    for (size_t i = 0; i < document.Keys.size(); ++i) {
        const TRegFileKey& section = document.Keys[i];
        auto fail = [&](const char* why) {
            LogActivity(aaKeyNotRestored, FLogFailureSeverity, WithDetail(section.Path, U16(why)));
            complete = false;
        };
        const bool link = section.IsLink();
        TRegistryTree tree(FRegistry, kKeyAllAccess);
        RegKeyHandle key;
        std::u16string kernelName;
        bool created = false;
        switch (tree.Reach(places[i].first, places[i].second, link, key, kernelName,
                           TReachMode::rmCreate, &created)) {
        case TKeyReach::Absent:
            fail("it could not be created");
            continue;
        case TKeyReach::Refused:
            fail("the way to it leads through a registry link");
            continue;
        case TKeyReach::Reached:
            break;
        }
        if (link && !created) {
            // An existing key becomes a link only if it is one already.
            uint32_t type = 0;
            uint32_t size = 0;
            if (FRegistry.QueryValue(key.Get(), kSymbolicLinkValueName, &type, nullptr, &size) !=
                    kErrorSuccess ||
                type != kRegLink) {
                fail("a key of that name exists and is no link");
                continue;
            }
        }
        size_t set = 0;
        for (const auto& value : section.Values)
            if (FRegistry.SetValue(key.Get(), value.Name, value.Type, value.Data) == kErrorSuccess)
                ++set;
        if (set != section.Values.size()) {
            fail("not every value could be set");
            continue;
        }
        LogSuccess(aaKeyRestored,
                   WithDetail(section.Path,
                              link ? u"a link to " + section.LinkTarget() : ValueCount(set)));
    }
    LogSuccess(aaStopRestore, GetResultText(complete));
    return complete ? TRestoreResult::Restored : TRestoreResult::Incomplete;
}

} // namespace keystrip
