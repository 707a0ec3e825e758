#include "tests/support/test_support.hpp"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <csignal>
#include <cstring>
#include <utility>
#include <fstream>
#include <map>
#include <mutex>
#include <random>
#include <sstream>
#include <stdexcept>

#include "decoder/ldpc/fec_profile.hpp"
#include "tools/testgen/qc_code.hpp"

namespace qarel::test {

TempDir::TempDir() {
    std::random_device entropy;
    const auto base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        auto candidate = base / ("qarel-test-" + std::to_string(entropy()) + "-" + std::to_string(::getpid()));
        if (std::filesystem::create_directory(candidate)) {
            path_ = candidate;
            return;
        }
    }
    throw std::runtime_error("could not create a temporary directory");
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

void write_file(const std::string& path, const std::string& contents) {
    std::ofstream out(path, std::ios::binary);
    out << contents;
    if (!out) throw std::runtime_error("could not write " + path);
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream contents;
    contents << in.rdbuf();
    return contents.str();
}

namespace {

std::vector<char*> argv_of(std::vector<std::string>& strings) {
    std::vector<char*> argv;
    for (auto& s : strings) argv.push_back(s.data());
    argv.push_back(nullptr);
    return argv;
}

int wait_for_exit(int pid) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) throw std::runtime_error("waitpid failed");
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace

PipedProgram::PipedProgram(const std::string& executable, const std::vector<std::string>& arguments) {
    std::signal(SIGPIPE, SIG_IGN);  // a program that stops reading must not end the test
    std::vector<std::string> argv_strings{executable};
    argv_strings.insert(argv_strings.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv = argv_of(argv_strings);
    const std::string out_path = scratch_.file("stdout");
    const std::string err_path = scratch_.file("stderr");
    int pipe_ends[2];
    if (::pipe2(pipe_ends, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    pid_ = ::fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        const int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (out < 0 || err < 0) ::_exit(126);
        ::dup2(pipe_ends[0], 0);
        ::dup2(out, 1);
        ::dup2(err, 2);
        ::execv(executable.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(pipe_ends[0]);
    input_ = pipe_ends[1];
}

PipedProgram::~PipedProgram() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        wait_for_exit(pid_);
    }
    close_input();
}

bool PipedProgram::feed(const std::string& bytes) {
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(input_, bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        written += static_cast<std::size_t>(n);
    }
    return true;
}

void PipedProgram::close_input() {
    if (input_ >= 0) ::close(input_);
    input_ = -1;
}

void PipedProgram::send_signal(int signal) { ::kill(pid_, signal); }

ProgramResult PipedProgram::finish() {
    close_input();
    ProgramResult result;
    result.exit_status = wait_for_exit(std::exchange(pid_, -1));
    result.out = read_file(scratch_.file("stdout"));
    result.err = read_file(scratch_.file("stderr"));
    return result;
}

ProgramResult run_program(const std::string& executable, const std::vector<std::string>& arguments,
                          const std::string& stdin_data) {
    TempDir scratch;
    const std::string in_path = scratch.file("stdin");
    const std::string out_path = scratch.file("stdout");
    const std::string err_path = scratch.file("stderr");
    write_file(in_path, stdin_data);

    std::vector<std::string> argv_strings{executable};
    argv_strings.insert(argv_strings.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv = argv_of(argv_strings);

    const pid_t child = ::fork();
    if (child < 0) throw std::runtime_error("fork failed");
    if (child == 0) {
        const int in = ::open(in_path.c_str(), O_RDONLY);
        const int out = ::open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (in < 0 || out < 0 || err < 0) ::_exit(126);
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(err, 2);
        ::execv(executable.c_str(), argv.data());
        ::_exit(127);
    }
    ProgramResult result;
    result.exit_status = wait_for_exit(child);
    result.out = read_file(out_path);
    result.err = read_file(err_path);
    return result;
}

std::string llr_bytes(const std::vector<float>& values) {
    std::string bytes(values.size() * 4, '\0');
    for (std::size_t i = 0; i < values.size(); ++i) {
        std::uint32_t bits = 0;
        std::memcpy(&bits, &values[i], 4);
        for (int b = 0; b < 4; ++b) bytes[4 * i + b] = static_cast<char>((bits >> (8 * b)) & 0xffu);
    }
    return bytes;
}

std::string constant_llr_frames(std::uint64_t frames, std::uint64_t codewords_per_frame, float value) {
    return llr_bytes(std::vector<float>(frames * codewords_per_frame * ldpc::kTransmittedBits, value));
}

const std::string& generated_code_alist(std::uint64_t rate) {
    static std::mutex mutex;
    static TempDir directory;
    static std::map<std::uint64_t, std::string> paths;
    std::lock_guard lock(mutex);
    auto found = paths.find(rate);
    if (found != paths.end()) return found->second;

    const auto base = testgen::generate_dtmb_like_code({.rate = rate});
    const std::string path = directory.file("rate" + std::to_string(rate) + ".alist");
    std::ofstream out(path);
    testgen::write_alist(out, testgen::expand_base_matrix(base), base.variable_count());
    out.close();
    if (!out) throw std::runtime_error("could not write " + path);
    return paths.emplace(rate, path).first->second;
}

}  // namespace qarel::test
