// The keys' security descriptors: RegSetKeySecurity and RegGetKeySecurity,
// the owner and every entry of the access list checked against the accounts
// that may change the ledger.
#include "platform/KeySecurity.h"

#include "common/Utf.h"

#include <windows.h>

#include <sddl.h>

#include <string>
#include <vector>

namespace keystrip::platform {

namespace {

// Rights that change a key, its values, its subkeys or its security.
constexpr ACCESS_MASK kChangeRights = KEY_SET_VALUE | KEY_CREATE_SUB_KEY | KEY_CREATE_LINK |
                                      DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE |
                                      GENERIC_ALL;

// NT SERVICE\TrustedInstaller, which owns parts of the system's own keys.
constexpr char16_t kTrustedInstaller[] =
    u"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";

HKEY ToHkey(RegKey key) {
    return reinterpret_cast<HKEY>(key);
}

std::u16string SidText(PSID sid) {
    LPWSTR text = nullptr;
    if (!::ConvertSidToStringSidW(sid, &text))
        return u"an account";
    std::u16string result(reinterpret_cast<const char16_t*>(text));
    ::LocalFree(text);
    return result;
}

bool Trusted(PSID sid) {
    if (::IsWellKnownSid(sid, WinLocalSystemSid) ||
        ::IsWellKnownSid(sid, WinBuiltinAdministratorsSid))
        return true;
    return SidText(sid) == kTrustedInstaller;
}

class Win32KeySecurity final : public IKeySecurity {
public:
    long RestrictToAdministrators(RegKey key) override {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(
                L"O:BAD:P(A;CI;KA;;;SY)(A;CI;KA;;;BA)", SDDL_REVISION_1, &descriptor, nullptr))
            return static_cast<long>(::GetLastError());
        long error = ::RegSetKeySecurity(ToHkey(key),
                                         OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                                             PROTECTED_DACL_SECURITY_INFORMATION,
                                         descriptor);
        // A process that may not hand the key to Administrators keeps
        // owning it itself (it is one of them, or the system).
        if (error == ERROR_INVALID_OWNER)
            error = ::RegSetKeySecurity(
                ToHkey(key), DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                descriptor);
        ::LocalFree(descriptor);
        return error;
    }

    std::u16string OthersWhoCanChange(RegKey key) override {
        const SECURITY_INFORMATION wanted = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
        DWORD size = 0;
        LONG error = ::RegGetKeySecurity(ToHkey(key), wanted, nullptr, &size);
        std::vector<uint8_t> buffer(size > 0 ? size : 1);
        if (error == ERROR_INSUFFICIENT_BUFFER || error == ERROR_SUCCESS)
            error = ::RegGetKeySecurity(ToHkey(key), wanted, buffer.data(), &size);
        if (error != ERROR_SUCCESS)
            return u"anyone (its security cannot be read, error " + U16(std::to_string(error)) +
                   u")";
        const auto descriptor = static_cast<PSECURITY_DESCRIPTOR>(buffer.data());
        PSID owner = nullptr;
        BOOL defaulted = FALSE;
        if (!::GetSecurityDescriptorOwner(descriptor, &owner, &defaulted) || owner == nullptr)
            return u"anyone (it has no owner)";
        if (!Trusted(owner))
            return SidText(owner) + u" (its owner)";
        BOOL present = FALSE;
        PACL dacl = nullptr;
        if (!::GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) || !present ||
            dacl == nullptr)
            return u"everyone (it has no access list)";
        for (DWORD i = 0; i < dacl->AceCount; ++i) {
            void* entry = nullptr;
            if (!::GetAce(dacl, i, &entry))
                return u"anyone (its access list cannot be read)";
            const auto* header = static_cast<const ACE_HEADER*>(entry);
            // Entries only for subkeys to come do not apply to the key.
            if (header->AceFlags & INHERIT_ONLY_ACE)
                continue;
            switch (header->AceType) {
            case ACCESS_ALLOWED_ACE_TYPE:
            case ACCESS_ALLOWED_CALLBACK_ACE_TYPE: {
                // Both begin with the header, the mask and the account.
                const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(entry);
                PSID sid = const_cast<DWORD*>(&allowed->SidStart);
                if ((allowed->Mask & kChangeRights) != 0 && !Trusted(sid))
                    return SidText(sid);
                break;
            }
            case ACCESS_ALLOWED_OBJECT_ACE_TYPE:
            case ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE:
            case ACCESS_ALLOWED_COMPOUND_ACE_TYPE:
                return u"an account of an unusual access entry";
            default:
                // Denials, audits and labels allow nothing.
                break;
            }
        }
        return {};
    }
};

} // namespace

IKeySecurity& SystemKeySecurity() {
    static Win32KeySecurity security;
    return security;
}

} // namespace keystrip::platform
