#include "core/crypto/Keybag.h"

#include <algorithm>
#include <climits>

namespace marrowick {

namespace {

constexpr std::size_t ItemHeaderSize = 8;

std::uint32_t BigEndian32(std::string_view bytes) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

struct Item {
    std::string_view Tag;
    std::string_view Value;
};

// Walks the items one by one; Next fails when the next item does not fit in what is left.
class ItemReader {
public:
    explicit ItemReader(std::string_view data) : data_(data) {}
    [[nodiscard]] bool AtEnd() const { return data_.empty(); }
    [[nodiscard]] std::optional<Item> Next() {
        if (data_.size() < ItemHeaderSize) {
            return std::nullopt;
        }
        const std::uint32_t length = BigEndian32(data_.substr(4, 4));
        if (length > data_.size() - ItemHeaderSize) {
            return std::nullopt;
        }
        const Item item{data_.substr(0, 4), data_.substr(ItemHeaderSize, length)};
        data_.remove_prefix(ItemHeaderSize + length);
        return item;
    }

private:
    std::string_view data_;
};

// A 4-byte count PBKDF2 takes (1 to INT_MAX), or nothing.
std::optional<std::uint32_t> Count(std::string_view value) {
    if (value.size() != 4) {
        return std::nullopt;
    }
    const std::uint32_t count = BigEndian32(value);
    return count == 0 || count > INT_MAX ? std::nullopt : std::optional(count);
}

// Collects items into a keybag: those before the second UUID describe the keybag, each later UUID starts a class
// entry, which is kept when it has a CLAS.
class KeybagBuilder {
public:
    // False when the item's value is malformed.
    bool Add(const Item& item) {
        if (item.Tag == "UUID" && ++uuids_ >= 2) {
            Close();
            inEntry_ = true;
            return true;
        }
        return inEntry_ ? AddToEntry(item) : AddToKeybag(item);
    }

    Keybag Finish() {
        Close();
        return std::move(keybag_);
    }

private:
    bool AddToEntry(const Item& item) {
        if (item.Tag == "CLAS" || item.Tag == "WRAP") {
            if (item.Value.size() != 4) {
                return false;
            }
            (item.Tag == "CLAS" ? entry_.Class : entry_.Wrap) = BigEndian32(item.Value);
            hasClass_ = hasClass_ || item.Tag == "CLAS";
        } else if (item.Tag == "WPKY") {
            entry_.WrappedKey.assign(item.Value);
        }
        return true;
    }

    bool AddToKeybag(const Item& item) {
        if (item.Tag == "SALT") {
            keybag_.Salt.assign(item.Value);
        } else if (item.Tag == "DPSL") {
            keybag_.DoubleProtectionSalt.emplace(item.Value);
        } else if (item.Tag == "ITER") {
            const auto count = Count(item.Value);
            keybag_.Iterations = count.value_or(0);
            return count.has_value();
        } else if (item.Tag == "DPIC") {
            keybag_.DoubleProtectionIterations = Count(item.Value);
            return keybag_.DoubleProtectionIterations.has_value();
        }
        return true;
    }

    void Close() {
        if (inEntry_ && hasClass_) {
            keybag_.Classes.push_back(std::move(entry_));
        }
        entry_ = {};
        hasClass_ = false;
    }

    Keybag keybag_;
    Keybag::ClassEntry entry_;
    bool inEntry_ = false; // after the second UUID: items go into entry_
    bool hasClass_ = false;
    int uuids_ = 0;
};

} // namespace

Result<Keybag> ParseKeybag(std::string_view data) {
    const Failure damaged = Failure::Because(FailureStep::Check, "BackupKeyBag", FailureCause::DamagedKeybag);
    ItemReader reader(data);
    KeybagBuilder builder;
    while (!reader.AtEnd()) {
        const std::optional<Item> item = reader.Next();
        if (!item || !builder.Add(*item)) {
            return damaged;
        }
    }
    Keybag keybag = builder.Finish();
    const bool unlockable = std::any_of(keybag.Classes.begin(), keybag.Classes.end(), Keybag::Unlockable);
    if (keybag.Salt.empty() || keybag.Iterations == 0 || !unlockable) {
        return damaged;
    }
    return keybag;
}

} // namespace marrowick
