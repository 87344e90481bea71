// Resources served from byte arrays compiled into the program: the native
// build's stand-in for the executable's RT_RCDATA resources.
#pragma once

#include "platform/Resources.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace keystrip::platform {

struct EmbeddedFile {
    const char16_t* Name;
    const uint8_t* Data;
    size_t Size;
};

class EmbeddedResources : public IResourceSource {
public:
    // The files are borrowed and must outlive the source.
    explicit EmbeddedResources(const std::vector<EmbeddedFile>& files) : files_(files) {}

    // Names compare ignoring ASCII case, as resource names do on Windows.
    std::unique_ptr<ByteStream> Open(const std::u16string& name) const override;

private:
    const std::vector<EmbeddedFile>& files_;
};

} // namespace keystrip::platform
