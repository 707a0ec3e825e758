#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "decoder/engine/finalize.hpp"
#include "decoder/ldpc/fec_profile.hpp"
#include "decoder/ldpc/ldpc_graph.hpp"

namespace qarel::diag {

// Run settings that shape a frame's diagnostics row.
struct FrameDiagnosticsSettings {
    std::uint64_t codewords_per_frame = 3;
    const ldpc::FecProfile* profile = nullptr;
    const ldpc::LdpcGraph* graph = nullptr;
    bool emit_clean_codewords = false;
    bool emit_bch_clean_codewords = false;
    bool emit_forced_codewords = false;
    bool initial_syndrome_scoring = false;
    std::uint64_t failed_variable_top = 0;  // 0: no failed-variable summaries
};

// The JSON line of one frame, decoded (`record` set) or not, ending in a newline.
std::string format_frame_diagnostics(const engine::FrameSelectionRecord& frame, const engine::FrameDecodeRecord* record,
                                     const engine::FrameEmission& emission, const FrameDiagnosticsSettings& settings);

// Writes each finalized frame's row to the frame diagnostics file; a failed write ends the
// run with "failed to write frame diagnostics".
class FrameDiagnosticsWriter : public engine::FrameDiagnosticsSink {
public:
    FrameDiagnosticsWriter(std::FILE* stream, const FrameDiagnosticsSettings& settings)
        : stream_(stream), settings_(settings) {}

    void write_frame(const engine::FrameSelectionRecord& frame, const engine::FrameDecodeRecord* record,
                     const engine::FrameEmission& emission) override;

private:
    std::FILE* stream_;
    FrameDiagnosticsSettings settings_;
};

}  // namespace qarel::diag
