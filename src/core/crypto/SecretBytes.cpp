#include "core/crypto/SecretBytes.h"

#include <openssl/crypto.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <new>
#include <utility>

namespace marrowick {

SecretBytes::SecretBytes(std::size_t size) {
    if (size == 0) {
        return;
    }
    const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    if (size > SIZE_MAX - page) {
        throw std::bad_alloc();
    }
    const std::size_t mapped = (size + page - 1) / page * page;
    void* pages = ::mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (pages == MAP_FAILED) {
        throw std::bad_alloc();
    }
    // Best effort: a kernel without MADV_DONTDUMP still gets wiped buffers.
    (void)::madvise(pages, mapped, MADV_DONTDUMP);
    // A decrypted database of a gigabyte filled a small page at a time spends most of its time in page faults.
    (void)::madvise(pages, mapped, MADV_HUGEPAGE);
    data_ = static_cast<unsigned char*>(pages);
    size_ = size;
    mapped_ = mapped;
}

SecretBytes::~SecretBytes() {
    Release();
}

SecretBytes::SecretBytes(SecretBytes&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)),
      mapped_(std::exchange(other.mapped_, 0)) {}

SecretBytes& SecretBytes::operator=(SecretBytes&& other) noexcept {
    if (this != &other) {
        Release();
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
        mapped_ = std::exchange(other.mapped_, 0);
    }
    return *this;
}

SecretBytes SecretBytes::CopyOf(std::string_view bytes) {
    SecretBytes copy(bytes.size());
    if (!bytes.empty()) {
        std::memcpy(copy.data_, bytes.data(), bytes.size());
    }
    return copy;
}

void SecretBytes::Shrink(std::size_t size) {
    if (size < size_) {
        OPENSSL_cleanse(data_ + size, size_ - size);
        size_ = size;
    }
}

void SecretBytes::Release() {
    if (data_ != nullptr) {
        OPENSSL_cleanse(data_, mapped_);
        ::munmap(data_, mapped_);
    }
    data_ = nullptr;
    size_ = 0;
    mapped_ = 0;
}

} // namespace marrowick
