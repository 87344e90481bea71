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
    : FExtras(Extras), FProducts(Products) {
    if (Extras.FSwitches.AllUsers && Extras.FHives != nullptr) {
        FProfiles =
            std::make_unique<TUserProfiles>(Extras.FRegistry, *Extras.FHives, Products.Activity());
        // A detection's notes stay out of the report, as its checks do.
        if (!Removal)
            FProfiles->SetNotes(asDebug, u"included");
        else if (Extras.FSwitches.Preview)
            FProfiles->SetNotes(asInfo, u"would be cleaned");
        else
            FProfiles->SetNotes(asInfo, u"cleaned");
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
    // Last, so that no constructor that failed leaves it behind.
    if (FProfiles)
        Extras.FOutcome.SetFinish([this] { Finish(); });
}

TRunExtras::TRun::~TRun() {
    FExtras.FOutcome.SetFinish(nullptr);
    Finish();
}

void TRunExtras::TRun::Finish() noexcept {
    FProducts.SetRoots(nullptr);
    if (!FProfiles)
        return;
    FProfiles->Close();
    try {
        if (FProfiles->NotUnloaded() > 0)
            FExtras.FOutcome.Note(TRunProblem::ProfileNotUnloaded);
        FExtras.FProfileOutcomes = FProfiles->Outcomes();
    } catch (...) {
        // Only exhausted memory gets here; the warning is in the log.
    }
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
