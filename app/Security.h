// Start-up hardening of the library search path, run before anything else of
// the program's own. Returns a Win32 error code (0 for success) and never
// raises; the caller goes on whatever it returns.
//
// Besides removing the current directory (SetDllDirectoryW("")) and, from
// Windows 7 on, enabling safe search mode, it restricts the default search to
// System32 where SetDefaultDllDirectories exists: otherwise the executable's
// own folder would still be searched for every library loaded later by name,
// and a library planted there would run with the program's rights.
#pragma once

#include "platform/Kernel32.h"

#include <cstdint>

namespace keystrip {

uint32_t HardenDllSearchPath() noexcept;
uint32_t HardenDllSearchPath(platform::IKernel32& kernel32) noexcept;

} // namespace keystrip
