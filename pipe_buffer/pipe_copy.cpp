#include "pipe_buffer/pipe_copy.hpp"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "pipe_buffer/interrupt.hpp"

namespace qarel::pipe {
namespace {

// The bytes of one read, handed from the reader to the writer without copying.
struct Chunk {
    std::unique_ptr<std::byte[]> data;
    std::size_t size = 0;
};

// Reads until `size` bytes have arrived or the input has really ended (end of file or an
// error): a short read from a slow pipe or a terminal is not the end of input.
std::size_t read_fully(std::FILE* input, std::byte* data, std::size_t size) {
    std::size_t total = 0;
    while (total < size) {
        const std::size_t got = std::fread(data + total, 1, size - total, input);
        if (got == 0) break;
        total += got;
    }
    return total;
}

class PipeCopy {
public:
    PipeCopy(std::FILE* input, std::FILE* output, const PipeConfig& config)
        : input_(input), output_(output), config_(config) {}

    PipeOutcome run(const PipeLevelWatch* watch) {
        const auto start = std::chrono::steady_clock::now();
        std::thread reader([this] { guarded(&PipeCopy::read_input); });
        std::thread writer;
        try {
            writer = std::thread([this] { guarded(&PipeCopy::write_output); });
        } catch (const std::exception& error) {
            record_failure(error.what());
            reader.join();
            throw PipeSetupError(error.what());
        }
        if (watch != nullptr) report_levels_until_done(*watch, start);
        reader.join();
        writer.join();
        const auto end = std::chrono::steady_clock::now();
        if (std::fflush(output_) != 0) record_failure("failed to flush output stream");

        PipeOutcome outcome;
        outcome.stats = stats_;
        outcome.levels = levels();
        outcome.max_buffered_bytes = max_buffered_bytes_;
        outcome.prefill_released = prefill_released_;
        outcome.prefill_released_bytes = prefill_released_bytes_;
        outcome.release_reason = release_reason_;
        outcome.error = error_;
        outcome.duration_s = std::chrono::duration<double>(end - start).count();
        return outcome;
    }

private:
    // Any unexpected error inside a thread is recorded like any other failure.
    void guarded(void (PipeCopy::*body)()) {
        try {
            (this->*body)();
        } catch (const std::exception& error) {
            record_failure(error.what());
        } catch (...) {
            record_failure("unexpected error in copy thread");
        }
        {
            std::lock_guard lock(mutex_);
            ++finished_threads_;
        }
        thread_finished_.notify_all();
    }

    void report_levels_until_done(const PipeLevelWatch& watch, std::chrono::steady_clock::time_point start) {
        const auto interval = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
            std::chrono::duration<double>(watch.interval_s));
        auto due = start + interval;
        std::unique_lock lock(mutex_);
        while (!thread_finished_.wait_until(lock, due, [this] { return finished_threads_ == 2; })) {
            const PipeLevels now = levels();
            lock.unlock();
            watch.report(now);
            lock.lock();
            due = std::max(due + interval, std::chrono::steady_clock::now());
        }
    }

    // Called with the mutex held, or after both threads have ended.
    PipeLevels levels() const {
        return {stats_.bytes_in, stats_.bytes_out, buffered_bytes_, max_buffered_bytes_, input_stalls_,
                output_stalls_};
    }

    void read_input() {
        watch_input_descriptor(fileno(input_));
        const std::size_t chunk_bytes = config_.chunk_bytes;
        while (true) {
            Chunk chunk{std::make_unique_for_overwrite<std::byte[]>(chunk_bytes), 0};
            chunk.size = read_fully(input_, chunk.data.get(), chunk_bytes);
            const std::size_t n = chunk.size;
            if (n == 0) break;
            if (!enqueue(std::move(chunk))) break;
            if (n < chunk_bytes) break;  // a short read ends the input
        }
        if (std::ferror(input_)) record_failure("failed to read input stream");
        {
            std::lock_guard lock(mutex_);
            input_done_ = true;
            reader_blocked_ = false;
        }
        data_ready_.notify_all();
    }

