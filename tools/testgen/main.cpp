// qarel_dtmb_testgen: makes test material for the decoder. Subcommands:
//   code --rate 1|2|3 [--seed N] [--message-column-weight N] [--out PATH]
//     writes a DTMB-shaped quasi-cyclic LDPC code as an alist file (standard output by default).
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "tools/testgen/qc_code.hpp"

namespace {

constexpr const char* kUsage =
    "usage: qarel_dtmb_testgen code --rate 1|2|3 [--seed N] [--message-column-weight N] [--out PATH]\n";

class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

std::uint64_t parse_count(const std::string& option, const std::string& text) {
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text.c_str(), &end, 10);
    if (text.empty() || text[0] == '-' || *end != '\0') throw UsageError(option + " needs a whole number: " + text);
    return value;
}

int run_code(const std::vector<std::string>& args) {
    qarel::testgen::QcCodeOptions options;
    options.rate = 0;
    std::string out_path = "-";
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& option = args[i];
        if (i + 1 >= args.size()) throw UsageError(option + " needs a value");
        const std::string& value = args[++i];
        if (option == "--rate") options.rate = parse_count(option, value);
        else if (option == "--seed") options.seed = parse_count(option, value);
        else if (option == "--message-column-weight") options.message_column_weight = parse_count(option, value);
        else if (option == "--out") out_path = value;
        else throw UsageError("unknown option: " + option);
    }
    if (options.rate == 0) throw UsageError("--rate is required");

    const auto base = qarel::testgen::generate_dtmb_like_code(options);
    const auto rows = qarel::testgen::expand_base_matrix(base);
    if (out_path == "-") {
        qarel::testgen::write_alist(std::cout, rows, base.variable_count());
        std::cout.flush();
        if (!std::cout) throw std::runtime_error("failed to write alist to standard output");
        return 0;
    }
    std::ofstream out(out_path);
    if (!out) throw std::runtime_error("failed to open output: " + out_path);
    qarel::testgen::write_alist(out, rows, base.variable_count());
    out.close();
    if (!out) throw std::runtime_error("failed to write alist: " + out_path);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + std::min(argc, 1), argv + argc);
    try {
        if (args.empty() || args[0] == "-h" || args[0] == "--help") {
            std::cerr << kUsage;
            return args.empty() ? 2 : 0;
        }
        if (args[0] == "code") return run_code({args.begin() + 1, args.end()});
        throw UsageError("unknown command: " + args[0]);
    } catch (const UsageError& error) {
        std::cerr << "qarel_dtmb_testgen: " << error.what() << '\n' << kUsage;
        return 2;
    } catch (const std::exception& error) {
        std::cerr << "qarel_dtmb_testgen: " << error.what() << '\n';
        return 1;
    }
}
