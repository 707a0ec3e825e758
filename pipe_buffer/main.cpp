#include <chrono>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "pipe_buffer/interrupt.hpp"
#include "pipe_buffer/pipe_config.hpp"
#include "pipe_buffer/pipe_copy.hpp"
#include "pipe_buffer/pipe_report.hpp"

namespace {

using qarel::pipe::PipeSetupError;

// A C stream the program opened (closed here) or a borrowed standard stream.
class Stream {
public:
    Stream(std::FILE* file, bool owned) : file_(file), owned_(owned) {}
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;
    ~Stream() { close(); }

    std::FILE* get() const { return file_; }

    // Flushes, and closes a file the program opened; false if that failed.
    bool close() {
        if (file_ == nullptr) return true;
        std::FILE* file = file_;
        file_ = nullptr;
        bool ok = std::fflush(file) == 0 && std::ferror(file) == 0;
        if (owned_) ok = (std::fclose(file) == 0) && ok;
        return ok;
    }

private:
    std::FILE* file_;
    bool owned_;
};

// Binary mode is the only mode on this platform; elsewhere the standard streams would be
// switched here.
bool set_binary_mode(std::FILE*) { return true; }

std::unique_ptr<Stream> open_input(const std::string& path) {
    if (path == "-" && !set_binary_mode(stdin)) throw PipeSetupError("failed to set stdin to binary mode");
    if (path.empty() || path == "-") return std::make_unique<Stream>(stdin, false);
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) throw PipeSetupError("failed to open input: " + path);
    return std::make_unique<Stream>(file, true);
}

std::unique_ptr<Stream> open_output(const std::string& path) {
    if (path == "-" && !set_binary_mode(stdout)) throw PipeSetupError("failed to set stdout to binary mode");
    std::FILE* file = path == "-" ? stdout : std::fopen(path.c_str(), "wb");
    if (file == nullptr) throw PipeSetupError("failed to open output: " + path);
    // Every write is one whole chunk, so stdio buffering would only add a copy and hide a
    // write failure until the final flush.
    std::setvbuf(file, nullptr, _IONBF, 0);
    return std::make_unique<Stream>(file, path != "-");
}

// A text stream for the report or the status lines: "-" is standard error.
std::unique_ptr<Stream> open_text_stream(const std::string& path, const char* what) {
    if (path == "-") return std::make_unique<Stream>(stderr, false);
    std::FILE* file = std::fopen(path.c_str(), "w");
    if (file == nullptr) throw PipeSetupError(std::string("failed to open ") + what + ": " + path);
    return std::make_unique<Stream>(file, true);
}

// Writes the status lines; the first failed write ends them and is reported after the copy,
// which goes on: the data matters more than the lines about it.
class StatusLines {
public:
    explicit StatusLines(std::FILE* file) : file_(file) {}

    void write(const qarel::pipe::PipeLevels& levels, double seconds, bool final) {
        const std::string line = qarel::pipe::format_pipe_status(levels, seconds, before_, before_seconds_, final);
        before_ = levels;
        before_seconds_ = seconds;
        if (failed_) return;
        failed_ = std::fwrite(line.data(), 1, line.size(), file_) != line.size() || std::fflush(file_) != 0;
    }
    bool failed() const { return failed_; }

private:
    std::FILE* file_;
    qarel::pipe::PipeLevels before_;
    double before_seconds_ = 0.0;
    bool failed_ = false;
};

int run(const std::vector<std::string>& arguments) {
    const qarel::pipe::PipeConfig config = qarel::pipe::parse_pipe_arguments(arguments);
    auto input = open_input(config.input_path);
    auto output = open_output(config.output_path);
    std::unique_ptr<Stream> status_stream;
    std::optional<StatusLines> status;
    if (config.status_enabled) {
        status_stream = open_text_stream(config.status_path, "status output");
        status.emplace(status_stream->get());
    }

    const auto start = std::chrono::steady_clock::now();
    const auto seconds_since_start = [&] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    };
    qarel::pipe::PipeLevelWatch watch{config.status_interval_s, [&](const qarel::pipe::PipeLevels& levels) {
                                          status->write(levels, seconds_since_start(), false);
                                      }};
    qarel::pipe::PipeOutcome outcome =
        qarel::pipe::copy_through_buffer(input->get(), output->get(), config, status ? &watch : nullptr);
    if (!output->close() && outcome.error.empty()) outcome.error = "failed to flush output stream";
    input->close();
    if (status) status->write(outcome.levels, seconds_since_start(), true);

    auto diagnostics = open_text_stream(config.diagnostics_path, "diagnostics output");
    const std::string report = qarel::pipe::format_pipe_report(config, outcome);
    const bool written = std::fwrite(report.data(), 1, report.size(), diagnostics->get()) == report.size();
    if (!diagnostics->close() || !written) throw PipeSetupError("failed to write diagnostics output");
    if (status && (status->failed() || !status_stream->close())) {
        std::cerr << "qarel_pipe_buffer: failed to write status stream\n";
        return 1;
    }
    if (!outcome.error.empty()) return 1;
    const int signal = qarel::pipe::interrupt_signal();
    return signal == 0 ? 0 : 128 + signal;
}

}  // namespace

int main(int argc, char** argv) {
#ifdef SIGPIPE
    // A reader that closes the pipe early must surface as a failed write, not kill the process.
    std::signal(SIGPIPE, SIG_IGN);
#endif
    const std::string program = argc > 0 ? argv[0] : "qarel_pipe_buffer";
    const std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
    if (arguments.size() == 1 && arguments[0] == "--version") {
        std::cout << "qarel_pipe_buffer " QAREL_VERSION "\nbuild: " QAREL_BUILD_TYPE "\n" << std::flush;
        return std::cout ? 0 : 1;
    }
    qarel::pipe::install_interrupt_handlers();
    try {
        return run(arguments);
    } catch (const qarel::pipe::HelpRequested&) {
        std::cerr << qarel::pipe::pipe_usage_line(program);
        return 0;
    } catch (const std::exception& error) {
        std::cerr << "qarel_pipe_buffer: " << error.what() << '\n' << qarel::pipe::pipe_usage_line(program);
        return 2;
    }
}
