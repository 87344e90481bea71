// What a removal rule is about to delete, written to the backup first: the
// key with everything below it, reached and walked exactly as the deletion
// will walk it (TRegistryTree), or the single value. Raises EKeystripError
// saying why when it cannot be backed up in full; the rule then deletes
// nothing.
#pragma once

#include "backup/BackupFile.h"
#include "platform/Registry.h"
#include "rules/RegistryTree.h"

#include <string>

namespace keystrip {

class TRuleBackup {
public:
    TRuleBackup(platform::IRegistry& Registry, IBackupSink& Sink)
        : FRegistry(Registry), FSink(Sink) {}

    // Path is the key's name in the file: the root's full name, a backslash
    // and the path below it.
    void BackUpTree(TRegistryTree& Tree, platform::RegKey Key, const std::u16string& KernelName,
                    const std::u16string& Path);
    void BackUpValue(platform::RegKey Key, const std::u16string& Path, const std::u16string& Name);

private:
    platform::IRegistry& FRegistry;
    IBackupSink& FSink;
};

} // namespace keystrip
