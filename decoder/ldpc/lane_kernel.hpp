#pragma once
// The many-codeword min-sum decoder, written once over a small set of lane operations
// (`Ops`) so that each instruction set gets the same algorithm. A translation unit includes
// its standard headers, switches the compiler's target, defines its Ops and then includes
// this header: everything defined here is compiled for that target, while the standard
// library's code (declared earlier) keeps the default one.
//
// Layout: W codewords ("lanes") are interleaved, element [i * W + lane]. Instead of one
// message per edge, each check keeps per lane its two scaled minima, the position of the
// first among its edges and the parity of its inputs' signs, and each edge one bit mask: the
// lanes where its input was negative. Every message is rebuilt from them exactly (the edge of
// the first minimum gets the second; the sign is the parity times the input's), so the
// working set is the posteriors and the LLRs plus a few bytes per edge, close to the core's
// cache. The signs of the posteriors are kept as one bit mask per variable, from which the
// syndromes and the hard decisions are read.
//
// Each lane performs exactly the float operations of decode_min_sum_flooding or
// decode_min_sum_layered on its codeword, in the same order (only the sign of a zero message
// may differ, see CheckState): the results are identical to decoding it alone.

#include "decoder/ldpc/codeword_decoder.hpp"

namespace qarel::ldpc::lanes {

template <typename T>
struct AlignedArray {
    explicit AlignedArray(std::size_t count)  // one byte more: never an allocation of nothing
        : data(static_cast<T*>(::operator new[](count * sizeof(T) + 1, std::align_val_t{64}))), size(count) {
        for (std::size_t i = 0; i < count; ++i) data[i] = T{};
    }
    ~AlignedArray() { ::operator delete[](data, std::align_val_t{64}); }
    AlignedArray(const AlignedArray&) = delete;
    AlignedArray& operator=(const AlignedArray&) = delete;

    T& operator[](std::size_t i) { return data[i]; }
    const T& operator[](std::size_t i) const { return data[i]; }

    T* data;
    std::size_t size;
};

// For lane operations that keep sign bits in general registers: a check's parity stays bits,
// and the signs of an edge's message are that parity xor the edge's input signs.
struct SignsAsBits {
    using SignWord = std::uint32_t;
    static SignWord sign_word(std::uint32_t bits) { return bits; }
    template <typename Bits>
    static SignWord edge_signs(const Bits* input_signs, SignWord parity) {
        return std::uint32_t{*input_signs} ^ parity;
    }
};

template <typename Ops>
class LaneDecoder final : public CodewordDecoder {
public:
    static constexpr std::size_t W = Ops::kWidth;
    using Vec = typename Ops::Vec;
    using Mask = typename Ops::Mask;
    using Bits = typename Ops::Bits;
    using Index = typename Ops::Index;
    using Position = typename Ops::Position;

    // The graph must outlive the decoder.
    LaneDecoder(const LdpcGraph& graph, LdpcKernel kernel)
        : graph_(graph),
          kernel_(kernel),
          variables_(graph.variable_count),
          checks_(graph.check_count()),
          check_offsets_(checks_ + 1),
          edge_variables_(graph.edge_count()),
          repeats_variable_(checks_),
          sum_rows_(graph.edge_count()),
          values_(2 * variables_ * W),
          zeros_(variables_),
          hard_signs_(variables_),
          minima_(checks_ * 2 * W),
          min1_positions_(checks_ * W),
          parities_(checks_),
          edge_signs_(graph.edge_count()),
          check_signs_(max_degree(graph)),
          incoming_(max_degree(graph) * W),
          positions_(max_degree(graph)) {
        for (std::size_t c = 0; c <= checks_; ++c) check_offsets_[c] = static_cast<std::uint32_t>(graph.check_offsets[c]);
        for (std::size_t e = 0; e < edge_variables_.size; ++e)
            edge_variables_[e] = static_cast<std::uint16_t>(graph.edge_variables[e]);
        for (std::size_t c = 0; c < checks_; ++c) {
            const auto vars = graph.check_variables(c);
            for (std::size_t i = 0; i < vars.size() && !repeats_variable_[c]; ++i)
                for (std::size_t j = i + 1; j < vars.size(); ++j)
                    if (vars[i] == vars[j]) repeats_variable_[c] = 1;
        }
        // The variable phase sums each posterior in edge order, starting from the LLR: the
        // first edge of a variable reads its LLR row, every later one the posterior row.
        std::vector<bool> summed(variables_, false);
        for (std::size_t e = 0; e < edge_variables_.size; ++e) {
            const std::size_t v = edge_variables_[e];
            sum_rows_[e] = static_cast<std::uint16_t>(summed[v] ? v : variables_ + v);
            summed[v] = true;
        }
        for (std::size_t v = 0; v < variables_; ++v)
            if (!summed[v]) isolated_variables_.push_back(static_cast<std::uint32_t>(v));
        if (positions_.size - 1 > static_cast<Position>(~Position{0}))
            throw std::invalid_argument("LDPC graph is too large for the lane decoder");
        for (std::size_t i = 0; i < positions_.size; ++i) positions_[i] = static_cast<Position>(i);
        for (std::size_t l = 0; l < W; ++l) {
            job_[l] = nullptr;
            iteration_[l] = 0;
        }
    }

