#pragma once

#include <sstream>
#include <string>
#include <vector>

#include "decoder/cli/run_driver.hpp"
#include "tests/support/test_support.hpp"

namespace qarel::cli::test {

inline const std::string kPrefix = "qarel_ldpc_bch_decode: ";

struct Outcome {
    int status = -1;
    std::string err;
};

// Runs the decoder in-process; element 0 of the argument vector is added here.
inline Outcome run_in_process(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "qarel_ldpc_bch_decode");
    std::ostringstream err;
    const int status = run_decoder(arguments, err);
    return {status, err.str()};
}

// Input and output files in a scratch directory, with the generated code of a rate.
class DecoderFiles {
public:
    explicit DecoderFiles(std::uint64_t rate = 3) : alist(qarel::test::generated_code_alist(rate)) {
        qarel::test::write_file(input, "");
    }

    // --fec-rate R --alist PATH INPUT OUTPUT followed by the extra arguments.
    std::vector<std::string> arguments(std::uint64_t rate, std::vector<std::string> extra = {}) const {
        std::vector<std::string> args{"--fec-rate", std::to_string(rate), "--alist", alist, input, output};
        args.insert(args.end(), extra.begin(), extra.end());
        return args;
    }

    qarel::test::TempDir dir;
    std::string alist;
    std::string input = dir.file("input.llr");
    std::string output = dir.file("output.ts");
};

}  // namespace qarel::cli::test
