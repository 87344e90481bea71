#include "platform/doubles/FakeOneCopyLock.h"

namespace keystrip::platform {

FakeOneCopyLock::~FakeOneCopyLock() {
    if (FOwned)
        FTable.Held = false;
}

LockResult FakeOneCopyLock::Take() {
    if (FOwned)
        return {LockState::Taken, {}};
    if (!FTable.Squatter.empty())
        return {LockState::Unguarded, FTable.Squatter};
    if (FTable.Held)
        return {LockState::HeldByAnother, {}};
    FTable.Held = FOwned = true;
    return {LockState::Taken, {}};
}

} // namespace keystrip::platform