    LdpcKernel kernel() const override { return kernel_; }
    std::size_t lanes() const override { return W; }

    void decode(std::span<const CodewordJob> jobs, const MinSumSettings& settings, Schedule schedule) override {
        check_codeword_jobs(jobs, variables_, settings);
        // Lanes cost the same however few are busy: below this many jobs a kernel is slower
        // than decoding them one by one.
        if (jobs.size() < Ops::kFewestJobs) {
            for (const CodewordJob& job : jobs) decode_one(job, graph_, settings, schedule);
            return;
        }
        SpanJobSource source(jobs);
        run(source, settings, schedule);
    }

    void decode(CodewordJobSource& source, const MinSumSettings& settings, Schedule schedule) override {
        validate_min_sum_settings(settings);
        run(source, settings, schedule);
    }

private:
    void run(CodewordJobSource& source, const MinSumSettings& settings, Schedule schedule) {
        // A call that ended in an exception may have left jobs in lanes.
        for (std::size_t l = 0; l < W; ++l) job_[l] = nullptr;
        if (schedule == Schedule::flooding) run_flooding(source, settings);
        else run_layered(source, settings);
    }

    // At least one, so that no array is empty.
    static std::size_t max_degree(const LdpcGraph& graph) { return std::max<std::size_t>(1, graph.max_check_degree()); }

    bool busy() const {
        for (std::size_t l = 0; l < W; ++l)
            if (job_[l] != nullptr) return true;
        return false;
    }

    // Flooding, in two phases an iteration. The variable phase builds every posterior from
    // the LLRs and the messages, in the same order as the plain decoder; a lane just loaded has
    // messages of +0 and gets its LLRs (a -0 becomes +0, which no sign test tells apart). The
    // check phase then finds the syndrome of the posteriors and each check's new minima, signs
    // and first-minimum edge; lanes whose syndrome is zero, or that reached the limit, finish
    // there with their posteriors intact, and are loaded again before the next variable phase.
    void run_flooding(CodewordJobSource& source, const MinSumSettings& settings) {
        bool stale = refill(source, settings, false);
        while (busy()) {
            if (stale) variable_phase();
            const Bits unsatisfied = check_phase(settings.attenuation);
            bool iterating = false;
            for (std::size_t l = 0; l < W; ++l) {
                if (job_[l] == nullptr) continue;
                if (((unsatisfied >> l) & 1u) != 0 && iteration_[l] < settings.max_iterations) {
                    ++iteration_[l];
                    iterating = true;
                    continue;
                }
                finish(source, l, settings, unsatisfied);
            }
            stale = refill(source, settings, false) || iterating;
        }
    }

    // Layered: the posteriors are updated in place, so the syndrome is checked before each
    // pass, and again for lanes refilled before it.
    void run_layered(CodewordJobSource& source, const MinSumSettings& settings) {
        refill(source, settings, true);
        while (busy()) {
            const Bits unsatisfied = syndromes();
            bool freed = false;
            for (std::size_t l = 0; l < W; ++l) {
                if (job_[l] == nullptr) continue;
                if (((unsatisfied >> l) & 1u) != 0 && iteration_[l] < settings.max_iterations) continue;
                finish(source, l, settings, unsatisfied);
                freed = true;
            }
            if (freed && refill(source, settings, true)) continue;
            if (!busy()) break;
            layered_pass(settings.attenuation);
            for (std::size_t l = 0; l < W; ++l)
                if (job_[l] != nullptr) ++iteration_[l];
        }
    }

