#include "core/crypto/FileDecryptor.h"
#include "support/SampleBackup.h"

#include <gtest/gtest.h>

#include <vector>

namespace marrowick {
namespace {

using testing::FromHex;

const SecretBytes V3FileKey =
    SecretBytes::CopyOf(FromHex("808182838485868788898a8b8c8d8e8f909192939495969798999a9b9c9d9e9f"));

// Feeds the stored bytes in chunks of chunkSize, each into a buffer of exactly chunk + BlockSize bytes.
Result<std::string> Decrypt(std::string_view stored, std::size_t chunkSize, const SecretBytes& key = V3FileKey) {
    Result<FileDecryptor> decryptor = FileDecryptor::Make(key);
    if (!decryptor) {
        return decryptor.Error();
    }
    std::string content;
    std::vector<unsigned char> out;
    for (std::size_t at = 0; at < stored.size(); at += chunkSize) {
        const std::string_view chunk = stored.substr(at, chunkSize);
        out.assign(chunk.size() + FileDecryptor::BlockSize, 0);
        const Result<std::size_t> written = decryptor->Update(chunk, out.data());
        if (!written) {
            return written.Error();
        }
        content.append(reinterpret_cast<const char*>(out.data()), *written);
    }
    out.assign(FileDecryptor::BlockSize, 0);
    const Result<std::size_t> last = decryptor->Finish(out.data());
    if (!last) {
        return last.Error();
    }
    return content + std::string(reinterpret_cast<const char*>(out.data()), *last);
}

TEST(FileDecryptor, VectorsDecryptToTheirContent) {
    EXPECT_EQ(Decrypt(FromHex("6171050bbf9d64ff8825926810a29e2d"), 16).Value(), "Test data");
    EXPECT_EQ(Decrypt(FromHex("4e4b9b4b59f85fa94efda7e492fed70a517a5e151ccda28de1f6d3a5dcffbe6e"), 5).Value(),
              "0123456789abcdef");
    EXPECT_EQ(Decrypt(FromHex("b4cf24ba1fb219e893c63ec46975bcd8"), 1).Value(), "");
    EXPECT_EQ(Decrypt("", 16).Value(), ""); // a stored file of no bytes: nothing to decrypt
}

class StreamedSizes : public ::testing::TestWithParam<std::tuple<std::size_t, std::size_t>> {};

TEST_P(StreamedSizes, ContentComesBackWhateverTheChunks) {
    const auto [size, chunkSize] = GetParam();
    std::string content(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        content[i] = static_cast<char>(i * 7 + 3);
    }
    const Result<std::string> decrypted =
        Decrypt(testing::EncryptCbc(std::string(V3FileKey.View()), content), chunkSize);
    ASSERT_TRUE(decrypted);
    EXPECT_EQ(*decrypted, content);
}

INSTANTIATE_TEST_SUITE_P(FileDecryptor, StreamedSizes,
                         ::testing::Combine(::testing::Values(0, 15, 16, 17, 16 * 257 + 1),
                                            ::testing::Values(1, 7, 4096)));

struct DamagedFile {
    const char* Name;
    std::string Stored;
};

void PrintTo(const DamagedFile& row, std::ostream* os) {
    *os << row.Name;
}

class DamagedFiles : public ::testing::TestWithParam<DamagedFile> {};

TEST_P(DamagedFiles, FailAtTheEndAsDamaged) {
    for (const std::size_t chunkSize : {std::size_t{1}, std::size_t{16}, std::size_t{1000}}) {
        const Result<std::string> decrypted = Decrypt(GetParam().Stored, chunkSize);
        ASSERT_FALSE(decrypted) << chunkSize;
        EXPECT_EQ(decrypted.Error().Cause, FailureCause::DamagedStoredFile);
    }
}

// Encrypted without padding, so that the test chooses the last bytes the decryption sees.
std::string Unpadded(const std::string& plaintext) {
    return testing::EncryptCbc(std::string(V3FileKey.View()), plaintext, false);
}

INSTANTIATE_TEST_SUITE_P(
    FileDecryptor, DamagedFiles,
    ::testing::Values(DamagedFile{"OneByteShort", FromHex("6171050bbf9d64ff8825926810a29e")},
                      DamagedFile{"OneByteOver",
                                  FromHex("4e4b9b4b59f85fa94efda7e492fed70a517a5e151ccda28de1f6d3a5dcffbe6e00")},
                      DamagedFile{"PaddingOfZero", Unpadded(std::string(15, 'x') + '\0')},
                      DamagedFile{"PaddingLongerThanABlock", Unpadded(std::string(15, 'x') + '\x11')},
                      DamagedFile{"PaddingBytesDisagree", Unpadded(std::string(13, 'x') + "\x02\x03\x03")},
                      DamagedFile{"WrongKey", testing::EncryptCbc(std::string(32, 'k'), std::string(100, 'c'))}),
    [](const auto& row) { return std::string(row.param.Name); });

} // namespace
} // namespace marrowick
