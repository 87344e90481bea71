#include "platform/doubles/FakeKeySecurity.h"

#include "common/TextCase.h"

namespace keystrip::platform {

std::u16string FakeKeySecurity::Name(RegKey Key) {
    std::u16string name;
    if (FRegistry.QueryKeyName(Key, name) != kErrorSuccess)
        return {};
    return AsciiLower(name);
}

void FakeKeySecurity::OpenToUsers(const std::u16string& KernelName) {
    FOpen.insert(AsciiLower(KernelName));
}

long FakeKeySecurity::RestrictToAdministrators(RegKey Key) {
    if (FRefusal != kErrorSuccess)
        return FRefusal;
    const std::u16string name = Name(Key);
    FOpen.erase(name);
    FRestricted.insert(name);
    return kErrorSuccess;
}

std::u16string FakeKeySecurity::OthersWhoCanChange(RegKey Key) {
    const std::u16string name = Name(Key);
    if (name.empty())
        return u"anyone (its security cannot be read)";
    return FOpen.count(name) != 0 ? u"S-1-5-32-545" : u"";
}

} // namespace keystrip::platform
