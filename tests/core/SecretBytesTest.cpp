#include "core/crypto/SecretBytes.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace marrowick {
namespace {

// Keys share pages: many at once stay apart, a slot given back holds nothing of its former secret when taken
// again, and moving one hands its bytes over whichever kind of storage it has.
TEST(SecretBytes, SmallAndLargeSecretsKeepTheirBytesApartAndStartZeroed) {
    std::vector<SecretBytes> keys;
    for (int i = 0; i < 200; ++i) {
        keys.push_back(SecretBytes::CopyOf(std::string(i % 64 + 1, static_cast<char>('a' + i % 26))));
    }
    for (int i = 0; i < 200; ++i) {
        EXPECT_EQ(keys[i].View(), std::string(i % 64 + 1, static_cast<char>('a' + i % 26))) << i;
    }
    keys.clear();
    for (const std::size_t size : {std::size_t{32}, std::size_t{64}, std::size_t{65}, std::size_t{100000}}) {
        SecretBytes fresh(size);
        EXPECT_EQ(fresh.View(), std::string(size, '\0')) << size;
        fresh.Data()[size - 1] = 'z';
        SecretBytes moved = std::move(fresh);
        EXPECT_TRUE(fresh.Empty());
        EXPECT_EQ(moved.View().back(), 'z');
        moved.Shrink(1);
        EXPECT_EQ(moved.View(), std::string(1, '\0'));
    }
}

} // namespace
} // namespace marrowick
