// A seekable stream of bytes: what the definition reader takes and what an
// executable resource is opened as.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

namespace keystrip::platform {

class ByteStream {
public:
    virtual ~ByteStream() = default;
    virtual int64_t Size() const = 0;
    virtual int64_t Position() const = 0;
    // Positions outside 0..Size are clamped.
    virtual void Seek(int64_t position) = 0;
    // Reads up to count bytes from the current position; returns how many.
    virtual size_t Read(void* buffer, size_t count) = 0;

    // The bytes from the current position to the end.
    std::vector<uint8_t> ReadToEnd();
};

// A read-only stream over bytes it does not own (a locked resource, say).
class MemoryViewStream : public ByteStream {
public:
    MemoryViewStream(const void* data, size_t size)
        : data_(static_cast<const uint8_t*>(data)), size_(size) {}
    int64_t Size() const override { return static_cast<int64_t>(size_); }
    int64_t Position() const override { return static_cast<int64_t>(pos_); }
    void Seek(int64_t position) override;
    size_t Read(void* buffer, size_t count) override;

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

// A stream that owns a copy of its bytes.
class MemoryStream : public ByteStream {
public:
    explicit MemoryStream(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
    int64_t Size() const override { return static_cast<int64_t>(bytes_.size()); }
    int64_t Position() const override { return static_cast<int64_t>(pos_); }
    void Seek(int64_t position) override;
    size_t Read(void* buffer, size_t count) override;

private:
    std::vector<uint8_t> bytes_;
    size_t pos_ = 0;
};

} // namespace keystrip::platform
