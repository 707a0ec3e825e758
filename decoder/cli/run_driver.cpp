#include "decoder/cli/run_driver.hpp"

#include <cmath>
#include <limits>
#include <optional>
#include <ostream>
#include <stdexcept>

#include <unistd.h>

#include "decoder/cli/command_line.hpp"
#include "decoder/cli/frame_selection.hpp"
#include "decoder/cli/interrupt.hpp"
#include "decoder/cli/live_reporter.hpp"
#include "decoder/cli/llr_frame_reader.hpp"
#include "decoder/cli/usable_cpus.hpp"
#include "decoder/cli/streams.hpp"
#include "decoder/diag/frame_diagnostics.hpp"
#include "decoder/diag/live_status.hpp"
#include "decoder/diag/run_summary.hpp"
#include "decoder/engine/batch_engine.hpp"
#include "decoder/ldpc/alist.hpp"
#include "decoder/ldpc/fec_profile.hpp"
#include "decoder/ldpc/hard_h_graph.hpp"
#include "decoder/ldpc/qam32_phase.hpp"
#include "decoder/retry/retry_plan.hpp"
#include "decoder/ts/packet_emitter.hpp"

namespace qarel::cli {
namespace {

// Sizes that frame the input, fixed before the first frame is read.
struct RunConstants {
    std::uint64_t codewords_per_frame = 0;
    std::uint64_t signal_frames_per_fec_group = 1;
    std::uint64_t llrs_per_frame = 0;
    std::uint64_t frame_bytes = 0;
    std::uint64_t transport_bytes_per_frame = 0;
    std::uint64_t bytes_per_codeword = 0;
    std::uint64_t packets_per_codeword = 0;
    std::uint64_t scrambler_reset_bits = 0;
    std::uint64_t worker_count = 1;
};

void require_runtime(bool condition, const std::string& message) {
    if (!condition) throw std::runtime_error(message);
}

void require_argument(bool condition, const char* message) {
    if (!condition) throw std::invalid_argument(message);
}

// Option checks that need the code profile.
void check_profile_dependent_options(const RunOptions& o, const ldpc::FecProfile& profile) {
    require_argument(!o.fail_on_unclean_frame || o.clean_frames_only,
                     "fail-on-unclean-frame requires --clean-frames-only");
    for (const auto& rule : o.variable_llr_scale_rules)
        require_argument(rule.variable < profile.transmitted_bits,
                         "variable LLR scale variable is outside transmitted codeword");
    for (const auto& rule : o.variable_mod_llr_scale_rules)
        require_argument(rule.remainder < profile.transmitted_bits,
                         "variable-mod LLR scale remainder is outside transmitted codeword");
}

void check_accelerator_options(const RunOptions& o) {
    require_runtime(o.ldpc_accel != LdpcAccel::cuda,
                    "--ldpc-accel cuda requested, but this binary was built without QAREL_ENABLE_CUDA_LDPC=ON");
    if (!o.cuda_retry_clips) return;
    require_argument(o.ldpc_accel == LdpcAccel::cuda, "--cuda-retry-clips requires --ldpc-accel cuda");
}

std::uint64_t resolve_worker_count(std::uint64_t requested) {
    if (requested != 0) return requested;
    return usable_cpu_count();
}

RunConstants compute_run_constants(const RunOptions& o, const ldpc::FecProfile& profile) {
    RunConstants c;
    c.codewords_per_frame = o.codewords_per_frame;
    c.signal_frames_per_fec_group = o.signal_frames_per_fec_group();
    c.llrs_per_frame = profile.transmitted_bits * c.codewords_per_frame;
    c.frame_bytes = sizeof(float) * c.llrs_per_frame;
    c.bytes_per_codeword = profile.bytes_per_codeword();
    c.transport_bytes_per_frame = c.bytes_per_codeword * c.codewords_per_frame;
    c.packets_per_codeword = c.bytes_per_codeword / ldpc::FecProfile::kTsPacketBytes;
    c.scrambler_reset_bits = o.qam == 32u ? c.transport_bytes_per_frame * 8 / 2 : 0;
    c.worker_count = resolve_worker_count(o.workers);
    return c;
}

void check_header_templates(const RunOptions& o, const RunConstants& c) {
    for (const auto& rule : o.retry_final_failed_syndrome_solve_ts_header_templates) {
        require_argument(rule.codeword_slot < c.codewords_per_frame,
                         "TS header template codeword slot is outside codewords-per-frame");
        require_argument(rule.packet_index < c.packets_per_codeword,
                         "TS header template packet index is outside packets-per-codeword");
    }
}

// Hands selected and skipped frames to the batch engine; a skipped frame keeps its LLRs only
// for the frame diagnostics.
class EngineFrameSink : public SelectedFrameSink {
public:
    EngineFrameSink(engine::BatchEngine& engine, bool keep_skipped_llrs)
        : engine_(engine), keep_skipped_llrs_(keep_skipped_llrs) {}
    void add_decode_frame(engine::FrameSelectionRecord&& frame) override { engine_.add_decode_frame(std::move(frame)); }
    void add_skipped_frame(engine::FrameSelectionRecord&& frame) override {
        engine_.add_skipped_frame(std::move(frame), keep_skipped_llrs_);
    }

private:
    engine::BatchEngine& engine_;
    bool keep_skipped_llrs_;
};

// The status stream's destination: a path ("-" for standard output) or a descriptor the
// caller opened, duplicated so the run closes only its own copy.
StreamHandle open_status_output(const RunOptions& o) {
    if (o.status_fd) {
        const int duplicate = dup(static_cast<int>(*o.status_fd));
        std::FILE* file = duplicate < 0 ? nullptr : fdopen(duplicate, "w");
        if (file == nullptr && duplicate >= 0) close(duplicate);
        require_runtime(file != nullptr, "failed to open status descriptor: " + std::to_string(*o.status_fd));
        return {file, true};
    }
    if (*o.status_out == "-") return {stdout, false};
    StreamHandle handle = open_text_output(*o.status_out);
    require_runtime(handle.is_open(), "failed to open status output: " + *o.status_out);
    return handle;
}

// Replaces NaN and infinities by 0, an erasure; returns how many there were.
std::uint64_t erase_nonfinite(std::span<float> llrs) {
    std::uint64_t erased = 0;
    for (float& llr : llrs) {
        if (std::isfinite(llr)) continue;
        llr = 0.0f;
        ++erased;
    }
    return erased;
}

class DecoderRun {
public:
    DecoderRun(const RunOptions& options, std::ostream& err, std::FILE* terminal)
        : options_(options), err_(err), terminal_(terminal) {}

