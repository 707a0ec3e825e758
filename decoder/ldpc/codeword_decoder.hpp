#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "decoder/ldpc/ldpc_graph.hpp"
#include "decoder/ldpc/min_sum.hpp"

namespace qarel::ldpc {

// The implementations of the min-sum decoders. `plain` decodes one codeword at a time with
// decode_min_sum_flooding / decode_min_sum_layered; the others decode many codewords side by
// side in lanes: portable code (8 lanes), AVX2 (16) and AVX-512 (16), the last two only on
// x86-64, where float arithmetic has no excess precision. All give identical results.
enum class LdpcKernel { plain, generic, avx2, avx512 };

enum class Schedule { flooding, layered };

std::string_view ldpc_kernel_name(LdpcKernel kernel);
std::optional<LdpcKernel> ldpc_kernel_from_name(std::string_view name);
bool ldpc_kernel_available(LdpcKernel kernel);
// Codewords the kernel decodes side by side.
std::size_t ldpc_kernel_lanes(LdpcKernel kernel);
// The kernels this processor can run, plain first.
std::vector<LdpcKernel> available_ldpc_kernels();

// The environment variable that forces a kernel (for tests and bug reports).
inline constexpr const char* kLdpcKernelVariable = "QAREL_LDPC_KERNEL";

// The fastest kernel this processor runs, unless QAREL_LDPC_KERNEL names another. Throws
// std::runtime_error when it names an unknown kernel or one this processor lacks.
LdpcKernel selected_ldpc_kernel();

// One codeword to decode: its LLRs (one per variable), where its hard bits go, and its result.
struct CodewordJob {
    std::span<const float> llrs;
    std::span<std::uint8_t> hard_bits;
    LdpcDecodeResult* result = nullptr;
};

// Hands out jobs one at a time, so that decoders on several threads can share one list and
// each takes the next job when one of its lanes frees up.
class CodewordJobSource {
public:
    virtual ~CodewordJobSource() = default;
    // The next job, or nullptr while there is none. A decoder asks again whenever a lane is
    // free and returns once its lanes are idle and the source has none. The job must stay
    // valid until the decode call that took it returns.
    virtual const CodewordJob* next() = 0;
    // Called once a job's hard bits and result are written, before the decoder takes another.
    virtual void finished(const CodewordJob& job) { (void)job; }
};

// The jobs of a span, in order.
class SpanJobSource final : public CodewordJobSource {
public:
    explicit SpanJobSource(std::span<const CodewordJob> jobs) : jobs_(jobs) {}
    const CodewordJob* next() override { return next_ < jobs_.size() ? &jobs_[next_++] : nullptr; }

private:
    std::span<const CodewordJob> jobs_;
    std::size_t next_ = 0;
};

// Throws std::invalid_argument like decode_min_sum_flooding for a bad job or setting.
void check_codeword_jobs(std::span<const CodewordJob> jobs, std::uint64_t variable_count,
                         const MinSumSettings& settings);

// One job with the plain decoder of the schedule.
void decode_one(const CodewordJob& job, const LdpcGraph& graph, const MinSumSettings& settings, Schedule schedule);

// A decoder for one graph that keeps its working memory from call to call. Each job's hard
// bits and result are identical to decode_min_sum_flooding (or _layered) on it alone,
// whatever the kernel and however the jobs are grouped. Not thread-safe: one per thread.
class CodewordDecoder {
public:
    virtual ~CodewordDecoder() = default;
    virtual LdpcKernel kernel() const = 0;
    // Codewords decoded side by side; a call with fewer jobs leaves lanes idle.
    virtual std::size_t lanes() const = 0;
    virtual void decode(std::span<const CodewordJob> jobs, const MinSumSettings& settings, Schedule schedule) = 0;
    // Decodes jobs from `source` until it has none left. The settings are checked first,
    // each job as it is taken.
    virtual void decode(CodewordJobSource& source, const MinSumSettings& settings, Schedule schedule) = 0;
};

// The graph must outlive the decoder. Throws std::invalid_argument for a bad graph or a
// kernel this processor lacks.
std::unique_ptr<CodewordDecoder> make_codeword_decoder(const LdpcGraph& graph, LdpcKernel kernel);

}  // namespace qarel::ldpc
