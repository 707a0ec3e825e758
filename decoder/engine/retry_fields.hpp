#pragma once

#include <cstdint>

#include "decoder/engine/frame_decode_record.hpp"
#include "decoder/retry/codeword_retries.hpp"

namespace qarel::engine {

// Writes what the retries of slot k achieved into its result fields.
void store_retry_outcome(CodewordResults& results, std::uint64_t k, const retry::RetryOutcome& outcome);

// The attempt that the result fields of slot k record, to repeat it; `windows` receives its
// branch window set, which the attempt points to.
retry::RetryAttempt recorded_retry_attempt(const CodewordResults& results, std::uint64_t k,
                                           retry::BranchWindowSet& windows);

}  // namespace qarel::engine
