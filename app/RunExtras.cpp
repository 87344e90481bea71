#include "app/RunExtras.h"

#include "common/Errors.h"
#include "common/Utf.h"
#include "rules/RegistryRestore.h"

#include <utility>

namespace keystrip {

TRunExtras::TRunExtras(TRunSwitches Switches, platform::IRegistry& Registry,
                       platform::IHives* Hives, TRunOutcome& Outcome)
    : FSwitches(std::move(Switches)), FRegistry(Registry), FHives(Hives), FOutcome(Outcome) {}

TRunExtras::TRun::TRun(TRunExtras& Extras, TZolvaProducts& Products, bool Removal)
    : FProducts(Products) {
    if (Extras.FSwitches.AllUsers && Extras.FHives != nullptr) {
        FProfiles =
            std::make_unique<TUserProfiles>(Extras.FRegistry, *Extras.FHives, Products.Activity());
        Products.SetRoots(&FProfiles->Open());
        if (FProfiles->NotLoaded() > 0)
            Extras.FOutcome.Note(TRunProblem::ProfileNotLoaded);
    }
    if (Removal && !Extras.FSwitches.Preview && Extras.FSwitches.BackupFile && !Extras.FBackup) {
        const std::u16string& name = *Extras.FSwitches.BackupFile;
        Extras.FLedger = std::make_unique<TRegistryLedger>(Extras.FRegistry);
        try {
            Extras.FBackup = OpenBackupFile(name, *Extras.FLedger, CurrentBackupOrigin());
        } catch (const EKeystripError& e) {
            // Nothing is deleted that cannot be backed up: every rule that
            // would delete something is refused with this reason.
            Extras.FBackup = std::make_unique<TUnwritableBackup>(name, e.what());
            Extras.FOutcome.Note(TRunProblem::BackupNotWritten, U16(e.what()));
        }
        Products.SetBackup(Extras.FBackup.get());
    }
}

TRunExtras::TRun::~TRun() {
    FProducts.SetRoots(nullptr);
}

bool TRunExtras::Apply(TZolvaProducts& Products, pZolvaProductsItem Item) {
    if (!Item || !Item->Product)
        return true;
    if (FSwitches.Preview) {
        const bool complete = Products.Inspect(Item);
        if (!complete)
            FOutcome.Note(TRunProblem::WouldNotRemove, Item->Product->Name());
        return complete;
    }
    Products.Remove(Item);
    FOutcome.CountRemoval(Item->Product->Name(), Item->Removed);
    // A part that could not be written is a backup that could not be written,
    // whenever it happens, not only when the file could not be opened.
    if (FBackup && !FBackup->Failure().empty())
        FOutcome.Note(TRunProblem::BackupNotWritten, U16(FBackup->Failure()));
    return Item->Removed;
}

bool TRunExtras::RunRestore(TActivityLogger& Log) {
    const std::u16string& name = FSwitches.RestoreFile ? *FSwitches.RestoreFile : std::u16string();
    switch (TRegistryRestorer(&Log, FRegistry).Restore(name)) {
    case TRestoreResult::Restored:
        return true;
    case TRestoreResult::Incomplete:
        FOutcome.Note(TRunProblem::RestoreIncomplete);
        return false;
    case TRestoreResult::Refused:
        FOutcome.Note(TRunProblem::RestoreUnreadable, name);
        return false;
    }
    return false;
}

} // namespace keystrip