    void execute() {
        start_up();
        if (options_.qam == 32u) prefill_qam32();
        read_frames();
        finish();
    }

private:
    void start_up() {
        const RunOptions& o = options_;
        if (o.input_path == "-")
            require_runtime(set_binary_mode(stdin), "failed to set stdin to binary mode");
        if (o.output_path == "-")
            require_runtime(set_binary_mode(stdout), "failed to set stdout to binary mode");

        profile_ = &ldpc::fec_profile_for_rate(o.fec_rate);
        retry_plan_ = retry::build_retry_plan(o);
        check_profile_dependent_options(o, *profile_);

        graph_ = ldpc::load_alist_graph(o.alist_path);
        require_runtime(graph_.variable_count == profile_->variable_count(),
                        "alist variable count does not match selected DTMB FEC rate");
        if (o.hard_h_gate_enabled) {
            hard_h_graph_ = ldpc::load_hard_h_graph(o.alist_path, o.fec_rate);
            require_runtime(hard_h_graph_->variable_count == profile_->transmitted_bits,
                            "hard H gate graph variable count does not match transmitted codeword");
        }
        if (o.decode_batch_frames == 0) throw UsageExit(2);
        check_accelerator_options(o);

        constants_ = compute_run_constants(o, *profile_);
        open_streams();
        require_runtime(constants_.bytes_per_codeword % ldpc::FecProfile::kTsPacketBytes == 0,
                        "DTMB codeword transport bytes must align to MPEG-TS packets");
        check_header_templates(o, constants_);

        reader_.emplace(input_.get(), constants_.llrs_per_frame);
        emitter_.emplace(output_.get(), provenance_.get(),
                         ts::DiscontinuitySwitches{o.mark_discontinuities, o.insert_discontinuity_packets},
                         o.mark_transport_errors);
        engine_config_ = {&o, profile_, &graph_, constants_.codewords_per_frame, constants_.worker_count,
                          constants_.scrambler_reset_bits, &err_, &retry_plan_};
        if (diagnostics_.is_open()) {
            const diag::FrameDiagnosticsSettings settings{constants_.codewords_per_frame, profile_, &graph_,
                                                          o.emit_clean_codewords, o.emit_bch_clean_codewords,
                                                          o.emit_forced_codewords, o.initial_syndrome_scoring,
                                                          o.failed_variable_diagnostics_top};
            diagnostics_writer_.emplace(diagnostics_.get(), settings);
        }
        engine_.emplace(engine_config_, *emitter_, diagnostics_writer_ ? &*diagnostics_writer_ : nullptr);
        frame_sink_.emplace(*engine_, o.frame_diagnostics_out.has_value());
        selector_.emplace(o, hard_h_graph_ ? &*hard_h_graph_ : nullptr, constants_.codewords_per_frame, counters_,
                          *frame_sink_);
        start_live_reporting();
    }

