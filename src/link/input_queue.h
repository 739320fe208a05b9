// The port's input queue: bytes from the device wait here until the reader
// takes them. Like a serial driver's own queue it has a fixed capacity,
// loses what arrives beyond it and reports that it overflowed.
#pragma once

#include <array>
#include <cstddef>

namespace zentrok {

class InputQueue {
public:
    static constexpr std::size_t kCapacity = 4096;

    // Appends the bytes that fit; the rest are lost and flag an overflow.
    void Add(const char* bytes, std::size_t size);

    // Copies up to `count` of the oldest bytes to `dest` and removes them;
    // returns how many there were.
    std::size_t Take(char* dest, std::size_t count);

    std::size_t Size() const { return size_; }

    // True when bytes were lost since the last call.
    bool TakeOverflow();

    // Discards every queued byte.
    void Clear();

private:
    std::array<char, kCapacity> bytes_{};
    std::size_t head_ = 0;  // oldest queued byte
    std::size_t size_ = 0;
    bool overflow_ = false;
};

}  // namespace zentrok
