#include "decoder/diag/failed_variables.hpp"

namespace qarel::diag {

FailedVariableSummary analyze_failed_variables(std::span<const std::uint8_t> hard_bits, const ldpc::LdpcGraph& graph,
                                               const ldpc::FecProfile& profile, std::uint64_t top) {
    FailedVariableSummary summary;
    summary.check_count = graph.check_count();
    for (std::uint64_t v = 0; v < hard_bits.size(); ++v) {
        const bool one = (hard_bits[v] & 1u) != 0;
        summary.full_hard_one_count += one ? 1 : 0;
        summary.transmitted_hard_one_count += one && v >= ldpc::kErasedParityBits ? 1 : 0;
    }
    auto ranking = retry::rank_failed_variables(graph, hard_bits, graph.variable_count);
    summary.unsatisfied_check_count = ranking.unsatisfied_checks;
    for (const auto& failed : ranking.variables) {
        const std::uint64_t v = failed.full_variable_index;
        const auto section = ldpc::classify_variable(profile, v).section;
        summary.section_involvement[static_cast<std::size_t>(section)] += failed.unsatisfied_check_count;
        if (v >= ldpc::kErasedParityBits)
            summary.qam_plane_involvement[ldpc::qam_plane_of_variable(v)] += failed.unsatisfied_check_count;
    }
    if (ranking.variables.size() > top) ranking.variables.resize(top);
    summary.top_variables = std::move(ranking.variables);
    return summary;
}

void write_failed_variable_summary(JsonLine& line, const FailedVariableSummary& s, const ldpc::FecProfile& profile) {
    line.begin_object();
    line.key("available").flag(true);
    line.key("basis").text("final_ldpc_decoder_bits_full_appendix_b_syndrome");
    line.key("fec_rate_index").number(profile.fec_rate);
    line.key("clean_check_count").number(s.check_count);
    line.key("unsatisfied_clean_check_count").number(s.unsatisfied_check_count);
    line.key("syndrome_ratio")
        .real(s.check_count == 0 ? 0.0
                                 : static_cast<double>(s.unsatisfied_check_count) / static_cast<double>(s.check_count));
    line.key("full_hard_one_count").number(s.full_hard_one_count);
    line.key("transmitted_hard_one_count").number(s.transmitted_hard_one_count);
    line.key("qam_plane_involvement_counts").begin_object();
    for (std::size_t plane = 0; plane < s.qam_plane_involvement.size(); ++plane)
        line.key(std::to_string(plane)).number(s.qam_plane_involvement[plane]);
    line.end_object();
    line.key("section_involvement_counts").begin_object();
    for (const auto section : {ldpc::CodewordSection::erased_parity, ldpc::CodewordSection::transmitted_parity,
                               ldpc::CodewordSection::message})
        line.key(ldpc::section_name(section)).number(s.section_involvement[static_cast<std::size_t>(section)]);
    line.end_object();
    line.key("top_variables");
    line.array(std::span<const retry::FailedVariable>(s.top_variables), [&](JsonLine& out, const retry::FailedVariable& f) {
        const std::uint64_t v = f.full_variable_index;
        const bool transmitted = v >= ldpc::kErasedParityBits;
        const auto kind = ldpc::classify_variable(profile, v);
        out.begin_object();
        out.key("full_variable_index").number(v);
        out.key("transmitted_bit_index");
        transmitted ? out.number(v - ldpc::kErasedParityBits) : out.null();
        out.key("section").text(ldpc::section_name(kind.section));
        out.key("section_bit_index").number(kind.section_bit_index);
        out.key("qam_plane");
        transmitted ? out.number(ldpc::qam_plane_of_variable(v)) : out.null();
        out.key("decoded_bit").number(f.decoded_bit);
        out.key("check_degree").number(f.check_degree);
        out.key("satisfied_check_count").number(f.satisfied_check_count);
        out.key("would_reduce_syndrome_if_flipped").flag(f.flip_syndrome_delta < 0);
        out.key("unsatisfied_check_count").number(f.unsatisfied_check_count);
        out.key("flip_syndrome_delta").signed_number(f.flip_syndrome_delta);
        out.end_object();
    });
    line.end_object();
}

}  // namespace qarel::diag
