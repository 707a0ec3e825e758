#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace qarel::test {

// Sanitizer builds run ten times slower: the heaviest randomised tests take fewer samples there.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
inline constexpr bool kSanitizedBuild = true;
#else
inline constexpr bool kSanitizedBuild = false;
#endif

// A fresh directory removed with everything in it when the object goes away.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

struct ProgramResult {
    int exit_status = -1;  // 128 + signal number when the program was killed by a signal
    std::string out;
    std::string err;
};

// Runs a program with the given arguments (not including argv[0]), feeding it stdin_data.
ProgramResult run_program(const std::string& executable, const std::vector<std::string>& arguments,
                          const std::string& stdin_data = "");

// A program fed through a real pipe by the test, as a live producer would feed it; its
// standard output and error go to files.
class PipedProgram {
public:
    PipedProgram(const std::string& executable, const std::vector<std::string>& arguments);
    ~PipedProgram();
    PipedProgram(const PipedProgram&) = delete;
    PipedProgram& operator=(const PipedProgram&) = delete;

    // Writes to the program's input; false once the program no longer reads it.
    bool feed(const std::string& bytes);
    void close_input();
    void send_signal(int signal);
    // Closes the input if still open and waits for the program to end.
    ProgramResult finish();

private:
    TempDir scratch_;
    int input_ = -1;
    int pid_ = -1;
};

void write_file(const std::string& path, const std::string& contents);
std::string read_file(const std::string& path);

// Little-endian float32 bytes of the given values, as the decoder reads them.
std::string llr_bytes(const std::vector<float>& values);
// `frames` FEC frames of `codewords_per_frame` codewords, every LLR equal to `value`.
std::string constant_llr_frames(std::uint64_t frames, std::uint64_t codewords_per_frame, float value = 1.0f);

// The message of the standard exception of type Error that `action` throws, or "no error".
template <typename Error = std::exception>
std::string error_message(const std::function<void()>& action) {
    try {
        action();
    } catch (const Error& error) {
        return error.what();
    }
    return "no error";
}

// Path of an alist file holding the generated test code of a rate (made once per process).
const std::string& generated_code_alist(std::uint64_t rate);

}  // namespace qarel::test
