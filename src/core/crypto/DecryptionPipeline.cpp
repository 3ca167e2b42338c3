#include "core/crypto/DecryptionPipeline.h"

#include "core/platform/FileCopy.h"

#include <cerrno>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>

namespace marrowick {
namespace {

constexpr std::size_t ChunkBytes = std::size_t{1} << 20;
// Enough for the reader to run ahead while a write waits on the disk.
constexpr std::size_t ChunkCount = 4;

using Chunk = DecryptionPipeline::Chunk;

// Chunks on their way from the decrypting thread to the writing one, and back once written.
class ChunkQueue final {
public:
    explicit ChunkQueue(std::vector<Chunk>& chunks) {
        for (Chunk& chunk : chunks) {
            free_.push_back(&chunk);
        }
    }

    // A chunk to fill; null once a write failed.
    [[nodiscard]] Chunk* TakeFree() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return !free_.empty() || writeError_ != 0; });
        if (writeError_ != 0) {
            return nullptr;
        }
        Chunk* chunk = free_.front();
        free_.pop_front();
        return chunk;
    }

    void PutFilled(Chunk& chunk) {
        const std::scoped_lock lock(mutex_);
        filled_.push_back(&chunk);
        changed_.notify_all();
    }

    // No chunk follows: the writing ends once the queue is empty.
    void Close() {
        const std::scoped_lock lock(mutex_);
        closed_ = true;
        changed_.notify_all();
    }

    // Writes the filled chunks in order until the queue is closed and empty, or a write fails.
    void WriteTo(int out) {
        for (;;) {
            Chunk* chunk = nullptr;
            {
                std::unique_lock lock(mutex_);
                changed_.wait(lock, [this] { return !filled_.empty() || closed_; });
                if (filled_.empty()) {
                    return;
                }
                chunk = filled_.front();
                filled_.pop_front();
            }
            const int error = WriteAll(out, reinterpret_cast<const char*>(chunk->Bytes.get()), chunk->Length);
            const std::scoped_lock lock(mutex_);
            free_.push_back(chunk);
            writeError_ = error;
            changed_.notify_all();
            if (error != 0) {
                return;
            }
        }
    }

    [[nodiscard]] int WriteError() {
        const std::scoped_lock lock(mutex_);
        return writeError_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Chunk*> free_;
    std::deque<Chunk*> filled_;
    bool closed_ = false;
    int writeError_ = 0;
};

// Reads, decrypts and queues chunks until the file's end (its last plaintext bytes included) or a failure.
Result<void> DecryptInto(ChunkQueue& queue, FileDecryptor& decryptor, int in, char* cipher) {
    for (;;) {
        Chunk* chunk = queue.TakeFree();
        if (chunk == nullptr) {
            return {}; // the write's failure is told
        }
        const ssize_t got = ReadSome(in, cipher, ChunkBytes);
        if (got < 0) {
            return Failure::System(FailureStep::Write, {}, errno);
        }
        const Result<std::size_t> length =
            got == 0 ? decryptor.Finish(chunk->Bytes.get())
                     : decryptor.Update({cipher, static_cast<std::size_t>(got)}, chunk->Bytes.get());
        if (!length) {
            return length.Error();
        }
        chunk->Length = *length;
        queue.PutFilled(*chunk);
        if (got == 0) {
            return {};
        }
    }
}

} // namespace

Result<void> DecryptionPipeline::Run(FileDecryptor& decryptor, int in, int out) {
    if (!cipher_) {
        // Not zeroed: every byte written out was decrypted into them first.
        cipher_ = std::make_unique_for_overwrite<char[]>(ChunkBytes);
        chunks_.resize(ChunkCount);
        for (Chunk& chunk : chunks_) {
            chunk.Bytes = std::make_unique_for_overwrite<unsigned char[]>(ChunkBytes + FileDecryptor::BlockSize);
        }
    }
    ChunkQueue queue(chunks_);
    Result<void> decrypted;
    try {
        const std::jthread writer([&queue, out] { queue.WriteTo(out); });
        decrypted = DecryptInto(queue, decryptor, in, cipher_.get());
        queue.Close();
    } catch (const std::system_error& error) {
        return Failure::System(FailureStep::Write, {}, error.code().value());
    }
    if (!decrypted) {
        return decrypted;
    }
    if (const int error = queue.WriteError(); error != 0) {
        return Failure::System(FailureStep::Write, {}, error);
    }
    return {};
}

} // namespace marrowick
