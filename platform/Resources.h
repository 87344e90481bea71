// The seam to the executable's raw-data resources (RT_RCDATA). On Windows
// the running module's resources; natively the same files compiled into the
// binary; in tests a double that lists exactly which resources exist.
#pragma once

#include "platform/ByteStream.h"

#include <memory>
#include <string>

namespace keystrip::platform {

class IResourceSource {
public:
    virtual ~IResourceSource() = default;
    // A read-only stream over the named RT_RCDATA resource positioned at 0,
    // or null when there is none. The resource is released with the stream.
    virtual std::unique_ptr<ByteStream> Open(const std::u16string& name) const = 0;
};

} // namespace keystrip::platform
