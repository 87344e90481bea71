// Who may own an object that an elevated run relies on (the one-copy mutex,
// a log it appends to): SYSTEM, Administrators, or the account this process
// runs as (an administrator, or the program would not run). An ordinary user
// can make none of these the owner of an object.
#pragma once

#include <windows.h>

#include <aclapi.h>

#include <string>

namespace keystrip::platform {

bool IsTrustedOwner(PSID Owner);
// "S-1-5-21-..."; "nobody" for a null SID.
std::u16string SidText(PSID Sid);
// The system's text for a Win32 error code, without its line break.
std::u16string ErrorText(DWORD Error);

// The owner of an open object: whether it is trusted, and who it is as text
// (its SID, or why it could not be read, which is not trusted).
struct ObjectOwner {
    bool Trusted = false;
    std::u16string Text;
};
ObjectOwner OwnerOf(HANDLE Object, SE_OBJECT_TYPE Type);

} // namespace keystrip::platform
