// Native stand-in: the in-memory registry has no access lists.
#include "platform/KeySecurity.h"

namespace keystrip::platform {

namespace {

class NoKeySecurity final : public IKeySecurity {
public:
    long RestrictToAdministrators(RegKey) override { return kErrorSuccess; }
    std::u16string OthersWhoCanChange(RegKey) override { return {}; }
};

} // namespace

IKeySecurity& SystemKeySecurity() {
    static NoKeySecurity security;
    return security;
}

} // namespace keystrip::platform
