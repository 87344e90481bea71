// Who may change a registry key. The backup ledger keeps its records only in
// keys that nobody but administrators and the system can change: it gives the
// keys it creates such an access list, and trusts a record only when every
// key of the ledger still has one. The Win32 implementation reads and writes
// the keys' security descriptors; platform/doubles has a double.
#pragma once

#include "platform/Registry.h"

#include <string>

namespace keystrip::platform {

class IKeySecurity {
public:
    virtual ~IKeySecurity() = default;
    // Makes Administrators the key's owner and gives it a protected access
    // list: full access for SYSTEM and Administrators (inherited by its
    // subkeys), nothing from its parent. The key is open with WRITE_DAC and
    // WRITE_OWNER. A Win32 error code.
    virtual long RestrictToAdministrators(RegKey key) = 0;
    // Who else than SYSTEM, Administrators and TrustedInstaller could change
    // the key or its access list (its owner, or an entry allowing a change),
    // for the log; empty when nobody. The key is open with READ_CONTROL. A
    // key whose security cannot be read counts as changeable.
    virtual std::u16string OthersWhoCanChange(RegKey key) = 0;
};

// The real registry's on Windows. The native build has no registry of its
// own (its keys are the test double's), so there it restricts nothing and
// finds nobody.
IKeySecurity& SystemKeySecurity();

} // namespace keystrip::platform
