#include "machine/output_reader.hpp"

#include <new>

namespace vemlox::win {

namespace {

constexpr DWORD READ_CHUNK_BYTES = 64 * 1024;
// How long the output may still take to end after the child's job has ended.
constexpr DWORD READER_GRACE_MS = 5000;
constexpr DWORD CANCEL_RETRY_MS = 100;

} // namespace

// What the reading thread shares with its starter: neither outlives what the other still uses,
// whichever of them finishes first.
struct OutputReader::Drain {
    explicit Drain(UniqueHandle read_end) : pipe(std::move(read_end)) {}

    void read_to_end() {
        std::string chunk(READ_CHUNK_BYTES, '\0');
        for (;;) {
            DWORD read = 0;
            if (!ReadFile(pipe.get(), chunk.data(), READ_CHUNK_BYTES, &read, nullptr)) {
                const DWORD failed = GetLastError();
                // The child and every copy of its end are gone: the normal end of the output.
                if (failed != ERROR_BROKEN_PIPE) {
                    error = failed;
                }
                // After any other failure the child may still be writing: with our end closed its
                // writes fail instead of blocking on a full pipe while we wait for it to exit.
                pipe.reset();
                return;
            }
            if (error != ERROR_SUCCESS) {
                continue; // keep reading so the child never blocks on a full pipe
            }
            try {
                bytes.append(chunk.data(), read);
            } catch (const std::bad_alloc&) {
                error = ERROR_NOT_ENOUGH_MEMORY;
                bytes = std::string();
            }
        }
    }

    static DWORD WINAPI run(void* context) {
        const std::unique_ptr<std::shared_ptr<Drain>> shared(
            static_cast<std::shared_ptr<Drain>*>(context));
        (*shared)->read_to_end();
        return 0;
    }

    UniqueHandle pipe;
    std::string bytes;
    std::uint32_t error = ERROR_SUCCESS;
};

OutputReader::OutputReader(UniqueHandle read_end)
    : drain_(std::make_shared<Drain>(std::move(read_end))) {
    auto context = std::make_unique<std::shared_ptr<Drain>>(drain_);
    thread_.reset(CreateThread(nullptr, 0, &Drain::run, context.get(), 0, nullptr));
    if (!thread_) {
        start_error_ = GetLastError();
        drain_->pipe.reset();
        return;
    }
    static_cast<void>(context.release()); // the thread owns it now
}

Win32Result<std::string> OutputReader::finish() {
    if (!thread_) {
        return std::unexpected(start_error_);
    }
    DWORD wait_ms = READER_GRACE_MS;
    for (;;) {
        const DWORD waited = WaitForSingleObject(thread_.get(), wait_ms);
        if (waited == WAIT_OBJECT_0) {
            break;
        }
        if (waited != WAIT_TIMEOUT) {
            return last_error();
        }
        // Fails harmlessly when the thread is between two reads; the next round catches it.
        static_cast<void>(CancelSynchronousIo(thread_.get()));
        wait_ms = CANCEL_RETRY_MS;
    }
    VEMLOX_RETURN_IF_ERROR(status_result(drain_->error));
    return std::move(drain_->bytes);
}

} // namespace vemlox::win
