// The process's command line as one string, before any splitting:
// GetCommandLineW on Windows.
#pragma once

#include <string>

namespace keystrip::platform {

std::u16string ProcessCommandLine();

} // namespace keystrip::platform
