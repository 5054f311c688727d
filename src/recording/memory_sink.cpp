#include "recording/memory_sink.h"

#include <cstring>

MemorySink::MemorySink(std::size_t capacity) : buffer_(new uint8_t[capacity]), capacity_(capacity) {}

std::size_t MemorySink::Append(const uint8_t* data, std::size_t n) {
    if (n == 0) return 0;
    if (n < capacity_ - length_) {
        std::memcpy(buffer_.get() + length_, data, n);
        length_ += n;
    } else {
        overflowed_ = true;
    }
    return n;
}

void MemorySink::Clear() {
    length_ = 0;
    overflowed_ = false;
}
