// What the runs of the window do beyond detecting and removing, as the
// switches ask: every user's profile for the rules on HKEY_CURRENT_USER
// (-allusers, the hives opened for one run and unloaded after it), a backup
// of what a removal deletes (-backup, opened at the first removal and kept),
// a preview instead of the removal (-preview) and a restore (-restore). It
// notes in the run's outcome what went wrong, for the log and the exit code.
#pragma once

#include "app/RunOutcome.h"
#include "app/RunSwitches.h"
#include "backup/BackupFile.h"
#include "definitions/ZolvaProducts.h"
#include "platform/Hives.h"
#include "platform/Registry.h"
#include "rules/UserProfiles.h"

#include <memory>

namespace keystrip {

class TRunExtras {
public:
    // Hives may be null when -allusers is not asked for.
    TRunExtras(TRunSwitches Switches, platform::IRegistry& Registry, platform::IHives* Hives,
               TRunOutcome& Outcome);

    bool Preview() const { return FSwitches.Preview; }
    bool Restore() const { return FSwitches.RestoreFile.has_value(); }

    // For the length of one run over the catalogue: where its rules apply
    // and, for a removal, the backup.
    class TRun {
    public:
        TRun(TRunExtras& Extras, TZolvaProducts& Products, bool Removal);
        ~TRun();
        TRun(const TRun&) = delete;
        TRun& operator=(const TRun&) = delete;

    private:
        TZolvaProducts& FProducts;
        std::unique_ptr<TUserProfiles> FProfiles;
    };

    // Removes the entry, or with -preview only shows what removing it would
    // delete; notes what was incomplete. True when it went (or would go) in full.
    bool Apply(TZolvaProducts& Products, pZolvaProductsItem Item);
    // -restore with switches it cannot go with (-product, -backup): their
    // names, or empty when there are none.
    std::u16string RestoreConflict() const;
    // -restore: puts back what the file holds where the rules of the
    // catalogue's products can have backed it up, logging into the
    // catalogue's log; with -preview only logs what it would write. Refused,
    // writing nothing, with the switches of RestoreConflict. True when
    // everything was (or would be) restored.
    bool RunRestore(TZolvaProducts& Products);

private:
    TRunSwitches FSwitches;
    platform::IRegistry& FRegistry;
    platform::IHives* FHives;
    TRunOutcome& FOutcome;
    std::unique_ptr<IBackupSink> FBackup;
};

} // namespace keystrip