    // Waits for room for the chunk and queues it; false once a failure has stopped the copy.
    bool enqueue(Chunk&& chunk) {
        const std::size_t n = chunk.size;
        {
            std::unique_lock lock(mutex_);
            if (!stopped_ && buffered_bytes_ + n > config_.buffer_bytes) ++input_stalls_;
            while (!stopped_ && buffered_bytes_ + n > config_.buffer_bytes) {
                reader_blocked_ = true;
                data_ready_.notify_one();
                space_ready_.wait(lock);
            }
            reader_blocked_ = false;
            if (stopped_) return false;
            buffered_bytes_ += n;
            if (buffered_bytes_ > max_buffered_bytes_) max_buffered_bytes_ = buffered_bytes_;
            chunks_.push_back(std::move(chunk));
            stats_.bytes_in += n;
            stats_.chunks_in += 1;
        }
        data_ready_.notify_one();
        return true;
    }

    void write_output() {
        std::unique_lock lock(mutex_);
        wait_for_prefill(lock);
        while (true) {
            if (!stopped_ && !input_done_ && chunks_.empty()) ++output_stalls_;
            data_ready_.wait(lock, [this] { return stopped_ || input_done_ || !chunks_.empty(); });
            // After a reader failure the queue is still drained; after a writer failure the
            // thread has already ended.
            if (chunks_.empty()) return;
            Chunk chunk = std::move(chunks_.front());
            chunks_.pop_front();
            buffered_bytes_ -= chunk.size;
            lock.unlock();
            space_ready_.notify_one();

            const std::size_t written = std::fwrite(chunk.data.get(), 1, chunk.size, output_);
            if (written != chunk.size || std::ferror(output_)) {
                record_failure("failed to write output stream");
                return;
            }
            chunk = {};
            lock.lock();
            stats_.bytes_out += written;
            stats_.chunks_out += 1;
        }
    }

    // Holds the writer back until the prefill amount is buffered, the input has ended, or
    // the reader cannot add more because the buffer is full.
    void wait_for_prefill(std::unique_lock<std::mutex>& lock) {
        const std::uint64_t prefill = config_.prefill_bytes;
        data_ready_.wait(lock, [&] {
            return stopped_ || input_done_ || reader_blocked_ || prefill == 0 || buffered_bytes_ >= prefill;
        });
        prefill_released_ = true;
        prefill_released_bytes_ = buffered_bytes_;
        if (prefill == 0) release_reason_ = "disabled";
        else if (buffered_bytes_ >= prefill) release_reason_ = "threshold";
        else if (input_done_) release_reason_ = "eof";
        else release_reason_ = "capacity";
    }

    // The first failure wins; both threads stop taking new work.
    void record_failure(const std::string& message) {
        {
            std::lock_guard lock(mutex_);
            if (error_.empty()) error_ = message;
            stopped_ = true;
            input_done_ = true;
        }
        data_ready_.notify_all();
        space_ready_.notify_all();
    }

    std::FILE* input_;
    std::FILE* output_;
    const PipeConfig& config_;

    std::mutex mutex_;
    std::condition_variable data_ready_;
    std::condition_variable space_ready_;
    std::deque<Chunk> chunks_;
    std::uint64_t buffered_bytes_ = 0;
    std::uint64_t max_buffered_bytes_ = 0;
    std::uint64_t prefill_released_bytes_ = 0;
    bool input_done_ = false;
    bool reader_blocked_ = false;
    bool prefill_released_ = false;
    bool stopped_ = false;
    int finished_threads_ = 0;
    std::condition_variable thread_finished_;
    std::uint64_t input_stalls_ = 0;
    std::uint64_t output_stalls_ = 0;
    std::string error_;
    std::string release_reason_ = "not-released";

    PipeStats stats_;
};

}  // namespace

PipeOutcome copy_through_buffer(std::FILE* input, std::FILE* output, const PipeConfig& config,
                                const PipeLevelWatch* watch) {
    return PipeCopy(input, output, config).run(watch);
}

}  // namespace qarel::pipe