    float* posterior() { return values_.data; }
    float* llrs() { return values_.data + variables_ * W; }

    // Ends the lane's decode: converged when no check is unsatisfied, otherwise at the limit,
    // with the syndrome weight, counted only here because few lanes need it.
    void finish(CodewordJobSource& source, std::size_t lane, const MinSumSettings& settings, Bits unsatisfied) {
        const CodewordJob& job = *job_[lane];
        const LdpcDecodeResult result = ((unsatisfied >> lane) & 1u) == 0
                                            ? LdpcDecodeResult{iteration_[lane], true, 0}
                                            : LdpcDecodeResult{settings.max_iterations, false, syndrome_weight(lane)};
        const Bits* __restrict signs = hard_signs_.data;
        std::uint8_t* __restrict bits = job.hard_bits.data();
        const std::size_t variables = variables_;
        for (std::size_t v = 0; v < variables; ++v) bits[v] = static_cast<std::uint8_t>((signs[v] >> lane) & 1u);
        *job.result = result;
        job_[lane] = nullptr;
        source.finished(job);
    }

    // Loads the next jobs into free lanes, as a decode alone starts: every check-to-variable
    // message 0, and the LLRs as the first posteriors when asked; otherwise flooding's
    // variable phase makes them, and only a variable on no edge takes its LLR here. The lanes'
    // check states are left as they are: until the next check update rewrites them, they are
    // read as minima of 0 (see CheckState). A lane left without a job decodes zeros, which
    // keeps its arithmetic tame; its results are never read. Returns whether a lane was loaded
    // or cleared.
    bool refill(CodewordJobSource& source, const MinSumSettings& settings, bool with_posteriors) {
        std::uint32_t reset = 0;
        std::size_t lanes[W];
        const float* inputs[W];
        std::size_t loaded = 0;
        bool source_empty = false;  // asked again next time: a shared source may get more jobs
        for (std::size_t l = 0; l < W; ++l) {
            if (job_[l] != nullptr) continue;
            const CodewordJob* job = source_empty ? nullptr : source.next();
            source_empty = job == nullptr;
            if (job == nullptr && cleared_[l]) continue;
            if (job != nullptr) check_codeword_jobs(std::span(job, 1), variables_, settings);
            lanes[loaded] = l;
            inputs[loaded++] = job != nullptr ? job->llrs.data() : zeros_.data;
            reset |= 1u << l;
            iteration_[l] = 0;
            cleared_[l] = job == nullptr;
            job_[l] = job;
        }
        if (reset == 0) return false;
        float* rows = with_posteriors ? posterior() : llrs();
        // Variable by variable, so that each row is written once for all the lanes loaded.
        const std::size_t variables = variables_;
        for (std::size_t v = 0; v < variables; ++v)
            for (std::size_t i = 0; i < loaded; ++i) rows[v * W + lanes[i]] = inputs[i][v];
        if (!with_posteriors) {
            float* posterior_rows = posterior();
            for (const std::uint32_t v : isolated_variables_)
                for (std::size_t i = 0; i < loaded; ++i) posterior_rows[v * W + lanes[i]] = inputs[i][v];
        }
        fresh_ = static_cast<Bits>(fresh_ | reset);
        return true;
    }

    // Where variable v's W lanes start.
    static std::size_t row(std::uint16_t v) { return std::size_t{v} * W; }

    // A check's state as the last update left it: its messages, rebuilt edge by edge. In the
    // lanes loaded since that update (`fresh`) every message is a zero, whose sign comes from
    // the previous codeword's signs. That sign changes no result: a nonzero value plus or
    // minus either zero is that value, so it can only turn a zero sum or difference into -0
    // instead of +0, and the results come from sign tests (x < 0) and magnitudes, which do
    // not tell the two apart.
    struct CheckState {
        Vec min1;
        Vec min2;
        Index min1_position;
        typename Ops::SignWord parity;

