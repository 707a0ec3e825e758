// Whole decoder runs on any LLR bytes: the first bytes choose the framing, the selection,
// emission, retry and scaling options and how many frames the rest of the bytes fill (tiled,
// so short inputs still make whole frames, with a partial frame at the end when asked). Each
// input is decoded twice, with different worker counts and batch sizes, which must give the
// same exit status, output and messages.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "decoder/cli/run_driver.hpp"
#include "fuzz/fuzz_input.hpp"
#include "tools/testgen/qc_code.hpp"

namespace {

struct Scratch {
    std::filesystem::path dir;
    std::string alist, input, output, provenance, diagnostics, status;
};

// A small code with the decoder's 7493 columns: a few dozen short checks, some through the
// erased parity bits, so decoding is fast and both converging and failing inputs are common.
std::string write_thin_code(const std::filesystem::path& path) {
    qarel::ldpc::CheckRows rows;
    for (std::uint64_t r = 0; r < 40; ++r) {
        for (const std::uint64_t v : {5 + r, 200 + 3 * r, 1397 + 11 * r, 4000 + 7 * r}) rows.variables.push_back(v);
        if (r % 8 == 0) rows.variables.push_back(r / 8);
        rows.end_row();
    }
    std::ofstream out(path);
    qarel::testgen::write_alist(out, rows, 7493);
    return path.string();
}

const Scratch& scratch() {
    static const Scratch s = [] {
        Scratch made;
        made.dir = std::filesystem::temp_directory_path() / ("qarel_fuzz_run_" + std::to_string(::getpid()));
        std::filesystem::create_directories(made.dir);
        made.alist = write_thin_code(made.dir / "thin.alist");
        made.input = (made.dir / "in.llr").string();
        made.output = (made.dir / "out.ts").string();
        made.provenance = (made.dir / "rows.jsonl").string();
        made.diagnostics = (made.dir / "frames.jsonl").string();
        made.status = (made.dir / "status.jsonl").string();
        std::atexit([] { std::filesystem::remove_all(scratch().dir); });
        return made;
    }();
    return s;
}

std::string read_all(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::vector<std::string> options_from(qarel::fuzz::FuzzInput& in, const std::string& status_path,
                                      std::uint64_t& frame_llrs, bool& qam32) {
    std::vector<std::string> args;
    const auto add = [&](std::initializer_list<std::string> words) { args.insert(args.end(), words); };
    const std::uint64_t rate = 1 + in.below(3);
    add({"--fec-rate", std::to_string(rate)});
    std::uint64_t codewords = 1 + in.below(2);
    qam32 = false;
    switch (in.below(4)) {
        case 1: add({"--qam", "16qam"}); codewords = 2; break;
        case 2:
            add({"--qam", "32qam", "--qam32-frame-phase", in.flag() ? "auto" : (in.flag() ? "1" : "0")});
            codewords = 5;
            qam32 = true;
            break;
        default: add({"--codewords-per-frame", std::to_string(codewords)}); break;
    }
    frame_llrs = codewords * 7488;
    add({"--max-iterations", std::to_string(1 + in.below(4))});
    const std::uint8_t modes = in.byte();
    if (modes & 1u) add({"--clean-frames-only"});
    if ((modes & 3u) == 3u) add({"--emit-clean-codewords"});
    if ((modes & 7u) == 7u) add({"--emit-bch-clean-packets"});
    if (modes & 8u) add({"--mark-discontinuities"});
    if (modes & 16u) add({"--insert-discontinuity-packets"});
    if (modes & 32u) add({"--early-syndrome-reject-ratio", std::to_string(in.below(11) / 10.0)});
    if (modes & 64u) add({"--llr-clip", std::to_string(0.5 + in.below(8))});
    if (modes & 128u) add({"--frame-index-offset", std::to_string(in.below(20))});
    const std::uint8_t selection = in.byte();
    if (selection & 1u) add({"--force-frame-range", std::to_string(1 + in.below(4)) + ":" + std::to_string(1 + in.below(6))});
    if (selection & 2u) add({"--omit-frame-range", std::to_string(1 + in.below(4)) + ":" + std::to_string(1 + in.below(6))});
    if (selection & 4u) add({"--select-mode2-source-frame-window", "0:" + std::to_string(in.below(30))});
    if ((selection & 8u) && !qam32) {
        add({"--hard-h-gate-window-codewords", std::to_string(codewords * (1 + in.below(3))),
             "--hard-h-gate-step-codewords", std::to_string(codewords), "--hard-h-gate-threshold",
             std::to_string(in.below(5) / 4.0), "--hard-h-gate-fill-max-gap-frames", std::to_string(in.below(3))});
    }
    if (selection & 16u) add({"--retry-layered", "--retry-max-iterations", "2"});
    if (selection & 32u) add({"--retry-qam-plane", std::to_string(in.below(6)), "--retry-final-failed-greedy-flip-count", "3"});
    if ((selection & 64u) && !qam32)
        add({"--retry-final-failed-syndrome-solve-count", std::to_string(1 + in.below(40)),
             "--retry-require-ts-packet-continuity", "--retry-final-failed-syndrome-solve-nullspace-search", "4"});
    if (selection & 128u) add({"--llr-scale-codeword", "1:3:0:" + std::to_string(in.below(3))});
    const std::uint8_t live = in.byte();
    if (live & 1u) add({"--mark-transport-errors"});
    if (live & 2u) add({"--nonfinite-llrs", "erase"});
    if (live & 4u) add({"--status-out", status_path, "--status-interval", "0.01"});
    return args;
}

std::string llr_bytes_from(qarel::fuzz::FuzzInput& in, std::uint64_t frame_llrs) {
    const std::uint64_t frames = in.below(3);
    const std::uint64_t tail = in.flag() ? in.below(64) : 0;
    std::string pattern = in.rest();
    if (pattern.empty()) pattern.assign(4, '\0');
    std::string bytes(frames * frame_llrs * 4 + tail, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = pattern[i % pattern.size()];
    return bytes;
}

struct RunResult {
    int status;
    std::string output;
    std::string err;
};

RunResult run(std::vector<std::string> arguments) {
    const Scratch& s = scratch();
    arguments.insert(arguments.begin(), "qarel_ldpc_bch_decode");
    std::ostringstream err;
    const int status = qarel::cli::run_decoder(arguments, err);
    return {status, read_all(s.output), err.str()};
}

// The summary's timing lines and the settings that differ between the two runs.
std::string without_timings(const std::string& err) {
    std::istringstream lines(err);
    std::string kept;
    for (std::string line; std::getline(lines, line);) {
        const auto key = line.substr(0, line.find('='));
        if (key.size() > 3 && key.compare(key.size() - 3, 3, "_ms") == 0) continue;
        if (key == "worker_count" || key == "decode_batch_frames") continue;
        kept += line + '\n';
    }
    return kept;
}

// What differed between the two runs, for the crash report.
void report_difference(const std::vector<std::string>& arguments, const RunResult& a, const RunResult& b) {
    std::fprintf(stderr, "runs differ:");
    for (const auto& argument : arguments) std::fprintf(stderr, " %s", argument.c_str());
    std::fprintf(stderr, "\nstatus %d / %d, output %zu / %zu bytes%s\n--- first run\n%s--- second run\n%s", a.status,
                 b.status, a.output.size(), b.output.size(), a.output == b.output ? " (equal)" : "",
                 without_timings(a.err).c_str(), without_timings(b.err).c_str());
}

}  // namespace

// The lane kernels' working memory grows with the 7493 columns, not with the thin code's few
// edges, so the plain decoder makes a run far cheaper here; every kernel gives the same
// results (tested on their own), and QAREL_LDPC_KERNEL may name another.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    ::setenv("QAREL_LDPC_KERNEL", "plain", 0);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Scratch& s = scratch();
    qarel::fuzz::FuzzInput in(data, size);
    std::uint64_t frame_llrs = 0;
    bool qam32 = false;
    std::vector<std::string> options = options_from(in, s.status, frame_llrs, qam32);
    {
        std::ofstream input(s.input, std::ios::binary);
        const std::string bytes = llr_bytes_from(in, frame_llrs);
        input.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    options.insert(options.end(), {"--alist", s.alist, "--packet-provenance-out", s.provenance,
                                   "--frame-diagnostics-out", s.diagnostics, "--failed-variable-diagnostics-top", "2",
                                   s.input, s.output});
    auto first = options, second = options;
    first.insert(first.end(), {"--workers", "1", "--decode-batch-frames", "1"});
    second.insert(second.end(), {"--workers", "3", "--decode-batch-frames", "4"});
    const RunResult a = run(first);
    const std::string diagnostics = read_all(s.diagnostics);
    const RunResult b = run(second);
    if (a.status < 0 || a.status > 2) std::abort();
    if (a.status != b.status || a.output != b.output || without_timings(a.err) != without_timings(b.err) ||
        diagnostics != read_all(s.diagnostics)) {
        report_difference(first, a, b);
        std::abort();
    }
    if (a.output.size() % 188 != 0) std::abort();
    if (a.status == 0 && a.err.find("\nframes=") == std::string::npos && a.err.rfind("frames=", 0) != 0) std::abort();
    return 0;
}
