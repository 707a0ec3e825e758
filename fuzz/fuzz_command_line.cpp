// Any argument vector (words separated by NUL bytes) through parsing, the rule syntaxes and
// validation, then through what is built from an accepted command line: the retry plan, its
// branch window sets and frame selection membership.
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include "decoder/cli/command_line.hpp"
#include "decoder/cli/frame_selection.hpp"
#include "decoder/retry/codeword_retries.hpp"
#include "decoder/retry/retry_plan.hpp"
#include "fuzz/fuzz_input.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace qarel;
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const auto arguments = fuzz::argument_vector("qarel_ldpc_bch_decode", bytes);
    options::RunOptions options;
    try {
        options = cli::parse_command_line(arguments);
    } catch (const cli::UsageExit& exit) {
        if (exit.exit_status() != 0 && exit.exit_status() != 2) std::abort();
        return 0;
    } catch (const std::invalid_argument& error) {
        if (std::string(error.what()).empty()) std::abort();
        return 0;
    } catch (const std::out_of_range& error) {
        const std::string message = error.what();
        if (message != "stoull argument out of range" && message != "stof argument out of range" &&
            message != "stod argument out of range")
            std::abort();
        return 0;
    } catch (const std::runtime_error& error) {
        if (std::string(error.what()).empty()) std::abort();
        return 0;
    }
    const retry::RetryPlan plan = retry::build_retry_plan(options);
    if (plan.retry_enabled != options.retry_enabled) std::abort();
    for (const std::uint64_t frame : {std::uint64_t{1}, std::uint64_t{11}, std::uint64_t{1000},
                                      options.frame_index_offset + 1, UINT64_MAX}) {
        const auto sets = retry::branch_window_sets(plan, frame);
        if (sets.empty() || !sets.front().empty()) std::abort();
        for (const auto& set : sets)
            for (const auto& window : set)
                if (window.first > window.last) std::abort();
        (void)cli::mode2_source_frame_selected(options, frame);
        (void)cli::frame_in_ranges(options.force_frame_ranges, frame);
    }
    return 0;
}
