#include "core/crypto/SecretBytes.h"

#include <openssl/crypto.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <mutex>
#include <new>
#include <utility>

namespace marrowick {

namespace {

// Secrets up to this length (keys) take a slot of a shared page rather than pages of their own.
constexpr std::size_t SlotSize = 64;

std::size_t PageSize() {
    static const auto size = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    return size;
}

// Pages of their own, left out of core dumps; null when none can be mapped.
unsigned char* MapPages(std::size_t length) {
    void* pages = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (pages == MAP_FAILED) {
        return nullptr;
    }
    // Best effort: a kernel without MADV_DONTDUMP still gets wiped buffers.
    (void)::madvise(pages, length, MADV_DONTDUMP);
    return static_cast<unsigned char*>(pages);
}

// Slots for small secrets. Mapping a page for each key of each exported file, and unmapping it after, cost tens
// of microseconds a key (a page fault, and a flush of every core's address cache). The pages are kept for the
// process's life; a free slot holds nothing but the next free slot's address. Trivially destroyed, so that secrets
// released at exit find it still there.
class SlotPool final {
public:
    [[nodiscard]] unsigned char* Take() {
        const std::scoped_lock lock(mutex_);
        if (free_ == nullptr && !Grow()) {
            return nullptr;
        }
        unsigned char* slot = free_;
        std::memcpy(&free_, slot, sizeof free_);
        std::memset(slot, 0, SlotSize);
        return slot;
    }

    void Give(unsigned char* slot) {
        OPENSSL_cleanse(slot, SlotSize);
        const std::scoped_lock lock(mutex_);
        std::memcpy(slot, &free_, sizeof free_);
        free_ = slot;
    }

private:
    bool Grow() {
        unsigned char* page = MapPages(PageSize());
        if (page == nullptr) {
            return false;
        }
        for (std::size_t offset = 0; offset + SlotSize <= PageSize(); offset += SlotSize) {
            std::memcpy(page + offset, &free_, sizeof free_);
            free_ = page + offset;
        }
        return true;
    }

    std::mutex mutex_;
    unsigned char* free_ = nullptr;
};

constinit SlotPool slots;

} // namespace

SecretBytes::SecretBytes(std::size_t size) {
    if (size == 0) {
        return;
    }
    if (size <= SlotSize) {
        data_ = slots.Take();
        if (data_ == nullptr) {
            throw std::bad_alloc();
        }
        size_ = size;
        return;
    }
    const std::size_t page = PageSize();
    if (size > SIZE_MAX - page) {
        throw std::bad_alloc();
    }
    const std::size_t mapped = (size + page - 1) / page * page;
    data_ = MapPages(mapped);
    if (data_ == nullptr) {
        throw std::bad_alloc();
    }
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
    if (data_ != nullptr && mapped_ == 0) {
        slots.Give(data_);
    } else if (data_ != nullptr) {
        OPENSSL_cleanse(data_, mapped_);
        ::munmap(data_, mapped_);
    }
    data_ = nullptr;
    size_ = 0;
    mapped_ = 0;
}

} // namespace marrowick
