// The one-copy lock between "copies" inside one test: every lock made on the
// same table shares one name. A table can be set to be squatted.
#pragma once

#include "platform/OneCopyLock.h"

namespace keystrip::platform {

struct FakeLockTable {
    bool Held = false;
    // When set, every Take answers Unguarded with this reason.
    std::u16string Squatter;
};

class FakeOneCopyLock final : public IOneCopyLock {
public:
    explicit FakeOneCopyLock(FakeLockTable& Table) : FTable(Table) {}
    ~FakeOneCopyLock() override;
    FakeOneCopyLock(const FakeOneCopyLock&) = delete;
    FakeOneCopyLock& operator=(const FakeOneCopyLock&) = delete;

    LockResult Take() override;

private:
    FakeLockTable& FTable;
    bool FOwned = false;
};

} // namespace keystrip::platform
