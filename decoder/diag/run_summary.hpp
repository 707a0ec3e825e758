#pragma once

#include <iosfwd>

#include "decoder/options/run_options.hpp"
#include "decoder/diag/run_counters.hpp"
#include "decoder/ts/packet_emitter.hpp"

namespace qarel::diag {

// The key=value summary of a completed run, every key in its fixed order.
void write_run_summary(std::ostream& out, const options::RunOptions& options, const RunShape& shape,
                       const SelectionCounters& selection, const DecodeCounters& decode,
                       const ts::EmitterCounters& emitter);

}  // namespace qarel::diag
