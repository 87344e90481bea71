// Helpers shared by the fuzz targets: turning the fuzzer's bytes into the
// program's inputs, and a check that aborts (so libFuzzer keeps the input)
// when a property of the code under test does not hold.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace keystrip::fuzz {

[[noreturn]] inline void Fail(const char* what, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: property violated: %s\n", file, line, what);
    std::abort();
}

#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition))                                                                          \
            ::keystrip::fuzz::Fail(#condition, __FILE__, __LINE__);                                \
    } while (false)

// Reads the fuzzer's bytes front to back; reads past the end give zeros and
// empty texts, so every input is usable.
class Input {
public:
    Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    size_t Left() const { return size_ - pos_; }

    // A UTF-16 text of up to maxUnits code units, two bytes each (little
    // endian), so that every code unit, unpaired surrogates included, occurs.
    std::u16string Text16(size_t maxUnits) {
        std::u16string out;
        while (out.size() < maxUnits && Left() >= 2) {
            const auto lo = data_[pos_];
            const auto hi = data_[pos_ + 1];
            pos_ += 2;
            out.push_back(static_cast<char16_t>(lo | (hi << 8)));
        }
        return out;
    }

    // The rest as UTF-16 code units.
    std::u16string Rest16() { return Text16(Left() / 2); }

    // Bytes up to the next 0xFF byte (dropped) or the end.
    std::string Field() {
        std::string out;
        while (pos_ < size_) {
            const uint8_t b = data_[pos_++];
            if (b == 0xFF)
                break;
            out.push_back(static_cast<char>(b));
        }
        return out;
    }

    std::string Rest() {
        std::string out(reinterpret_cast<const char*>(data_ + pos_), size_ - pos_);
        pos_ = size_;
        return out;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

} // namespace keystrip::fuzz
