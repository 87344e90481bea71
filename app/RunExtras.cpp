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
        try {
            Extras.FBackup = std::make_unique<TBackupFile>(name);
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
    return Item->Removed;
}

std::u16string TRunExtras::RestoreConflict() const {
    std::u16string names;
    if (!FSwitches.RestoreFile)
        return names;
    if (FSwitches.ProductSwitch)
        names = u"-product";
    if (FSwitches.BackupFile)
        names += names.empty() ? u"-backup" : u" and -backup";
    return names;
}

bool TRunExtras::RunRestore(TZolvaProducts& Products) {
    TActivityLogger& log = *Products.Activity();
    if (const std::u16string conflict = RestoreConflict(); !conflict.empty()) {
        // Neither a removal nor a restore: the caller asked for both or for
        // a backup of nothing, and either guess could be the wrong one.
        log.Log(asError, aaRestoreRefused, u"-restore cannot be combined with " + conflict);
        FOutcome.Note(TRunProblem::RestoreCombined, conflict);
        return false;
    }
    TRestoreTargets targets;
    for (int i = 0; i < Products.Count(); ++i)
        if (const pZolvaProductsItem item = Products.Items(i); item && item->Product)
            targets.Add(*item->Product);
    TRegistryRestorer restorer(&log, FRegistry, targets);
    restorer.SetPreviewOnly(FSwitches.Preview);
    // A user's hive the backup names is taken where it is loaded, or loaded
    // from the profile list's file for the restore and unloaded after it.
    std::unique_ptr<TUserProfiles> profiles;
    if (FHives != nullptr) {
        profiles = std::make_unique<TUserProfiles>(FRegistry, *FHives, &log);
        restorer.SetUserHives(
            [&profiles](const std::u16string& hive) { return profiles->OpenUser(hive); });
    }
    const std::u16string& name = FSwitches.RestoreFile ? *FSwitches.RestoreFile : std::u16string();
    const TRestoreResult result = restorer.Restore(name);
    if (profiles && profiles->NotLoaded() > 0)
        FOutcome.Note(TRunProblem::ProfileNotLoaded);
    profiles.reset();
    switch (result) {
    case TRestoreResult::Restored:
        return true;
    case TRestoreResult::Incomplete:
        FOutcome.Note(FSwitches.Preview ? TRunProblem::WouldNotRestore
                                        : TRunProblem::RestoreIncomplete);
        return false;
    case TRestoreResult::Refused:
        FOutcome.Note(TRunProblem::RestoreUnreadable, name);
        return false;
    }
    return false;
}

} // namespace keystrip
