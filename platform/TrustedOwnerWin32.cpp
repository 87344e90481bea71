#include "platform/TrustedOwnerWin32.h"

#include <sddl.h>

#include <vector>

namespace keystrip::platform {

namespace {

bool IsWellKnown(PSID Sid, WELL_KNOWN_SID_TYPE Type) {
    BYTE buffer[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof buffer;
    return ::CreateWellKnownSid(Type, nullptr, buffer, &size) && ::EqualSid(Sid, buffer);
}

bool IsProcessUser(PSID Sid) {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token))
        return false;
    DWORD size = 0;
    ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<BYTE> buffer(size ? size : 1);
    const bool same = ::GetTokenInformation(token, TokenUser, buffer.data(), size, &size) &&
                      ::EqualSid(Sid, reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid);
    ::CloseHandle(token);
    return same;
}

} // namespace

bool IsTrustedOwner(PSID Owner) {
    if (Owner == nullptr || !::IsValidSid(Owner))
        return false;
    return IsWellKnown(Owner, WinLocalSystemSid) ||
           IsWellKnown(Owner, WinBuiltinAdministratorsSid) || IsProcessUser(Owner);
}

std::u16string SidText(PSID Sid) {
    LPWSTR text = nullptr;
    if (Sid == nullptr || !::ConvertSidToStringSidW(Sid, &text))
        return u"nobody";
    std::u16string result(reinterpret_cast<const char16_t*>(text));
    ::LocalFree(text);
    return result;
}

std::u16string ErrorText(DWORD Error) {
    wchar_t* buffer = nullptr;
    const DWORD n = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, Error, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::u16string text;
    if (n > 0 && buffer)
        text.assign(reinterpret_cast<const char16_t*>(buffer), n);
    if (buffer)
        ::LocalFree(buffer);
    while (!text.empty() && (text.back() == u'\r' || text.back() == u'\n' || text.back() == u' '))
        text.pop_back();
    if (text.empty()) {
        const std::string number = std::to_string(Error);
        return u"System error " + std::u16string(number.begin(), number.end()) + u".";
    }
    return text;
}

ObjectOwner OwnerOf(HANDLE Object, SE_OBJECT_TYPE Type) {
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD read = ::GetSecurityInfo(Object, Type, OWNER_SECURITY_INFORMATION, &owner, nullptr,
                                         nullptr, nullptr, &descriptor);
    ObjectOwner result;
    result.Trusted = read == ERROR_SUCCESS && IsTrustedOwner(owner);
    result.Text = read == ERROR_SUCCESS ? SidText(owner) : ErrorText(read);
    if (descriptor != nullptr)
        ::LocalFree(descriptor);
    return result;
}

} // namespace keystrip::platform
