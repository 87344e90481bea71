#include "platform/EmbeddedResources.h"

#include "common/TextCase.h"

namespace keystrip::platform {

std::unique_ptr<ByteStream> EmbeddedResources::Open(const std::u16string& name) const {
    for (const auto& file : files_)
        if (AsciiSameText(name, file.Name))
            return std::make_unique<MemoryViewStream>(file.Data, file.Size);
    return nullptr;
}

} // namespace keystrip::platform
