// The raw-data resources the executable carries, compiled into the program
// as well: the native build reads them through EmbeddedResources, and the
// Windows tests compare them with what the executable's own resources hold.
#pragma once

#include "platform/EmbeddedResources.h"

#include <vector>

namespace keystrip::resources {

// Every RT_RCDATA resource of the executable, by name, in resource script order.
const std::vector<platform::EmbeddedFile>& ShippedFiles();

} // namespace keystrip::resources
