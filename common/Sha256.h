// SHA-256 (FIPS 180-4), portable: what chains the parts of a backup to the
// digests its computer records.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace keystrip {

using TSha256Digest = std::array<uint8_t, 32>;

class TSha256 {
public:
    TSha256();
    void Add(const uint8_t* data, size_t size);
    void Add(const std::vector<uint8_t>& data) { Add(data.data(), data.size()); }
    // The digest of everything added; the object is spent afterwards.
    TSha256Digest Finish();

private:
    void Block(const uint8_t* block);

    std::array<uint32_t, 8> FState;
    std::array<uint8_t, 64> FBuffer{};
    size_t FBuffered = 0;
    uint64_t FLength = 0; // bytes added
};

TSha256Digest Sha256(const std::vector<uint8_t>& data);
// Lower-case hexadecimal, 64 digits.
std::string DigestHex(const TSha256Digest& digest);

} // namespace keystrip
