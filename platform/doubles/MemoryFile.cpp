#include "platform/doubles/MemoryFile.h"

#include "common/Errors.h"

#include <algorithm>

namespace keystrip::platform {

bool MemoryFile::Fails() {
    return ++FWrites == FFailing;
}

void MemoryFile::Append(const std::vector<uint8_t>& Bytes) {
    if (Fails()) {
        const size_t kept = std::min(FKept, Bytes.size());
        FBytes.insert(FBytes.end(), Bytes.begin(),
                      Bytes.begin() + static_cast<std::ptrdiff_t>(kept));
        if (FHook)
            FHook(FBytes);
        throw EFileError("Cannot write \"memory.reg\". There is not enough space on the disk.");
    }
    FBytes.insert(FBytes.end(), Bytes.begin(), Bytes.end());
    if (FHook)
        FHook(FBytes);
}

void MemoryFile::Truncate(uint64_t Size) {
    if (Fails() || FTruncationsFail)
        throw EFileError("Cannot cut back \"memory.reg\". The device is not ready.");
    if (Size < FBytes.size())
        FBytes.resize(static_cast<size_t>(Size));
    if (FHook)
        FHook(FBytes);
}

} // namespace keystrip::platform
