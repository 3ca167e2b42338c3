#include "core/crypto/ClassKeys.h"

#include "core/crypto/KeyWrap.h"

namespace marrowick {

const SecretBytes* ClassKeys::Find(std::uint32_t protectionClass) const {
    for (const auto& [keyClass, key] : keys_) {
        if (keyClass == protectionClass) {
            return &key;
        }
    }
    return nullptr;
}

std::optional<SecretBytes> ClassKeys::UnwrapRecordKey(std::string_view wrapped) const {
    if (wrapped.size() != WrappedRecordKeySize) {
        return std::nullopt;
    }
    const auto* p = reinterpret_cast<const unsigned char*>(wrapped.data());
    const std::uint32_t protectionClass =
        std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
    const SecretBytes* classKey = Find(protectionClass);
    if (classKey == nullptr) {
        return std::nullopt;
    }
    return UnwrapKey(*classKey, wrapped.substr(4));
}

Result<ClassKeys> UnlockClassKeys(const Keybag& keybag, const SecretBytes& passwordKey) {
    ClassKeys unlocked;
    std::size_t tried = 0;
    for (const Keybag::ClassEntry& entry : keybag.Classes) {
        if (!Keybag::Unlockable(entry)) {
            continue;
        }
        ++tried;
        if (std::optional<SecretBytes> key = UnwrapKey(passwordKey, entry.WrappedKey)) {
            unlocked.keys_.emplace_back(entry.Class, std::move(*key));
        }
    }
    // The unwrap checks its result: with the wrong password every class fails, so a partial unlock is damage.
    if (unlocked.keys_.empty()) {
        const FailureCause cause = tried == 0 ? FailureCause::DamagedKeybag : FailureCause::WrongPassword;
        return Failure::Because(FailureStep::Check, {}, cause);
    }
    if (unlocked.keys_.size() != tried) {
        return Failure::Because(FailureStep::Check, "BackupKeyBag", FailureCause::DamagedKeybag);
    }
    return unlocked;
}

} // namespace marrowick