        CheckState(const float* minima, const Position* min1_positions, Bits parity_bits, Mask fresh)
            : min1(Ops::select(fresh, Ops::load(minima), Ops::broadcast(0.0f))),
              min2(Ops::select(fresh, Ops::load(minima + W), Ops::broadcast(0.0f))),
              min1_position(Ops::index_load(min1_positions)), parity(Ops::sign_word(parity_bits)) {}
        CheckState(Vec scaled_min1, Vec scaled_min2, Index position, Bits parity_bits)
            : min1(scaled_min1), min2(scaled_min2), min1_position(position), parity(Ops::sign_word(parity_bits)) {}

        // The message on `edge`, whose input had the signs `*input_signs`: the second minimum
        // on the edge that holds the first, the first elsewhere, negated where the parity times
        // the input's sign is negative.
        Vec message(Index edge, const Bits* input_signs) const {
            const Vec magnitude = Ops::select(Ops::index_equals(min1_position, edge), min1, min2);
            return Ops::negate_lanes(magnitude, Ops::edge_signs(input_signs, parity));
        }
    };

    struct CheckSummary {
        Vec min1 = Ops::broadcast(__builtin_inff());
        Vec min2 = Ops::broadcast(__builtin_inff());
        Index min1_position;
        Bits negative = 0;  // as bits: a vector register is worth more in these loops

        explicit CheckSummary(Index first) : min1_position(first) {}

        // The first edge to reach the minimum keeps it; a NaN never does. `lesser` keeps its
        // second operand on a tie or a NaN, as the plain decoder's "below" tests do.
        void add(Index edge, Vec x, Bits x_negative) {
            const Vec magnitude = Ops::abs(x);
            const Mask smaller = Ops::less(magnitude, min1);
            min2 = Ops::select(smaller, Ops::lesser(magnitude, min2), min1);
            min1 = Ops::lesser(magnitude, min1);
            min1_position = Ops::index_select(smaller, min1_position, edge);
            negative = static_cast<Bits>(negative ^ x_negative);
        }
    };

    // Returns the lanes with an unsatisfied check.
    [[gnu::noinline]] Bits check_phase(float attenuation) {
        const float* __restrict posterior = values_.data;
        const Bits* __restrict hard_signs = hard_signs_.data;
        const std::uint32_t* __restrict check_offsets = check_offsets_.data;
        const std::uint16_t* __restrict edge_variables = edge_variables_.data;
        float* __restrict minima_of = minima_.data;
        Position* __restrict min1_positions = min1_positions_.data;
        const Position* __restrict positions = positions_.data;
        Bits* __restrict parities = parities_.data;
        Bits* __restrict signs = edge_signs_.data;
        const std::size_t checks = checks_;
        Bits any_unsatisfied = 0;
        const Vec zero = Ops::broadcast(0.0f);
        const Vec scale = Ops::broadcast(attenuation);
        const Mask fresh = Ops::from_bits(fresh_);
        for (std::size_t c = 0; c < checks; ++c) {
            const std::uint32_t begin = check_offsets[c];
            const std::uint32_t end = check_offsets[c + 1];
            Bits unsatisfied = 0;
            if (end - begin < 2) {  // no check-node rule: a lone edge always sends +0
                if (end != begin) any_unsatisfied = static_cast<Bits>(any_unsatisfied | hard_signs[edge_variables[begin]]);
                continue;
            }
            float* minima = minima_of + c * 2 * W;
            const CheckState old(minima, min1_positions + c * W, parities[c], fresh);
            CheckSummary summary(Ops::index_broadcast(0));
            for (std::uint32_t e = begin; e < end; ++e) {
                const Index edge = Ops::index_broadcast(positions[e - begin]);
                const std::uint16_t v = edge_variables[e];
                unsatisfied = static_cast<Bits>(unsatisfied ^ hard_signs[v]);
                const Vec x = Ops::sub(Ops::load(posterior + row(v)), old.message(edge, &signs[e]));
                const Bits x_negative = Ops::to_bits(Ops::less(x, zero));
                summary.add(edge, x, x_negative);
                signs[e] = x_negative;
            }
            any_unsatisfied = static_cast<Bits>(any_unsatisfied | unsatisfied);
            Ops::store(minima, Ops::mul(scale, summary.min1));
            Ops::store(minima + W, Ops::mul(scale, summary.min2));
            Ops::index_store(min1_positions + c * W, summary.min1_position);
            parities[c] = summary.negative;
        }
        fresh_ = 0;
        return any_unsatisfied;
    }

