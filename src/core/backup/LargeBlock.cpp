#include "core/backup/LargeBlock.h"

#include <algorithm>
#include <cstdlib>
#include <new>
#include <utility>

namespace marrowick::detail {

LargeBlock::LargeBlock(std::size_t bytes) : data_(std::calloc(std::max<std::size_t>(bytes, 1), 1)), size_(bytes) {
    if (data_ == nullptr) {
        throw std::bad_alloc();
    }
}

LargeBlock::~LargeBlock() {
    std::free(data_);
}

LargeBlock::LargeBlock(LargeBlock&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}

LargeBlock& LargeBlock::operator=(LargeBlock&& other) noexcept {
    if (this != &other) {
        LargeBlock gone(std::move(*this));
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
    }
    return *this;
}

} // namespace marrowick::detail
