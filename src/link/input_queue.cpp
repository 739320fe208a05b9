#include "link/input_queue.h"

namespace zentrok {

void InputQueue::Add(const char* bytes, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
        if (size_ == kCapacity) {
            overflow_ = true;
            return;
        }
        bytes_[(head_ + size_++) % kCapacity] = bytes[i];
    }
}

std::size_t InputQueue::Take(char* dest, std::size_t count) {
    const std::size_t taken = count < size_ ? count : size_;
    for (std::size_t i = 0; i < taken; ++i) dest[i] = bytes_[(head_ + i) % kCapacity];
    head_ = (head_ + taken) % kCapacity;
    size_ -= taken;
    return taken;
}

bool InputQueue::TakeOverflow() {
    const bool overflowed = overflow_;
    overflow_ = false;
    return overflowed;
}

void InputQueue::Clear() {
    head_ = 0;
    size_ = 0;
}

}  // namespace zentrok