    // Each posterior is its LLR plus the messages to it, added in edge order.
    [[gnu::noinline]] void variable_phase() {
        float* __restrict values = values_.data;
        const std::uint32_t* __restrict check_offsets = check_offsets_.data;
        const std::uint16_t* __restrict edge_variables = edge_variables_.data;
        const std::uint16_t* __restrict sum_rows = sum_rows_.data;
        const float* __restrict minima_of = minima_.data;
        const Position* __restrict min1_positions = min1_positions_.data;
        const Position* __restrict positions = positions_.data;
        const Bits* __restrict parities = parities_.data;
        const Bits* __restrict signs = edge_signs_.data;
        const std::size_t checks = checks_;
        const Vec zero = Ops::broadcast(0.0f);
        const Mask fresh = Ops::from_bits(fresh_);
        for (std::size_t c = 0; c < checks; ++c) {
            const std::uint32_t begin = check_offsets[c];
            const std::uint32_t end = check_offsets[c + 1];
            if (end - begin < 2) {
                if (end != begin)
                    Ops::store(values + row(edge_variables[begin]), Ops::add(Ops::load(values + row(sum_rows[begin])), zero));
                continue;
            }
            const CheckState state(minima_of + c * 2 * W, min1_positions + c * W, parities[c], fresh);
            for (std::uint32_t e = begin; e < end; ++e)
                Ops::store(values + row(edge_variables[e]),
                           Ops::add(Ops::load(values + row(sum_rows[e])),
                                    state.message(Ops::index_broadcast(positions[e - begin]), &signs[e])));
        }
        record_hard_signs();
    }

    void record_hard_signs() {
        const float* __restrict posterior = values_.data;
        Bits* __restrict hard_signs = hard_signs_.data;
        const std::size_t variables = variables_;
        const Vec zero = Ops::broadcast(0.0f);
        for (std::size_t v = 0; v < variables; ++v) hard_signs[v] = Ops::to_bits(Ops::less(Ops::load(posterior + v * W), zero));
    }

    [[gnu::noinline]] void layered_pass(float attenuation) {
        float* __restrict posterior = values_.data;
        const std::uint32_t* __restrict check_offsets = check_offsets_.data;
        const std::uint16_t* __restrict edge_variables = edge_variables_.data;
        float* __restrict minima_of = minima_.data;
        Position* __restrict min1_positions = min1_positions_.data;
        const Position* __restrict positions = positions_.data;
        Bits* __restrict parities = parities_.data;
        Bits* __restrict signs = edge_signs_.data;
        Bits* __restrict new_signs = check_signs_.data;
        float* __restrict inputs = incoming_.data;
        const Vec zero = Ops::broadcast(0.0f);
        const Vec scale = Ops::broadcast(attenuation);
        const Mask fresh = Ops::from_bits(fresh_);
        const std::size_t checks = checks_;
        for (std::size_t c = 0; c < checks; ++c) {
            const std::uint32_t begin = check_offsets[c];
            const std::uint32_t end = check_offsets[c + 1];
            if (end - begin < 2) continue;  // a lone edge's message stays +0: p - 0 is p
            float* minima = minima_of + c * 2 * W;
            const CheckState old(minima, min1_positions + c * W, parities[c], fresh);
            CheckSummary summary(Ops::index_broadcast(0));
            for (std::uint32_t e = begin; e < end; ++e) {
                const Index edge = Ops::index_broadcast(positions[e - begin]);
                const Vec x = Ops::sub(Ops::load(posterior + row(edge_variables[e])), old.message(edge, &signs[e]));
                const Bits x_negative = Ops::to_bits(Ops::less(x, zero));
                summary.add(edge, x, x_negative);
                Ops::store(inputs + (e - begin) * W, x);
                new_signs[e - begin] = x_negative;
            }
            const Vec min1 = Ops::mul(scale, summary.min1);
            const Vec min2 = Ops::mul(scale, summary.min2);
            Ops::store(minima, min1);
            Ops::store(minima + W, min2);
            Ops::index_store(min1_positions + c * W, summary.min1_position);
            parities[c] = summary.negative;
            // The new messages are rebuilt like the old ones, from the inputs' signs: the
            // posterior becomes the input plus the new message.
            const CheckState updated(min1, min2, summary.min1_position, summary.negative);
            if (repeats_variable_[c] == 0) {
                for (std::uint32_t e = begin; e < end; ++e) {
                    const Vec x = Ops::load(inputs + (e - begin) * W);
                    const Index edge = Ops::index_broadcast(positions[e - begin]);
                    Ops::store(posterior + row(edge_variables[e]), Ops::add(x, updated.message(edge, &new_signs[e - begin])));
                    signs[e] = new_signs[e - begin];
                }
                continue;
            }
            // A check naming a variable twice sees its own first update, as the plain
            // decoder does when it reads the posterior again; the message's sign then follows
            // the input read the second time.
            for (std::uint32_t e = begin; e < end; ++e) {
                const Index edge = Ops::index_broadcast(positions[e - begin]);
                float* p = posterior + row(edge_variables[e]);
                const Vec x = Ops::sub(Ops::load(p), old.message(edge, &signs[e]));
                signs[e] = Ops::to_bits(Ops::less(x, zero));
                Ops::store(p, Ops::add(x, updated.message(edge, &signs[e])));
            }
        }
        fresh_ = 0;
    }

