#include "support/Detail.h"
#include "support/SampleBackup.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <memory>
#include <stdexcept>

namespace marrowick::testing {

namespace {

using CipherContext = std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)>;

std::string Sequence(unsigned char first, std::size_t count) {
    std::string bytes;
    for (std::size_t i = 0; i < count; ++i) {
        bytes.push_back(static_cast<char>(first + i));
    }
    return bytes;
}

void AppendItem(std::string& out, const std::string& tag, const std::string& value) {
    out += tag;
    detail::AppendBigEndian(out, value.size(), 4);
    out += value;
}

std::string Number(std::uint32_t value) {
    std::string bytes;
    detail::AppendBigEndian(bytes, value, 4);
    return bytes;
}

std::string Pbkdf2(const std::string& secret, const std::string& salt, std::uint32_t iterations, const EVP_MD* md) {
    std::string key(32, '\0');
    if (PKCS5_PBKDF2_HMAC(secret.data(), static_cast<int>(secret.size()),
                          reinterpret_cast<const unsigned char*>(salt.data()), static_cast<int>(salt.size()),
                          static_cast<int>(iterations), md, 32, reinterpret_cast<unsigned char*>(key.data())) != 1) {
        throw std::runtime_error("PBKDF2 failed");
    }
    return key;
}

// Encrypts with the cipher, key and IV; padding as pad says.
std::string Encrypt(const EVP_CIPHER* cipher, const std::string& key, const std::string& plaintext, bool pad) {
    static constexpr unsigned char ZeroIv[16] = {};
    const CipherContext context(EVP_CIPHER_CTX_new(), &EVP_CIPHER_CTX_free);
    std::string out(plaintext.size() + 32, '\0');
    auto* target = reinterpret_cast<unsigned char*>(out.data());
    int written = 0;
    int last = 0;
    // The key wrap takes no IV and no padding, and its one update is the whole of it.
    const bool wrap = cipher != nullptr && EVP_CIPHER_get_mode(cipher) == EVP_CIPH_WRAP_MODE;
    const auto* in = reinterpret_cast<const unsigned char*>(plaintext.data());
    if (!context || cipher == nullptr ||
        EVP_EncryptInit_ex2(context.get(), cipher, reinterpret_cast<const unsigned char*>(key.data()),
                            wrap ? nullptr : ZeroIv, nullptr) != 1 ||
        (!wrap && EVP_CIPHER_CTX_set_padding(context.get(), pad ? 1 : 0) != 1) ||
        EVP_EncryptUpdate(context.get(), target, &written, in, static_cast<int>(plaintext.size())) != 1 ||
        (!wrap && EVP_EncryptFinal_ex(context.get(), target + written, &last) != 1)) {
        throw std::runtime_error("encryption failed");
    }
    out.resize(static_cast<std::size_t>(written + last));
    return out;
}

} // namespace

std::string FromHex(std::string_view hex) {
    std::string bytes;
    std::string digits;
    for (const char c : hex) {
        if (std::isxdigit(static_cast<unsigned char>(c)) != 0) {
            digits.push_back(c);
        }
    }
    for (std::size_t i = 0; i + 1 < digits.size(); i += 2) {
        bytes.push_back(static_cast<char>(std::stoi(digits.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

std::string ToHex(std::string_view bytes) {
    static constexpr char Digits[] = "0123456789abcdef";
    std::string hex;
    for (const char c : bytes) {
        hex.push_back(Digits[static_cast<unsigned char>(c) >> 4]);
        hex.push_back(Digits[static_cast<unsigned char>(c) & 0xF]);
    }
    return hex;
}

std::string SampleClassKey(std::uint32_t protectionClass) {
    // Class 3's is the key of the keybag test vector.
    std::string key = Sequence(0x40, 32);
    key[0] = static_cast<char>(0x40 ^ (protectionClass ^ 3));
    return key;
}

std::string SamplePasswordKey(const SampleKeybag& keybag, const std::string& password) {
    const std::string salt = Sequence(0x01, 20);
    if (!keybag.TwoStage) {
        return Pbkdf2(password, salt, keybag.Iterations, EVP_sha1());
    }
    const std::string first = Pbkdf2(password, Sequence(0x21, 20), keybag.DoubleProtectionIterations, EVP_sha256());
    return Pbkdf2(first, salt, keybag.Iterations, EVP_sha1());
}

std::string WrapKey(const std::string& kek, const std::string& key) {
    const std::unique_ptr<EVP_CIPHER, decltype(&EVP_CIPHER_free)> cipher(
        EVP_CIPHER_fetch(nullptr, "AES-256-WRAP", nullptr), &EVP_CIPHER_free);
    return Encrypt(cipher.get(), kek, key, false);
}

std::string MakeWrappedRecordKey(std::uint32_t protectionClass, const std::string& key) {
    std::string wrapped;
    for (int shift = 0; shift < 32; shift += 8) {
        wrapped.push_back(static_cast<char>((protectionClass >> shift) & 0xFF));
    }
    return wrapped + WrapKey(SampleClassKey(protectionClass), key);
}

std::string EncryptCbc(const std::string& key, const std::string& plaintext, bool pad) {
    return Encrypt(EVP_aes_256_cbc(), key, plaintext, pad);
}

std::string MakeKeybag(const SampleKeybag& keybag) {
    const auto wanted = [&keybag](const char* tag) {
        return std::find(keybag.LeftOut.begin(), keybag.LeftOut.end(), tag) == keybag.LeftOut.end();
    };
    const auto put = [&](std::string& out, const char* tag, const std::string& value) {
        if (wanted(tag)) {
            AppendItem(out, tag, value);
        }
    };
    std::string out;
    put(out, "VERS", Number(5));
    put(out, "TYPE", Number(1));
    put(out, "UUID", Sequence(0xA0, 16));
    put(out, "WRAP", Number(0));
    put(out, "SALT", Sequence(0x01, 20));
    put(out, "ITER", Number(keybag.Iterations));
    if (keybag.TwoStage) {
        put(out, "DPWT", Number(1));
        put(out, "DPIC", Number(keybag.DoubleProtectionIterations));
        put(out, "DPSL", Sequence(0x21, 20));
    }
    // A count PBKDF2 refuses makes a keybag no password unlocks; its keys are wrapped with zeros instead.
    const auto countFits = [](std::uint32_t count) { return count > 0 && count <= INT_MAX; };
    const bool derivable = keybag.Unlockable && countFits(keybag.Iterations) &&
                           (!keybag.TwoStage || countFits(keybag.DoubleProtectionIterations));
    unsigned char uuidStart = 0xB0;
    for (const SampleKeybagClass& entry : keybag.Classes) {
        const std::string kek =
            derivable ? SamplePasswordKey(keybag, entry.WrappedWith.value_or(keybag.Password)) : std::string(32, '\0');
        AppendItem(out, "UUID", Sequence(uuidStart++, 16));
        AppendItem(out, "CLAS", Number(entry.Class));
        AppendItem(out, "WRAP", Number(entry.Wrap));
        AppendItem(out, "KTYP", Number(0));
        AppendItem(out, "WPKY", WrapKey(kek, SampleClassKey(entry.Class)));
    }
    return out;
}

std::string SampleManifestDbKey() {
    return Sequence(0x60, 32);
}

std::string SampleFileKey(const std::string& fileId) {
    return Sha1Hex("key-" + fileId).substr(0, 32);
}

} // namespace marrowick::testing
