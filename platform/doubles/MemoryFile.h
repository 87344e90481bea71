// A new file in memory, for the backup's tests: its bytes can be read at any
// moment, any single write (an append or a cut back, counted together) can
// be made to fail, an append after writing only part of its bytes as on a
// full disk, and a hook sees the bytes after every write.
#pragma once

#include "platform/Files.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace keystrip::platform {

class MemoryFile final : public INewFile {
public:
    // Storage, when given, keeps the bytes beyond the file's life.
    explicit MemoryFile(std::u16string Name = u"memory.reg",
                        std::shared_ptr<std::vector<uint8_t>> Storage = nullptr)
        : FName(std::move(Name)),
          FStorage(Storage ? std::move(Storage) : std::make_shared<std::vector<uint8_t>>()),
          FBytes(*FStorage) {}

    const std::u16string& Name() const override { return FName; }
    void Append(const std::vector<uint8_t>& Bytes) override;
    void Truncate(uint64_t Size) override;

    const std::vector<uint8_t>& Bytes() const { return FBytes; }
    // Writes so far; the first is number 1.
    uint64_t Writes() const { return FWrites; }
    // Write number Write fails; an append keeps the first Kept of its bytes.
    void FailWrite(uint64_t Write, size_t Kept = 0) {
        FFailing = Write;
        FKept = Kept;
    }
    // Every cut back from now on fails.
    void FailTruncations() { FTruncationsFail = true; }
    // Runs after every write, failed ones included, with the bytes as they are.
    void SetWriteHook(std::function<void(const std::vector<uint8_t>&)> Hook) {
        FHook = std::move(Hook);
    }

private:
    bool Fails();

    std::u16string FName;
    std::shared_ptr<std::vector<uint8_t>> FStorage;
    std::vector<uint8_t>& FBytes;
    uint64_t FWrites = 0;
    uint64_t FFailing = 0;
    size_t FKept = 0;
    bool FTruncationsFail = false;
    std::function<void(const std::vector<uint8_t>&)> FHook;
};

} // namespace keystrip::platform
