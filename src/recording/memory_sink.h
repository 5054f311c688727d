#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

// A byte buffer of fixed capacity that the JPEG encoder writes into.
class MemorySink {
public:
    explicit MemorySink(std::size_t capacity);
    MemorySink(const MemorySink&) = delete;
    MemorySink& operator=(const MemorySink&) = delete;

    // Copies the n bytes to the end only when n < Capacity() - Length(),
    // otherwise copies nothing and remembers the loss; returns n either way.
    std::size_t Append(const uint8_t* data, std::size_t n);
    // Empties the sink and forgets any earlier loss.
    void Clear();

    const uint8_t* Data() const { return buffer_.get(); }
    std::size_t Length() const { return length_; }
    std::size_t Capacity() const { return capacity_; }
    // True when an Append since the last Clear dropped its bytes.
    bool Overflowed() const { return overflowed_; }

private:
    std::unique_ptr<uint8_t[]> buffer_;
    std::size_t capacity_;
    std::size_t length_ = 0;
    bool overflowed_ = false;
};
