#pragma once

#include <cstddef>
#include <string_view>

namespace marrowick {

// The only holder of passwords and keys: bytes on pages kept for secrets, left out of core
// dumps, and wiped when the buffer goes or another is moved into it. Up to 64 bytes (a key) share a page with other
// secrets; longer ones have pages of their own, unmapped once wiped. A move hands the bytes over; nothing copies
// them, so that no stray copy outlives the buffer.
class SecretBytes final {
public:
    SecretBytes() = default;
    // size zero bytes; throws std::bad_alloc when no memory can be mapped, as a std::string would.
    explicit SecretBytes(std::size_t size);
    ~SecretBytes();
    SecretBytes(SecretBytes&& other) noexcept;
    SecretBytes& operator=(SecretBytes&& other) noexcept;
    SecretBytes(const SecretBytes&) = delete;
    SecretBytes& operator=(const SecretBytes&) = delete;

    // A buffer holding a copy of the bytes; the caller wipes the original where it can.
    [[nodiscard]] static SecretBytes CopyOf(std::string_view bytes);

    [[nodiscard]] unsigned char* Data() { return data_; }
    [[nodiscard]] const unsigned char* Data() const { return data_; }
    [[nodiscard]] std::size_t Size() const { return size_; }
    [[nodiscard]] bool Empty() const { return size_ == 0; }
    [[nodiscard]] std::string_view View() const { return {reinterpret_cast<const char*>(data_), size_}; }

    // Keeps the first size bytes (no more than there are) and wipes the rest.
    void Shrink(std::size_t size);

private:
    void Release();

    unsigned char* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t mapped_ = 0; // 0 for a slot of a shared page
};

} // namespace marrowick
