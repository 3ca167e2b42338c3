#pragma once

#include <cstddef>

namespace marrowick::detail {

// Zero-filled memory for the tree's arrays, made without constructing or clearing elements one by one.
class LargeBlock final {
public:
    LargeBlock() = default;
    explicit LargeBlock(std::size_t bytes);
    ~LargeBlock();
    LargeBlock(LargeBlock&& other) noexcept;
    LargeBlock& operator=(LargeBlock&& other) noexcept;
    LargeBlock(const LargeBlock&) = delete;
    LargeBlock& operator=(const LargeBlock&) = delete;
    [[nodiscard]] void* Data() const { return data_; }
    [[nodiscard]] std::size_t Size() const { return size_; }

private:
    void* data_ = nullptr;
    std::size_t size_ = 0;
};

} // namespace marrowick::detail