    // Returns the lanes with an unsatisfied check.
    Bits syndromes() {
        record_hard_signs();
        Bits any_unsatisfied = 0;
        for (std::size_t c = 0; c < checks_; ++c) any_unsatisfied = static_cast<Bits>(any_unsatisfied | check_syndrome(c));
        return any_unsatisfied;
    }

    std::uint64_t syndrome_weight(std::size_t lane) const {
        std::uint64_t weight = 0;
        for (std::size_t c = 0; c < checks_; ++c) weight += (check_syndrome(c) >> lane) & 1u;
        return weight;
    }

    // The lanes in which check c is unsatisfied by the posteriors' signs.
    Bits check_syndrome(std::size_t c) const {
        const std::uint16_t* __restrict edge_variables = edge_variables_.data;
        const Bits* __restrict hard_signs = hard_signs_.data;
        Bits unsatisfied = 0;
        for (std::uint32_t e = check_offsets_[c]; e < check_offsets_[c + 1]; ++e)
            unsatisfied = static_cast<Bits>(unsatisfied ^ hard_signs[edge_variables[e]]);
        return unsatisfied;
    }

    const LdpcGraph& graph_;
    LdpcKernel kernel_;
    std::size_t variables_;
    std::size_t checks_;
    AlignedArray<std::uint32_t> check_offsets_;
    AlignedArray<std::uint16_t> edge_variables_;  // 16 bits keep the hot arrays in the cache
    AlignedArray<std::uint8_t> repeats_variable_;
    AlignedArray<std::uint16_t> sum_rows_;  // per edge: the row (posterior or LLR) the variable phase adds its message to
    std::vector<std::uint32_t> isolated_variables_;  // on no edge: the posterior is the LLR
    AlignedArray<float> values_;  // the posteriors' rows, then the LLRs'
    AlignedArray<float> zeros_;   // the input of a lane without a job
    AlignedArray<Bits> hard_signs_;  // per variable: lanes whose posterior is below 0
    AlignedArray<float> minima_;  // per check: W scaled first minima, then W scaled second
    AlignedArray<Position> min1_positions_;  // per check and lane: where in the check the first minimum is
    AlignedArray<Bits> parities_;             // per check: lanes with an odd count of negative inputs
    AlignedArray<Bits> edge_signs_;           // per edge: lanes whose input was below 0
    AlignedArray<Bits> check_signs_;  // per edge of the current check: lanes whose input is below 0
    AlignedArray<float> incoming_;    // per edge of the current check: the layered input
    AlignedArray<Position> positions_;  // 0, 1, 2...: an edge's position in its check, to broadcast
    const CodewordJob* job_[W];
    std::uint64_t iteration_[W];
    bool cleared_[W] = {};
    Bits fresh_ = 0;  // lanes loaded since the last check update
};

}  // namespace qarel::ldpc::lanes
