#include "decoder/cli/streams.hpp"

#include <utility>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace qarel::cli {

StreamHandle::StreamHandle(StreamHandle&& other) noexcept
    : file_(std::exchange(other.file_, nullptr)), owned_(other.owned_), buffer_(std::move(other.buffer_)) {}

StreamHandle& StreamHandle::operator=(StreamHandle&& other) noexcept {
    if (this != &other) {
        close();
        file_ = std::exchange(other.file_, nullptr);
        owned_ = other.owned_;
        buffer_ = std::move(other.buffer_);
    }
    return *this;
}

StreamHandle::~StreamHandle() { close(); }

bool StreamHandle::close() {
    if (file_ == nullptr) return true;
    std::FILE* file = std::exchange(file_, nullptr);
    const bool flushed = std::fflush(file) == 0 && std::ferror(file) == 0;
    if (!owned_) return flushed;
    const bool closed = std::fclose(file) == 0;
    buffer_.reset();  // only once the file that used it is gone
    return flushed && closed;
}

void StreamHandle::give_buffer(std::size_t bytes) {
    if (file_ == nullptr || !owned_) return;
    buffer_ = std::make_unique_for_overwrite<char[]>(bytes);
    if (std::setvbuf(file_, buffer_.get(), _IOFBF, bytes) != 0) buffer_.reset();
}

bool is_standard_stream_path(const std::string& path) { return path.empty() || path == "-"; }

StreamHandle open_binary_input(const std::string& path) {
    if (is_standard_stream_path(path)) return {stdin, false};
    return {std::fopen(path.c_str(), "rb"), true};
}

namespace {

constexpr std::size_t kOutputBufferBytes = std::size_t{1} << 16;

// Standard output outlives every handle, so its buffer lasts as long as the process; it is
// given once, on first use.
void buffer_standard_output() {
    static char buffer[kOutputBufferBytes];
    static const bool given = std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer) == 0;
    static_cast<void>(given);
}

}  // namespace

StreamHandle open_binary_output(const std::string& path) {
    if (is_standard_stream_path(path)) {
        buffer_standard_output();
        return {stdout, false};
    }
    StreamHandle handle(std::fopen(path.c_str(), "wb"), true);
    handle.give_buffer(kOutputBufferBytes);
    return handle;
}

StreamHandle open_text_output(const std::string& path) { return {std::fopen(path.c_str(), "w"), true}; }

bool set_binary_mode([[maybe_unused]] std::FILE* stream) {
#ifdef _WIN32
    return _setmode(_fileno(stream), _O_BINARY) != -1;
#else
    return true;
#endif
}

std::size_t read_fully(std::FILE* stream, void* data, std::size_t size) {
    auto* bytes = static_cast<unsigned char*>(data);
    std::size_t total = 0;
    while (total < size) {
        const std::size_t got = std::fread(bytes + total, 1, size - total, stream);
        total += got;
        if (got == 0) break;  // fread only comes back empty at end of input or on an error
    }
    return total;
}

bool write_fully(std::FILE* stream, const void* data, std::size_t size) {
    return size == 0 || std::fwrite(data, 1, size, stream) == size;
}

}  // namespace qarel::cli