    void start_live_reporting() {
        const LiveTargets targets{status_.get(), options_.progress ? terminal_ : nullptr};
        if (targets.status == nullptr && targets.progress == nullptr) return;
        reporter_.emplace(targets, options_.status_interval_s,
                          diag::dtmb_live_rate(constants_.signal_frames_per_fec_group,
                                               constants_.transport_bytes_per_frame),
                          diag::LiveWarningInputs{graph_.check_count(), profile_->parity_bits()});
    }

    diag::LiveTotals live_totals() const {
        return diag::collect_live_totals(counters_, engine_->counters(), emitter_->counters(),
                                         constants_.codewords_per_frame, options_.mark_transport_errors,
                                         erased_llrs_);
    }

    void publish_live_totals() {
        if (!reporter_) return;
        reporter_->publish(live_totals(), engine_->counters().recent_largest_ldpc_iterations);
        engine_->clear_recent_largest_iterations();
    }

    void open_streams() {
        const RunOptions& o = options_;
        input_ = open_binary_input(o.input_path);
        require_runtime(input_.is_open(), "failed to open input: " + o.input_path);
        output_ = open_binary_output(o.output_path);
        require_runtime(output_.is_open(), "failed to open output: " + o.output_path);
        if (o.frame_diagnostics_out) {
            diagnostics_ = open_text_output(*o.frame_diagnostics_out);
            require_runtime(diagnostics_.is_open(),
                            "failed to open frame diagnostics output: " + *o.frame_diagnostics_out);
        }
        if (o.packet_provenance_out) {
            provenance_ = open_text_output(*o.packet_provenance_out);
            require_runtime(provenance_.is_open(),
                            "failed to open packet provenance output: " + *o.packet_provenance_out);
        }
        if (o.status_enabled()) status_ = open_status_output(o);
        watch_input_descriptor(fileno(input_.get()));
    }

    // With 32QAM the first FEC group settles the frame phase; a phase of 1 means the input
    // starts with the second signal frame of a group, which is dropped.
    void prefill_qam32() {
        const std::uint64_t obtained = reader_->read_frame();
        require_runtime(obtained == constants_.frame_bytes, "LLR input ended before two complete 32QAM signal frames");
        require_runtime(accept_nonfinite_values(), "LLR input contains a nonfinite value");
        const auto prefill = reader_->frame();

        std::uint64_t phase = 0;
        const bool automatic = options_.qam32_frame_phase == "auto";
        if (automatic) {
            const auto lock =
                ldpc::lock_qam32_phase(prefill, graph_, {options_.max_iterations, options_.attenuation});
            err_ << "qam32_phase0_clean_codewords=" << lock.phase0_clean_codewords << '\n'
                 << "qam32_phase1_clean_codewords=" << lock.phase1_clean_codewords << '\n';
            phase = lock.phase;
        } else {
            phase = options_.qam32_frame_phase == "1" ? 1 : 0;
        }
        const std::uint64_t discarded_llrs = phase * constants_.llrs_per_frame / 2;
        err_ << "qam32_frame_phase=" << phase << '\n'
             << "qam32_frame_phase_selection=" << (automatic ? "auto" : "explicit") << '\n'
             << "packing_discarded_signal_frames=" << phase << '\n'
             << "packing_discarded_llrs=" << discarded_llrs << '\n';
        reader_->set_head(prefill.subspan(discarded_llrs));
    }

