#include "platform/ByteStream.h"

#include <algorithm>
#include <cstring>

namespace keystrip::platform {

namespace {

size_t Clamp(int64_t position, size_t size) {
    if (position < 0)
        return 0;
    return std::min(static_cast<size_t>(position), size);
}

size_t CopyOut(const uint8_t* data, size_t size, size_t& pos, void* buffer, size_t count) {
    const size_t n = std::min(count, size - pos);
    if (n > 0)
        std::memcpy(buffer, data + pos, n);
    pos += n;
    return n;
}

} // namespace

std::vector<uint8_t> ByteStream::ReadToEnd() {
    std::vector<uint8_t> bytes;
    const int64_t remaining = Size() - Position();
    if (remaining <= 0)
        return bytes;
    bytes.resize(static_cast<size_t>(remaining));
    bytes.resize(Read(bytes.data(), bytes.size()));
    return bytes;
}

void MemoryViewStream::Seek(int64_t position) {
    pos_ = Clamp(position, size_);
}

size_t MemoryViewStream::Read(void* buffer, size_t count) {
    return CopyOut(data_, size_, pos_, buffer, count);
}

void MemoryStream::Seek(int64_t position) {
    pos_ = Clamp(position, bytes_.size());
}

size_t MemoryStream::Read(void* buffer, size_t count) {
    return CopyOut(bytes_.data(), bytes_.size(), pos_, buffer, count);
}

} // namespace keystrip::platform
