#pragma once

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>

namespace qarel::cli {

// A C stream opened by the run (closed on destruction) or a borrowed standard stream.
class StreamHandle {
public:
    StreamHandle() = default;
    StreamHandle(std::FILE* file, bool owned) : file_(file), owned_(owned) {}
    StreamHandle(StreamHandle&& other) noexcept;
    StreamHandle& operator=(StreamHandle&& other) noexcept;
    StreamHandle(const StreamHandle&) = delete;
    StreamHandle& operator=(const StreamHandle&) = delete;
    ~StreamHandle();

    std::FILE* get() const { return file_; }
    bool is_open() const { return file_ != nullptr; }

    // Gives the handle's own file a buffer of `bytes`, kept until the file is closed; call it
    // before any output. Fewer, larger writes than the default of a few KiB.
    void give_buffer(std::size_t bytes);

    // Flushes and, for an owned file, closes it; false if any pending data could not be
    // written. The handle is empty afterwards.
    bool close();

private:
    std::FILE* file_ = nullptr;
    bool owned_ = false;
    std::unique_ptr<char[]> buffer_;
};

// "-" and "" name standard input; any other path is opened as a binary file.
StreamHandle open_binary_input(const std::string& path);
// "-" and "" name standard output; any other path is created or truncated. Either gets a
// 64 KiB buffer.
StreamHandle open_binary_output(const std::string& path);
// A text file created or truncated; "-" is an ordinary file name here.
StreamHandle open_text_output(const std::string& path);

bool is_standard_stream_path(const std::string& path);

// Switches a standard stream to binary mode where the platform translates newlines.
bool set_binary_mode(std::FILE* stream);

// Reads until `size` bytes have arrived or the stream ends or fails, so a slow producer's
// short reads never look like the end of input. Returns the number of bytes read.
std::size_t read_fully(std::FILE* stream, void* data, std::size_t size);

// Writes all bytes; false on any failure.
bool write_fully(std::FILE* stream, const void* data, std::size_t size);

}  // namespace qarel::cli
