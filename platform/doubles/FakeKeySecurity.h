// The key security seam over the in-memory registry: keys are known by their
// kernel names; any of them can be made changeable by ordinary users, and
// restricting a key (which makes it trusted again) can be made to fail.
#pragma once

#include "platform/KeySecurity.h"

#include <set>
#include <string>

namespace keystrip::platform {

class FakeKeySecurity final : public IKeySecurity {
public:
    explicit FakeKeySecurity(IRegistry& Registry) : FRegistry(Registry) {}

    // The key of this kernel name can be changed by the Users group.
    void OpenToUsers(const std::u16string& KernelName);
    void RefuseRestriction(long Error) { FRefusal = Error; }
    // Kernel names of the keys restricted so far.
    const std::set<std::u16string>& Restricted() const { return FRestricted; }

    long RestrictToAdministrators(RegKey Key) override;
    std::u16string OthersWhoCanChange(RegKey Key) override;

private:
    std::u16string Name(RegKey Key);

    IRegistry& FRegistry;
    std::set<std::u16string> FOpen;
    std::set<std::u16string> FRestricted;
    long FRefusal = kErrorSuccess;
};

} // namespace keystrip::platform
