// The machine-wide lock that lets one copy of the program work at a time:
// two removals, or two writers of one log or backup, must never interleave.
// On Windows a mutex in the Global\ namespace, so that copies in other
// sessions (a startup script as SYSTEM, a remoting session, a person's
// desktop) see it too.
#pragma once

#include <cstdint>
#include <string>

namespace keystrip::platform {

enum class LockState : uint8_t {
    Taken,         // this copy holds the lock until the lock object goes
    HeldByAnother, // another copy holds it now
    // The name is held by something no administrator made, or that refuses
    // administrators: anyone may create an object of that name first. The
    // copy goes on without the lock rather than let that stop every run.
    Unguarded,
};

struct LockResult {
    LockState State = LockState::Taken;
    std::u16string Why; // for Unguarded: what holds the name, in English
};

class IOneCopyLock {
public:
    virtual ~IOneCopyLock() = default;
    // Tries once, without waiting.
    virtual LockResult Take() = 0;
};

} // namespace keystrip::platform
