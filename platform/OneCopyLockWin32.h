// The one-copy lock on Windows: the mutex "Global\ZolvaKeystrip.OneCopy",
// created with access for SYSTEM and Administrators only and owned by
// Administrators. An existing one counts only when its owner is SYSTEM,
// Administrators or the account this copy runs as; a non-administrator
// cannot make such an object, so one that was made otherwise was planted.
#pragma once

#include "platform/OneCopyLock.h"

namespace keystrip::platform {

class Win32OneCopyLock final : public IOneCopyLock {
public:
    // Name: the mutex's name; tests give one of their own.
    explicit Win32OneCopyLock(std::u16string Name = u"Global\\ZolvaKeystrip.OneCopy");
    ~Win32OneCopyLock() override;
    Win32OneCopyLock(const Win32OneCopyLock&) = delete;
    Win32OneCopyLock& operator=(const Win32OneCopyLock&) = delete;

    LockResult Take() override;

private:
    std::u16string FName;
    void* FMutex = nullptr;
    bool FOwned = false;
};

} // namespace keystrip::platform
