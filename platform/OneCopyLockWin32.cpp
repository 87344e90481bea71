#include "platform/OneCopyLockWin32.h"

#include "platform/TrustedOwnerWin32.h"

#include <windows.h>

#include <aclapi.h>
#include <sddl.h>

#include <utility>

namespace keystrip::platform {

namespace {

// Only SYSTEM and Administrators may open it, and a protected DACL keeps
// anything inherited out.
const wchar_t kOwnedByAdministrators[] = L"O:BAD:P(A;;GA;;;SY)(A;;GA;;;BA)";
const wchar_t kOwnedByDefault[] = L"D:P(A;;GA;;;SY)(A;;GA;;;BA)";

HANDLE CreateGuardedMutex(const std::u16string& Name, const wchar_t* Sddl) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(Sddl, SDDL_REVISION_1, &descriptor,
                                                                nullptr))
        return nullptr;
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
    HANDLE mutex =
        ::CreateMutexW(&attributes, FALSE, reinterpret_cast<const wchar_t*>(Name.c_str()));
    const DWORD error = ::GetLastError();
    ::LocalFree(descriptor);
    ::SetLastError(error);
    return mutex;
}

} // namespace

Win32OneCopyLock::Win32OneCopyLock(std::u16string Name) : FName(std::move(Name)) {}

Win32OneCopyLock::~Win32OneCopyLock() {
    if (FMutex == nullptr)
        return;
    if (FOwned)
        ::ReleaseMutex(FMutex);
    ::CloseHandle(FMutex);
}

LockResult Win32OneCopyLock::Take() {
    if (FMutex != nullptr)
        return {FOwned ? LockState::Taken : LockState::HeldByAnother, {}};
    HANDLE mutex = CreateGuardedMutex(FName, kOwnedByAdministrators);
    // Some accounts may not name Administrators as an owner: the token's
    // default owner then (SYSTEM, or this administrator).
    if (mutex == nullptr && ::GetLastError() == ERROR_INVALID_OWNER)
        mutex = CreateGuardedMutex(FName, kOwnedByDefault);
    if (mutex == nullptr) {
        // The name exists and refuses us, or is some other kind of object.
        return {LockState::Unguarded,
                u"the name \"" + FName + u"\" cannot be opened: " + ErrorText(::GetLastError())};
    }
    FMutex = mutex;

    const ObjectOwner owner = OwnerOf(mutex, SE_KERNEL_OBJECT);
    if (!owner.Trusted)
        return {LockState::Unguarded,
                u"the name \"" + FName + u"\" is held by an object of " + owner.Text};

    switch (::WaitForSingleObject(mutex, 0)) {
    case WAIT_OBJECT_0:
    case WAIT_ABANDONED: // a copy that ended without releasing it
        FOwned = true;
        return {LockState::Taken, {}};
    case WAIT_TIMEOUT:
        return {LockState::HeldByAnother, {}};
    default:
        return {LockState::Unguarded,
                u"the lock \"" + FName + u"\" cannot be taken: " + ErrorText(::GetLastError())};
    }
}

} // namespace keystrip::platform
