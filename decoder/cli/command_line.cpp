#include "decoder/cli/command_line.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <ostream>

#include "decoder/cli/numeric.hpp"
#include "decoder/cli/rules.hpp"
#include "decoder/ldpc/fec_profile.hpp"

namespace qarel::cli {
namespace {

using ValueHandler = void (*)(RunOptions&, const std::string&);
using FlagHandler = bool RunOptions::*;

struct OptionSpec {
    std::string_view name;
    ValueHandler on_value = nullptr;  // value-taking option
    FlagHandler flag = nullptr;       // flag option
};

template <typename Rule, typename Parse>
void append(std::vector<Rule>& list, const std::string& text, Parse parse) {
    list.push_back(parse(text));
}

// In the order the parser tests them; names are matched whole.
const std::array kOptions = std::to_array<OptionSpec>({
    {"--fec-rate", [](RunOptions& o, const std::string& v) { o.fec_rate = parse_unsigned(v, "fec rate"); }},
    {"--alist", [](RunOptions& o, const std::string& v) { o.alist_path = v; }},
    {"--codewords-per-frame",
     [](RunOptions& o, const std::string& v) {
         o.codewords_per_frame = parse_unsigned(v, "codewords per frame");
         o.codewords_per_frame_given = true;
     }},
    {"--qam", [](RunOptions& o, const std::string& v) { o.qam = parse_qam_mode(v); }},
    {"--qam32-frame-phase", [](RunOptions& o, const std::string& v) { o.qam32_frame_phase = v; }},
    {"--workers", [](RunOptions& o, const std::string& v) { o.workers = parse_unsigned(v, "worker count"); }},
    {"--max-iterations",
     [](RunOptions& o, const std::string& v) { o.max_iterations = parse_unsigned(v, "max iterations"); }},
    {"--retry-max-iterations",
     [](RunOptions& o, const std::string& v) {
         o.retry_max_iterations_option = parse_unsigned(v, "retry max iterations");
     }},
    {"--attenuation", [](RunOptions& o, const std::string& v) { o.attenuation = parse_float(v, "attenuation"); }},
    {"--llr-clip", [](RunOptions& o, const std::string& v) { o.llr_clip = parse_float(v, "LLR clip"); }},
    {"--ldpc-accel", [](RunOptions& o, const std::string& v) { o.ldpc_accel = parse_ldpc_accel(v); }},
    {"--retry-llr-clip",
     [](RunOptions& o, const std::string& v) { o.retry_llr_clips.push_back(parse_float(v, "retry LLR clip")); }},
    {"--retry-llr-scale",
     [](RunOptions& o, const std::string& v) { o.retry_llr_scales.push_back(parse_float(v, "retry LLR scale")); }},
    {"--retry-weak-erase-fraction",
     [](RunOptions& o, const std::string& v) {
         o.retry_weak_erase_fractions.push_back(parse_float(v, "retry weak erase fraction"));
     }},
    {"--retry-attenuation",
     [](RunOptions& o, const std::string& v) {
         o.retry_attenuations.push_back(parse_float(v, "retry attenuation"));
     }},
    {"--retry-unsatisfied-erase-count",
     [](RunOptions& o, const std::string& v) {
         o.retry_unsatisfied_erase_counts.push_back(parse_unsigned(v, "retry unsatisfied erase count"));
     }},
    {"--retry-final-failed-erase-count",
     [](RunOptions& o, const std::string& v) {
         o.retry_final_failed_erase_counts.push_back(parse_unsigned(v, "retry final failed erase count"));
     }},
    {"--retry-final-failed-flip-count",
     [](RunOptions& o, const std::string& v) {
         o.retry_final_failed_flip_counts.push_back(parse_unsigned(v, "retry final failed flip count"));
     }},
    {"--retry-final-failed-greedy-flip-count",
     [](RunOptions& o, const std::string& v) {
         o.retry_final_failed_greedy_flip_counts.push_back(parse_unsigned(v, "retry final failed greedy flip count"));
     }},
    {"--retry-final-failed-syndrome-solve-count",
     [](RunOptions& o, const std::string& v) {
         o.retry_final_failed_syndrome_solve_counts.push_back(
             parse_unsigned(v, "retry final failed syndrome solve count"));
     }},
    {"--retry-final-failed-syndrome-solve-minimize-cost-passes",
     [](RunOptions& o, const std::string& v) {
         o.retry_final_failed_syndrome_solve_minimize_cost_passes =
             parse_unsigned(v, "retry final failed syndrome solve minimize cost passes");
     }},
    {"--retry-final-failed-syndrome-solve-nullspace-search",
     [](RunOptions& o, const std::string& v) {
         o.retry_final_failed_syndrome_solve_nullspace_search =
             parse_unsigned(v, "retry final failed syndrome solve nullspace search count");
     }},
    {"--retry-final-failed-syndrome-solve-nullspace-depth",
     [](RunOptions& o, const std::string& v) {
         o.retry_final_failed_syndrome_solve_nullspace_depth =
             parse_unsigned(v, "retry final failed syndrome solve nullspace depth");
     }},
    {"--retry-final-failed-syndrome-solve-ts-continuity-headers", nullptr,
     &RunOptions::retry_final_failed_syndrome_solve_ts_continuity_headers},
    {"--retry-final-failed-syndrome-solve-ts-continuity-header-templates", nullptr,
     &RunOptions::retry_final_failed_syndrome_solve_ts_continuity_header_templates},
    {"--retry-final-failed-syndrome-solve-ts-header-template",
     [](RunOptions& o, const std::string& v) {
         append(o.retry_final_failed_syndrome_solve_ts_header_templates, v, parse_ts_header_template);
     }},
    {"--retry-qam-plane",
     [](RunOptions& o, const std::string& v) { o.retry_qam_planes.push_back(parse_unsigned(v, "retry QAM plane")); }},
    {"--retry-variable-range",
     [](RunOptions& o, const std::string& v) { append(o.retry_variable_ranges, v, parse_variable_range); }},
    {"--retry-branch-window",
     [](RunOptions& o, const std::string& v) { append(o.retry_branch_windows, v, parse_branch_window); }},
    {"--retry-branch-window-group",
     [](RunOptions& o, const std::string& v) { append(o.retry_branch_window_groups, v, parse_branch_window_group); }},
    {"--retry-branch-window-sweep",
     [](RunOptions& o, const std::string& v) {
         const auto windows = parse_branch_window_sweep(v);
         o.retry_branch_windows.insert(o.retry_branch_windows.end(), windows.begin(), windows.end());
     }},
    {"--retry-branch-window-frame-range",
     [](RunOptions& o, const std::string& v) { append(o.retry_branch_window_frame_ranges, v, parse_frame_range); }},
    {"--retry-branch-window-for-frame-range",
     [](RunOptions& o, const std::string& v) { append(o.retry_branch_window_rules, v, parse_branch_window_rule); }},
    {"--retry-mode2-source-frame-window",
     [](RunOptions& o, const std::string& v) {
         append(o.retry_mode2_source_frame_windows, v, parse_source_frame_window);
     }},
    {"--retry-mode2-source-frame-window-for-frame-range",
     [](RunOptions& o, const std::string& v) { append(o.retry_mode2_source_frame_rules, v, parse_source_frame_rule); }},
    {"--select-mode2-source-frame-window",
     [](RunOptions& o, const std::string& v) {
         append(o.select_mode2_source_frame_windows, v, parse_source_frame_window);
     }},
    {"--select-mode2-source-frame-window-for-frame-range",
     [](RunOptions& o, const std::string& v) {
         append(o.select_mode2_source_frame_rules, v, parse_source_frame_rule);
     }},
    {"--retry-layered", nullptr, &RunOptions::retry_layered},
    {"--cuda-retry-clips", nullptr, &RunOptions::cuda_retry_clips},
    {"--retry-require-ts-packet-syntax", nullptr, &RunOptions::retry_require_ts_packet_syntax},
    {"--retry-require-ts-packet-continuity", nullptr, &RunOptions::retry_require_ts_packet_continuity},
    {"--decode-batch-frames",
     [](RunOptions& o, const std::string& v) { o.decode_batch_frames = parse_unsigned(v, "decode batch frames"); }},
    {"--score-initial-syndrome", nullptr, &RunOptions::score_initial_syndrome},
    {"--early-syndrome-reject-ratio",
     [](RunOptions& o, const std::string& v) {
         o.early_syndrome_reject_ratio =
             (v == "off" || v == "none") ? -1.0f : parse_float(v, "early syndrome reject ratio");
     }},
    {"--require-output", nullptr, &RunOptions::require_output},
    {"--clean-frames-only", nullptr, &RunOptions::clean_frames_only},
    {"--fail-on-unclean-frame", nullptr, &RunOptions::fail_on_unclean_frame},
    {"--emit-clean-codewords", nullptr, &RunOptions::emit_clean_codewords},
    {"--emit-bch-clean-codewords", nullptr, &RunOptions::emit_bch_clean_codewords},
    {"--emit-bch-clean-packets", nullptr, &RunOptions::emit_bch_clean_packets},
    {"--emit-forced-codewords", nullptr, &RunOptions::emit_forced_codewords},
    {"--mark-discontinuities", nullptr, &RunOptions::mark_discontinuities},
    {"--insert-discontinuity-packets", nullptr, &RunOptions::insert_discontinuity_packets},
    {"--frame-index-offset",
     [](RunOptions& o, const std::string& v) { o.frame_index_offset = parse_unsigned(v, "frame index offset"); }},
    {"--hard-h-gate-window-codewords",
     [](RunOptions& o, const std::string& v) {
         o.hard_h_gate_window_codewords = parse_unsigned(v, "hard H gate window codewords");
     }},
    {"--hard-h-gate-step-codewords",
     [](RunOptions& o, const std::string& v) {
         o.hard_h_gate_step_codewords = parse_unsigned(v, "hard H gate step codewords");
     }},
    {"--hard-h-gate-threshold",
     [](RunOptions& o, const std::string& v) { o.hard_h_gate_threshold = parse_double(v, "hard H gate threshold"); }},
    {"--hard-h-gate-fill-max-gap-frames",
     [](RunOptions& o, const std::string& v) {
         o.hard_h_gate_fill_max_gap_frames = parse_unsigned(v, "hard H gate fill max gap frames");
     }},
    {"--force-frame-range",
     [](RunOptions& o, const std::string& v) { append(o.force_frame_ranges, v, parse_frame_range); }},
    {"--omit-frame-range",
     [](RunOptions& o, const std::string& v) { append(o.omit_frame_ranges, v, parse_frame_range); }},
    {"--llr-scale-codeword",
     [](RunOptions& o, const std::string& v) {
         append(o.codeword_llr_scale_rules, v, parse_codeword_llr_scale_rule);
     }},
    {"--llr-scale-variable",
     [](RunOptions& o, const std::string& v) {
         append(o.variable_llr_scale_rules, v, parse_variable_llr_scale_rule);
     }},
    {"--llr-scale-variable-mod",
     [](RunOptions& o, const std::string& v) {
         append(o.variable_mod_llr_scale_rules, v, parse_variable_mod_llr_scale_rule);
     }},
    {"--frame-diagnostics-out", [](RunOptions& o, const std::string& v) { o.frame_diagnostics_out = v; }},
    {"--failed-variable-diagnostics-top",
     [](RunOptions& o, const std::string& v) {
         o.failed_variable_diagnostics_top = parse_unsigned(v, "failed variable diagnostics top count");
     }},
    {"--packet-provenance-out", [](RunOptions& o, const std::string& v) { o.packet_provenance_out = v; }},
    {"--status-out", [](RunOptions& o, const std::string& v) { o.status_out = v; }},
    {"--status-fd", [](RunOptions& o, const std::string& v) { o.status_fd = parse_unsigned(v, "status descriptor"); }},
    {"--status-interval",
     [](RunOptions& o, const std::string& v) { o.status_interval_s = parse_double(v, "status interval"); }},
    {"--progress", nullptr, &RunOptions::progress},
    {"--mark-transport-errors", nullptr, &RunOptions::mark_transport_errors},
    {"--nonfinite-llrs",
     [](RunOptions& o, const std::string& v) { o.erase_nonfinite_llrs = parse_nonfinite_policy(v); }},
});

constexpr std::array<std::string_view, 55> kUsageFragments{
    " --fec-rate 1|2|3 --alist PATH [--codewords-per-frame N]",
    " [--qam 16qam|32qam|64qam] [--qam32-frame-phase auto|0|1]",
    " [--workers N] [--max-iterations N] [--retry-max-iterations N]",
    " [--attenuation X] [--llr-clip X]",
    " [--ldpc-accel cpu|cuda]",
    " [--retry-llr-clip X] [--retry-weak-erase-fraction X]",
    " [--retry-llr-scale X]",
    " [--cuda-retry-clips]",
    " [--retry-attenuation X]",
    " [--retry-unsatisfied-erase-count N] [--retry-layered]",
    " [--retry-final-failed-erase-count N]",
    " [--retry-final-failed-flip-count N]",
    " [--retry-final-failed-greedy-flip-count N]",
    " [--retry-final-failed-syndrome-solve-count N]",
    " [--retry-final-failed-syndrome-solve-minimize-cost-passes N]",
    " [--retry-final-failed-syndrome-solve-nullspace-search N]",
    " [--retry-final-failed-syndrome-solve-nullspace-depth N]",
    " [--retry-final-failed-syndrome-solve-ts-continuity-headers]",
    " [--retry-final-failed-syndrome-solve-ts-continuity-header-templates]",
    " [--retry-final-failed-syndrome-solve-ts-header-template FEC:SLOT:PACKET:PID:PUSI:AFC:CC]",
    " [--retry-require-ts-packet-syntax]",
    " [--retry-require-ts-packet-continuity]",
    " [--retry-qam-plane N]",
    " [--retry-variable-range FIRST:LAST]",
    " [--retry-branch-window FIRST:LAST]",
    " [--retry-branch-window-group FIRST:LAST,FIRST:LAST]",
    " [--retry-branch-window-sweep FIRST:LAST:MIN_WIDTH:MAX_WIDTH]",
    " [--retry-branch-window-frame-range FIRST:LAST]",
    " [--retry-branch-window-for-frame-range FEC_FIRST:FEC_LAST:BRANCH_FIRST:BRANCH_LAST]",
    " [--retry-mode2-source-frame-window FIRST:LAST]",
    " [--retry-mode2-source-frame-window-for-frame-range FEC_FIRST:FEC_LAST:SOURCE_FIRST:SOURCE_LAST]",
    " [--select-mode2-source-frame-window FIRST:LAST]",
    " [--select-mode2-source-frame-window-for-frame-range FEC_FIRST:FEC_LAST:SOURCE_FIRST:SOURCE_LAST]",
    " [--decode-batch-frames N]",
    " [--score-initial-syndrome]",
    " [--early-syndrome-reject-ratio off|X]",
    " [--require-output] [--clean-frames-only] [--fail-on-unclean-frame] [--mark-discontinuities]",
    " [--emit-clean-codewords]",
    " [--emit-bch-clean-codewords]",
    " [--emit-bch-clean-packets]",
    " [--insert-discontinuity-packets]",
    " [--frame-index-offset N]",
    " [--hard-h-gate-window-codewords N",
    " --hard-h-gate-step-codewords N --hard-h-gate-threshold R]",
    " [--hard-h-gate-fill-max-gap-frames N]",
    " [--force-frame-range FIRST:LAST]",
    " [--omit-frame-range FIRST:LAST]",
    " [--llr-scale-codeword FIRST:LAST:SLOT:SCALE]",
    " [--llr-scale-variable FIRST:LAST:VARIABLE:SCALE]",
    " [--llr-scale-variable-mod FIRST:LAST:MOD:REMAINDER:SCALE]",
    " [--emit-forced-codewords]",
    " [--frame-diagnostics-out PATH]",
    " [--failed-variable-diagnostics-top N]",
    " [--packet-provenance-out PATH]",
    " [input.llr.f32|-] [output.ts|-]",
};

void require(bool condition, const char* message) {
    if (!condition) throw std::invalid_argument(message);
}

[[noreturn]] void usage_error() { throw UsageExit(2); }

bool is_positive_finite(float value) { return std::isfinite(value) && value > 0.0f; }

bool starts_with_any(std::string_view text, std::initializer_list<std::string_view> prefixes) {
    return std::any_of(prefixes.begin(), prefixes.end(), [&](std::string_view p) { return text.starts_with(p); });
}

// QAM grouping: codewords of one FEC frame for m bits per symbol, m x ((m mod 2) + 1) / 2.
std::uint64_t qam_codewords_per_frame(std::uint64_t qam) {
    const std::uint64_t bits_per_symbol = qam == 16 ? 4 : qam == 32 ? 5 : 6;
    return bits_per_symbol * ((bits_per_symbol % 2) + 1) / 2;
}

void check_qam_options(RunOptions& o, std::span<const std::string> arguments) {
    if (o.qam) {
        const std::uint64_t grouping = qam_codewords_per_frame(*o.qam);
        require(!o.codewords_per_frame_given || o.codewords_per_frame == grouping,
                "--codewords-per-frame conflicts with --qam FEC grouping");
        o.codewords_per_frame = grouping;
    }
    const bool qam32 = o.qam == 32u;
    require(!qam32 || o.fec_rate == 3, "32QAM requires DTMB FEC rate 3");
    const auto& phase = o.qam32_frame_phase;
    require(phase == "auto" || phase == "0" || phase == "1", "32QAM frame phase must be auto, 0 or 1");
    require(qam32 || phase == "auto", "--qam32-frame-phase requires --qam 32qam");
    if (!qam32) return;
    for (const auto& element : arguments.subspan(std::min<std::size_t>(1, arguments.size()))) {
        if (element == "--retry-qam-plane" ||
            starts_with_any(element, {"--retry-branch-", "--retry-mode2-source-", "--select-mode2-source-",
                                      "--retry-final-failed-syndrome-solve-ts"}))
            throw std::invalid_argument(element + " does not support 32QAM packing");
    }
}

void check_iteration_and_clip_options(const RunOptions& o) {
    require(o.max_iterations != 0, "max iterations must be positive");
    require(o.retry_max_iterations_option != 0u, "retry max iterations must be positive");
    require(!o.llr_clip || is_positive_finite(*o.llr_clip), "LLR clip must be positive and finite");
    const float ratio = o.early_syndrome_reject_ratio;
    if (!(ratio == -1.0f || (ratio >= 0.0f && ratio <= 1.0f))) usage_error();
}

void check_retry_value_lists(const RunOptions& o) {
    const auto all_of = [](const std::vector<float>& values, auto predicate) {
        return std::all_of(values.begin(), values.end(), predicate);
    };
    require(all_of(o.retry_llr_clips, is_positive_finite), "retry LLR clips must be positive and finite");
    require(all_of(o.retry_llr_scales, [](float s) { return std::isfinite(s) && !(s < 0.0f); }),
            "retry LLR scales must be non-negative and finite");
    require(all_of(o.retry_weak_erase_fractions, [](float f) { return std::isfinite(f) && f > 0.0f && f < 1.0f; }),
            "retry weak erase fractions must be finite and within 0..1");
    require(all_of(o.retry_attenuations, is_positive_finite), "retry attenuations must be positive and finite");

    const auto no_zero = [](const std::vector<std::uint64_t>& counts) {
        return std::find(counts.begin(), counts.end(), 0u) == counts.end();
    };
    require(no_zero(o.retry_unsatisfied_erase_counts), "retry unsatisfied erase counts must be positive");
    require(no_zero(o.retry_final_failed_erase_counts), "retry final failed erase counts must be positive");
    require(no_zero(o.retry_final_failed_flip_counts), "retry final failed flip counts must be positive");
    require(no_zero(o.retry_final_failed_greedy_flip_counts), "retry final failed greedy flip counts must be positive");
    require(no_zero(o.retry_final_failed_syndrome_solve_counts),
            "retry final failed syndrome solve counts must be positive");
}

void check_syndrome_solve_options(const RunOptions& o) {
    const std::uint64_t depth = o.retry_final_failed_syndrome_solve_nullspace_depth;
    require(depth >= 1 && depth <= 3, "retry final failed syndrome solve nullspace depth must be 1..3");
    const bool headers = o.retry_final_failed_syndrome_solve_ts_continuity_headers;
    const bool templates = o.retry_final_failed_syndrome_solve_ts_continuity_header_templates;
    require(!headers || o.retry_require_ts_packet_continuity,
            "retry TS continuity header constraints require --retry-require-ts-packet-continuity");
    require(!templates || o.retry_require_ts_packet_continuity,
            "retry TS continuity header template constraints require --retry-require-ts-packet-continuity");
    require(!(headers && templates),
            "retry TS continuity header constraints and template constraints are mutually exclusive");
}

void check_retry_selection_bounds(const RunOptions& o) {
    require(std::all_of(o.retry_qam_planes.begin(), o.retry_qam_planes.end(),
                        [](std::uint64_t plane) { return plane < ldpc::kQamPlaneCount; }),
            "retry QAM planes must be within 0..5");
    if (!o.retry_variable_ranges.empty()) {
        const std::uint64_t transmitted_bits = ldpc::fec_profile_for_rate(o.fec_rate).transmitted_bits;
        for (const auto& range : o.retry_variable_ranges)
            require(range.last < transmitted_bits, "retry variable ranges must be within transmitted codeword bits");
    }
    const auto within_branches = [](const BranchWindow& w) { return w.last < ldpc::kBranchCount; };
    require(std::all_of(o.retry_branch_windows.begin(), o.retry_branch_windows.end(), within_branches),
            "retry branch windows must be within 0..51");
    for (const auto& group : o.retry_branch_window_groups) {
        require(!group.windows.empty(), "retry branch window groups must contain at least one window");
        require(std::all_of(group.windows.begin(), group.windows.end(), within_branches),
                "retry branch window group ranges must be within 0..51");
    }
    require(!o.retry_branch_windows.empty() || !o.retry_branch_window_groups.empty() ||
                o.retry_branch_window_frame_ranges.empty(),
            "retry branch window frame ranges require --retry-branch-window or --retry-branch-window-group");
    for (const auto& rule : o.retry_branch_window_rules)
        require(rule.branch_last < ldpc::kBranchCount, "retry branch window rule branch ranges must be within 0..51");
}

void check_live_options(const RunOptions& o) {
    const double interval = o.status_interval_s;
    require(std::isfinite(interval) && interval >= 0.01 && interval <= 86400.0,
            "status interval must be within 0.01..86400 seconds");
    require(!(o.status_out && o.status_fd), "--status-out and --status-fd are mutually exclusive");
    const bool output_is_stdout = o.output_path.empty() || o.output_path == "-";
    const bool status_to_stdout = (o.status_out && *o.status_out == "-") || o.status_fd == 1u;
    require(!(status_to_stdout && output_is_stdout), "status lines on standard output need the transport stream in a file");
    require(!o.status_fd || (*o.status_fd != 0 && *o.status_fd <= std::numeric_limits<int>::max()),
            "status descriptor must be an output descriptor, not 0");
}

void check_emission_options(const RunOptions& o) {
    require(!o.emit_clean_codewords || o.clean_frames_only, "emit-clean-codewords requires --clean-frames-only");
    require(!o.emit_bch_clean_codewords || o.emit_clean_codewords,
            "emit-bch-clean-codewords requires --emit-clean-codewords");
    require(!o.emit_bch_clean_packets || o.emit_clean_codewords,
            "emit-bch-clean-packets requires --emit-clean-codewords");
    if (o.emit_forced_codewords) {
        require(o.emit_clean_codewords, "emit-forced-codewords requires --emit-clean-codewords");
        require(!o.force_frame_ranges.empty(), "emit-forced-codewords requires --force-frame-range");
    }
}

bool is_whole_frames(std::uint64_t codewords, std::uint64_t codewords_per_frame) {
    return codewords != 0 && codewords % codewords_per_frame == 0;
}

void check_hard_h_gate_options(const RunOptions& o) {
    const int given = int(o.hard_h_gate_window_codewords.has_value()) + int(o.hard_h_gate_step_codewords.has_value()) +
                      int(o.hard_h_gate_threshold.has_value());
    require(given == 0 || given == 3, "hard H gate options must be supplied together");
    require(given == 3 || o.hard_h_gate_fill_max_gap_frames == 0,
            "hard H gate gap fill requires hard H gate options");
    if (given == 0) return;
    require(is_whole_frames(*o.hard_h_gate_window_codewords, o.codewords_per_frame) &&
                is_whole_frames(*o.hard_h_gate_step_codewords, o.codewords_per_frame),
            "hard H gate window and step must be positive whole FEC frames");
    require(*o.hard_h_gate_step_codewords == o.codewords_per_frame,
            "hard H gate v1 requires step codewords equal codewords per frame");
    const double threshold = *o.hard_h_gate_threshold;
    require(std::isfinite(threshold) && threshold >= 0.0 && threshold <= 1.0,
            "hard H gate threshold must be finite and within 0..1");
}

bool has_retry_list_entry(const RunOptions& o) {
    return !o.retry_llr_clips.empty() || !o.retry_llr_scales.empty() || !o.retry_weak_erase_fractions.empty() ||
           !o.retry_attenuations.empty() || !o.retry_unsatisfied_erase_counts.empty() ||
           !o.retry_final_failed_erase_counts.empty() || !o.retry_final_failed_flip_counts.empty() ||
           !o.retry_final_failed_greedy_flip_counts.empty() || !o.retry_final_failed_syndrome_solve_counts.empty() ||
           !o.retry_final_failed_syndrome_solve_ts_header_templates.empty() || !o.retry_qam_planes.empty() ||
           !o.retry_variable_ranges.empty() || !o.retry_branch_windows.empty() ||
           !o.retry_branch_window_groups.empty() || !o.retry_branch_window_rules.empty() ||
           !o.retry_mode2_source_frame_windows.empty() || !o.retry_mode2_source_frame_rules.empty();
}

void derive_settings(RunOptions& o) {
    o.hard_h_gate_enabled = o.hard_h_gate_window_codewords && o.hard_h_gate_step_codewords && o.hard_h_gate_threshold;
    o.select_mode2_enabled = !o.select_mode2_source_frame_windows.empty() || !o.select_mode2_source_frame_rules.empty();
    o.initial_syndrome_scoring = o.score_initial_syndrome || o.early_syndrome_reject_ratio >= 0.0f;
    o.retry_enabled = has_retry_list_entry(o) || o.retry_layered;
    o.retry_max_iterations = o.retry_max_iterations_option.value_or(o.max_iterations);
    // Continuity is judged on well-formed packets only, so it implies the syntax requirement.
    o.retry_require_ts_packet_syntax = o.retry_require_ts_packet_syntax || o.retry_require_ts_packet_continuity;
}

}  // namespace

std::uint64_t parse_qam_mode(const std::string& text) {
    if (text == "16qam") return 16;
    if (text == "32qam") return 32;
    if (text == "64qam") return 64;
    throw std::invalid_argument("QAM mode must be 16qam, 32qam or 64qam");
}

bool parse_nonfinite_policy(const std::string& text) {
    if (text == "fail") return false;
    if (text == "erase") return true;
    throw std::invalid_argument("nonfinite LLR policy must be fail or erase");
}

LdpcAccel parse_ldpc_accel(const std::string& text) {
    if (text == "cpu") return LdpcAccel::cpu;
    if (text == "cuda") return LdpcAccel::cuda;
    throw std::invalid_argument("LDPC accelerator must be cpu or cuda");
}

std::vector<std::string_view> decoder_option_names() {
    std::vector<std::string_view> names;
    for (const auto& option : kOptions) names.push_back(option.name);
    return names;
}

std::string usage_text(std::string_view program_name) {
    std::string text = "usage: ";
    text += program_name;
    for (const auto fragment : kUsageFragments) text += fragment;
    text += '\n';
    return text;
}

void print_usage(std::ostream& out, std::string_view program_name) { out << usage_text(program_name) << std::flush; }

RunOptions parse_command_line(std::span<const std::string> arguments) {
    RunOptions options;
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const std::string& element = arguments[i];
        if (element == "-h" || element == "--help") throw UsageExit(0);
        const auto option = std::find_if(kOptions.begin(), kOptions.end(),
                                         [&](const OptionSpec& s) { return s.name == element; });
        if (option == kOptions.end()) {
            options.positional.push_back(element);
        } else if (option->flag != nullptr) {
            options.*(option->flag) = true;
        } else {
            if (i + 1 >= arguments.size()) usage_error();
            option->on_value(options, arguments[++i]);
        }
    }
    validate_options(options, arguments);
    return options;
}

void validate_options(RunOptions& o, std::span<const std::string> arguments) {
    check_qam_options(o, arguments);
    if (o.fec_rate == 0 || o.alist_path.empty() || o.codewords_per_frame == 0 || o.positional.size() > 2)
        usage_error();
    // A FEC frame is read into memory as 4 bytes per transmitted bit; its size must be a
    // representable byte count.
    require(o.codewords_per_frame <= std::numeric_limits<std::uint64_t>::max() / (4 * ldpc::kTransmittedBits),
            "codewords per frame is too large for a FEC frame in memory");
    check_iteration_and_clip_options(o);
    check_retry_value_lists(o);
    check_syndrome_solve_options(o);
    check_retry_selection_bounds(o);
    check_emission_options(o);
    check_hard_h_gate_options(o);
    if (!o.positional.empty()) o.input_path = o.positional[0];
    if (o.positional.size() == 2) o.output_path = o.positional[1];
    check_live_options(o);
    for (const auto& rule : o.codeword_llr_scale_rules)
        require(rule.slot < o.codewords_per_frame, "codeword LLR scale slot is outside codewords-per-frame");
    derive_settings(o);
}

}  // namespace qarel::cli