    // An interrupt ends the input like its end, but the partial frame it cuts off is no error.
    void read_frames() {
        while (interrupt_signal() == 0) {
            const std::uint64_t obtained = reader_->read_frame();
            if (interrupt_signal() != 0 && obtained < constants_.frame_bytes) return;
            if (obtained == 0) {
                require_runtime(!reader_->input_failed(), "failed to read LLR input stream");
                return;
            }
            if (obtained < constants_.frame_bytes) fail_after_draining("LLR input ended before a complete DTMB FEC frame");
            if (!accept_nonfinite_values()) fail_after_draining("LLR input contains a nonfinite value");

            counters_.frames += 1;
            counters_.codewords += constants_.codewords_per_frame;
            if (options_.frame_index_offset > std::numeric_limits<std::uint64_t>::max() - counters_.frames)
                fail_after_draining("frame index offset overflow");

            engine::FrameSelectionRecord record;
            record.llrs = reader_->take_frame(engine_->take_spare_llrs());
            record.frame_index = counters_.frames + options_.frame_index_offset;
            selector_->route_frame(std::move(record));
            publish_live_totals();
        }
    }

    // True when the frame read is finite, or its NaN and infinities were erased as asked.
    bool accept_nonfinite_values() {
        if (all_finite(reader_->frame())) return true;
        if (!options_.erase_nonfinite_llrs) return false;
        erased_llrs_ += erase_nonfinite(reader_->mutable_frame());
        return true;
    }

    // Bad input ends the run, but every complete frame read before it is still selected,
    // decoded and written first, as at the end of input, so a capture cut off in the middle
    // of a frame keeps everything before the cut, whatever the batch size.
    [[noreturn]] void fail_after_draining(const char* message) {
        drain_pending_frames();
        throw std::runtime_error(message);
    }

    void drain_pending_frames() {
        selector_->finish_selection();
        engine_->decode_batch();
    }

    void finish() {
        drain_pending_frames();
        if (reporter_) {
            reporter_->finish(live_totals(), engine_->counters().recent_largest_ldpc_iterations);
            reporter_.reset();
        }
        close_streams();
        const RunConstants& c = constants_;
        diag::write_run_summary(err_, options_,
                                {c.signal_frames_per_fec_group, c.codewords_per_frame, c.scrambler_reset_bits,
                                 c.worker_count},
                                counters_, engine_->counters(), emitter_->counters());
        require_runtime(!options_.require_output || emitter_->counters().output_bytes != 0,
                        "no transport bytes recovered (empty output is not a successful decode)");
    }

    void close_streams() {
        require_runtime(output_.close(), "failed to write decoded transport-byte stream");
        require_runtime(provenance_.close(), "failed to write packet provenance row");
        require_runtime(diagnostics_.close(), "failed to write frame diagnostics");
        require_runtime(status_.close(), "failed to write status stream");
        input_.close();
    }

    const RunOptions& options_;
    std::ostream& err_;
    std::FILE* terminal_;
    const ldpc::FecProfile* profile_ = nullptr;
    retry::RetryPlan retry_plan_;
    ldpc::LdpcGraph graph_;
    std::optional<ldpc::LdpcGraph> hard_h_graph_;
    RunConstants constants_;
    diag::SelectionCounters counters_;
    StreamHandle input_;
    StreamHandle output_;
    StreamHandle diagnostics_;
    StreamHandle provenance_;
    StreamHandle status_;
    std::uint64_t erased_llrs_ = 0;
    std::optional<LlrFrameReader> reader_;
    std::optional<ts::PacketEmitter> emitter_;
    engine::EngineConfig engine_config_;
    std::optional<diag::FrameDiagnosticsWriter> diagnostics_writer_;
    std::optional<engine::BatchEngine> engine_;
    std::optional<EngineFrameSink> frame_sink_;
    std::optional<FrameSelector> selector_;
    // Writes to status_ from its own thread: declared after it, so stopped before it closes.
    std::optional<LiveReporter> reporter_;
};

std::string program_name(std::span<const std::string> arguments) {
    return arguments.empty() ? std::string(kDecoderProgramName) : arguments.front();
}

}  // namespace

int run_decoder(std::span<const std::string> arguments, std::ostream& err, std::FILE* terminal) {
    try {
        const RunOptions options = parse_command_line(arguments);
        DecoderRun run(options, err, terminal);
        run.execute();
        const int signal = interrupt_signal();
        return signal == 0 ? 0 : 128 + signal;
    } catch (const UsageExit& exit) {
        print_usage(err, program_name(arguments));
        return exit.exit_status();
    } catch (const std::exception& error) {
        err << kDecoderProgramName << ": " << error.what() << '\n' << std::flush;
        return 1;
    }
}

}  // namespace qarel::cli
