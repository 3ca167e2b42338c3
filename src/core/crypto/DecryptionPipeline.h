#pragma once

#include "core/crypto/FileDecryptor.h"
#include "core/platform/Result.h"

#include <cstddef>
#include <memory>
#include <vector>

namespace marrowick {

// Decrypts a large stored file on the calling thread while a second thread writes what is already decrypted, so
// that copying into the process and out of it overlap. Keeps its buffers from file to file.
class DecryptionPipeline final {
public:
    // Reads in to its end, decrypting with decryptor, and writes the content to out. Fails at step Write with the
    // errno of a read or a write, or as the decryptor's Finish does; a failed write stops the reading.
    [[nodiscard]] Result<void> Run(FileDecryptor& decryptor, int in, int out);

    struct Chunk {
        std::unique_ptr<unsigned char[]> Bytes;
        std::size_t Length = 0;
    };

private:
    std::unique_ptr<char[]> cipher_;
    std::vector<Chunk> chunks_;
};

} // namespace marrowick
