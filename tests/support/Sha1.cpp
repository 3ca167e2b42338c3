#include "core/backup/Sha1.h"
#include "support/SampleBackup.h"

namespace marrowick::testing {

std::string Sha1Hex(const std::string& bytes) {
    Sha1Digest digest{};
    Sha1String(bytes, digest);
    return Sha1DigestHex(digest);
}

} // namespace marrowick::testing
